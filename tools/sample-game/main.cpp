// zavo.exe, the stand-in game client. It records how it was started, the arguments and the
// working folder, as JSON in "zavo-launch.json" of its working folder, appends one line to
// "zavo-launches.txt" there (one line per start), and exits 0.
//
// A "zavo.cfg" beside the executable can ask for more, one setting a line:
//   window=1   show a small window until it is closed (or until the wait below ends)
//   wait=N     stay N seconds before exiting

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "JsonText.h"

namespace {

std::string ExecutableFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

std::map<std::string, std::string> ReadSettings() {
    std::map<std::string, std::string> settings;
    std::ifstream in(ExecutableFolder() + "/zavo.cfg");
    for (std::string line; std::getline(in, line);) {
        if (const auto eq = line.find('='); eq != std::string::npos) {
            settings[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return settings;
}

void Record(const std::vector<std::string>& args) {
    char cwd[4096] = {};
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        cwd[0] = '\0';
    }
    std::ostringstream json;
    json << "{\"argv\":[";
    for (size_t i = 0; i < args.size(); ++i) {
        json << (i ? "," : "") << JsonString(args[i]);
    }
    json << "],\"cwd\":" << JsonString(cwd) << ",\"pid\":" << ::getpid() << "}\n";
    std::ofstream("zavo-launch.json", std::ios::trunc) << json.str();
    std::ofstream("zavo-launches.txt", std::ios::app) << ::getpid() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    Record(args);

    const auto settings = ReadSettings();
    const int waitSeconds = settings.contains("wait") ? std::stoi(settings.at("wait")) : 0;
    if (settings.contains("window") && settings.at("window") == "1" && gtk_init_check(&argc, &argv)) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), "Valdrune");
        gtk_window_set_default_size(GTK_WINDOW(window), 480, 270);
        std::string text = "Valdrune is running.\n\n";
        for (const auto& arg : args) {
            text += arg + "\n";
        }
        gtk_container_add(GTK_CONTAINER(window), gtk_label_new(text.c_str()));
        g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
        if (waitSeconds > 0) {
            g_timeout_add_seconds(static_cast<guint>(waitSeconds), [](gpointer) -> gboolean {
                gtk_main_quit();
                return G_SOURCE_REMOVE;
            }, nullptr);
        }
        gtk_widget_show_all(window);
        gtk_main();
        return 0;
    }
    if (waitSeconds > 0) {
        ::sleep(static_cast<unsigned>(waitSeconds));
    }
    return 0;
}
