// zavo.exe, the stand-in game client. It records how it was started, the arguments and the
// working folder, as JSON in "zavo-launch.json" of its working folder, appends one line to
// "zavo-launches.txt" there (one line per start), and exits 0.
//
// One source, two programs: a Linux one (GTK) and a Windows one (mingw-w64, run through Wine).
// The Windows one records its command line as Windows splits it (CommandLineToArgvW) and its
// working folder as Windows names it (Z:\...), both as UTF-8, and its Windows process id.
//
// A "zavo.cfg" beside the executable can ask for more, one setting a line:
//   window=1   show a small window until it is closed (or until the wait below ends)
//   wait=N     stay N seconds before exiting

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <gtk/gtk.h>
#include <unistd.h>
#endif

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "JsonText.h"

namespace {

#ifdef _WIN32

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::wstring Wide(const std::string& utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<size_t>(size) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::vector<std::string> CommandLine(int, char**) {
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; split != nullptr && i < count; ++i) {
        args.push_back(Utf8(split[i]));
    }
    LocalFree(split);
    return args;
}

std::string WorkingFolder() {
    wchar_t folder[4096] = {};
    return GetCurrentDirectoryW(4096, folder) > 0 ? Utf8(folder) : std::string();
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

std::string SettingsText() {
    wchar_t exe[4096] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, 4096);
    std::wstring path(exe, n);
    path = path.substr(0, path.rfind(L'\\') + 1) + L"zavo.cfg";
    std::ifstream in(path.c_str());  // the wide name: the folder may have any letters
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Pause(int seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); }

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER: DestroyWindow(window); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// False when no window can be made (Wine without a display).
bool ShowWindowWith(const std::string& text, int waitSeconds, int&, char**&) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"Valdrune";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"Valdrune", L"Valdrune", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  480, 270, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return false;
    }
    CreateWindowExW(0, L"STATIC", Wide(text).c_str(), WS_CHILD | WS_VISIBLE, 12, 12, 440, 200, window, nullptr,
                    instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    if (waitSeconds > 0) {
        SetTimer(window, 1, static_cast<UINT>(waitSeconds) * 1000, nullptr);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

#else

std::vector<std::string> CommandLine(int argc, char** argv) { return {argv, argv + argc}; }

std::string WorkingFolder() {
    char cwd[4096] = {};
    return ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
}

long ProcessId() { return static_cast<long>(::getpid()); }

std::string SettingsText() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe = n > 0 ? std::string(path, static_cast<size_t>(n)) : "./zavo.exe";
    std::ifstream in(exe.substr(0, exe.rfind('/')) + "/zavo.cfg");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Pause(int seconds) { ::sleep(static_cast<unsigned>(seconds)); }

// False when no window can be made (no display).
bool ShowWindowWith(const std::string& text, int waitSeconds, int& argc, char**& argv) {
    if (!gtk_init_check(&argc, &argv)) {
        return false;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Valdrune");
    gtk_window_set_default_size(GTK_WINDOW(window), 480, 270);
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
    return true;
}

#endif

std::map<std::string, std::string> ReadSettings() {
    std::map<std::string, std::string> settings;
    std::istringstream in(SettingsText());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (const auto eq = line.find('='); eq != std::string::npos) {
            settings[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return settings;
}

void Record(const std::vector<std::string>& args) {
    std::ostringstream json;
    json << "{\"argv\":[";
    for (size_t i = 0; i < args.size(); ++i) {
        json << (i ? "," : "") << JsonString(args[i]);
    }
    json << "],\"cwd\":" << JsonString(WorkingFolder()) << ",\"pid\":" << ProcessId() << "}\n";
    std::ofstream("zavo-launch.json", std::ios::trunc | std::ios::binary) << json.str();
    std::ofstream("zavo-launches.txt", std::ios::app | std::ios::binary) << ProcessId() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = CommandLine(argc, argv);
    Record(args);

    const auto settings = ReadSettings();
    const int waitSeconds = settings.contains("wait") ? std::stoi(settings.at("wait")) : 0;
    if (settings.contains("window") && settings.at("window") == "1") {
        std::string text = "Valdrune is running.\n\n";
        for (const auto& arg : args) {
            text += arg + "\n";
        }
        if (ShowWindowWith(text, waitSeconds, argc, argv)) {
            return 0;
        }
    }
    if (waitSeconds > 0) {
        Pause(waitSeconds);
    }
    return 0;
}
