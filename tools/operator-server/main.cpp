// operator-server: a stand-in for the operator's management server, on 127.0.0.1 only, for
// the demo and the tests. It answers the configuration document, serves game packages with
// byte ranges, records reports as JSON lines and serves the channel's page. Rules make a path
// misbehave on purpose (status, redirect, ignored ranges, a cut or stalled body, a slow rate, an
// error status over a real body, a body without end, a document saved on Windows).
//
//   operator-server [--port N] [--config FILE] [--files DIR] [--www DIR] [--reports FILE]
//                   [--rule PATH RULE]...
//
// Below /www/ it serves --www, by default the demo login page that comes with this tool
// (www/login.html). The page checks the player's name and password with POST /api/login
// (form fields name and password; the demo account is any name with the password "valdrune"),
// which answers {"ok":true,"token":"<32 hex digits>"} or, with status 401 or 400,
// {"ok":false,"message":"..."}.
//
// Prints "operator-server listening on 127.0.0.1:<port>" once it accepts connections and ends
// on SIGTERM or SIGINT. Rules can also be changed while it runs:
//   POST /_control/rule?path=P&text=S   POST /_control/clear   GET /_control/requests

#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JsonText.h"
#include "Rules.h"

namespace {

// The rule taken for the request this pool thread is answering (routing, then the handler).
thread_local Rule t_rule;

constexpr const char* kConfigPath = "/api/morvast/ditches/drevoline/client_config_drevoline.php";
constexpr const char* kInfoPath = "/api/laucher_info.php";
constexpr const char* kErrorPath = "/api/laucher_error.php";
constexpr const char* kLoginPath = "/api/login";
constexpr const char* kDemoPassword = "valdrune";
constexpr size_t kMaxNameBytes = 64;

struct Options {
    int port = 0;
    std::string config;
    std::string files;
    std::string www = VALDRUNE_DEMO_WWW_DIR;
    std::string reports;
    std::vector<std::pair<std::string, std::string>> rules;
};

// Everything the handlers share. Handlers run on the server's pool threads.
class State {
public:
    explicit State(Options options) : m_options(std::move(options)) {
        for (const auto& [path, ruleText] : m_options.rules) {
            SetRule(path, ruleText);
        }
    }

    const Options& options() const { return m_options; }

    bool SetRule(const std::string& path, const std::string& ruleText) {
        auto rule = ParseRule(ruleText);
        if (!rule) {
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_rules[path] = *rule;
        m_wake.notify_all();  // a rule change releases stalled answers
        ++m_generation;
        return true;
    }

    void ClearRules() {
        std::lock_guard lock(m_mutex);
        m_rules.clear();
        ++m_generation;
        m_wake.notify_all();
    }

    // The rule for this request, counting it against the rule's "times" budget.
    std::optional<Rule> TakeRule(const std::string& path) {
        std::lock_guard lock(m_mutex);
        auto it = m_rules.find(path);
        if (it == m_rules.end()) {
            return std::nullopt;
        }
        Rule rule = it->second;
        if (it->second.times > 0 && --it->second.times == 0) {
            m_rules.erase(it);
        }
        return rule;
    }

    void Record(const httplib::Request& req) {
        std::lock_guard lock(m_mutex);
        const std::string range = req.has_header("Range") ? req.get_header_value("Range") : "-";
        m_requests.push_back(req.method + " " + req.target + " range=" + range);
    }

    std::string Requests() {
        std::lock_guard lock(m_mutex);
        std::string out;
        for (const auto& line : m_requests) {
            out += line + "\n";
        }
        return out;
    }

    void AppendReport(const std::string& line) {
        std::lock_guard lock(m_mutex);
        std::ofstream out(m_options.reports, std::ios::app | std::ios::binary);
        out << line << '\n';
    }

    // Blocks until the server stops or the rules change; false once stopping.
    void Stall() {
        std::unique_lock lock(m_mutex);
        const auto generation = m_generation;
        m_wake.wait(lock, [&] { return m_stopping || m_generation != generation; });
    }

    void Stop() {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
    }

private:
    Options m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, Rule> m_rules;
    std::vector<std::string> m_requests;
    unsigned long m_generation = 0;
    bool m_stopping = false;
};

// One report as a JSON line: the path, the raw query exactly as sent, and the User-Agent.
std::string ReportLine(const httplib::Request& req) {
    const auto question = req.target.find('?');
    const std::string query = question == std::string::npos ? "" : req.target.substr(question + 1);
    return "{\"path\":\"" + JsonEscape(req.path) + "\",\"query\":\"" + JsonEscape(query) + "\",\"user_agent\":\"" +
           JsonEscape(req.get_header_value("User-Agent")) + "\"}";
}

// A fresh login token: 32 hex digits, safe to pass on a command line as it is.
std::string NewToken() {
    static std::mutex mutex;  // handlers run on pool threads
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    char token[33];
    std::snprintf(token, sizeof token, "%016llx%016llx", static_cast<unsigned long long>(engine()),
                  static_cast<unsigned long long>(engine()));
    return token;
}

// The demo account check behind the login page.
void AnswerLogin(const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.get_param_value("name");
    const std::string password = req.get_param_value("password");
    if (name.empty() || name.size() > kMaxNameBytes || !req.has_param("password")) {
        res.status = 400;
        res.set_content(R"({"ok":false,"message":"请输入账号和密码 / Enter your account and password"})",
                        "application/json");
        return;
    }
    if (password != kDemoPassword) {
        res.status = 401;
        res.set_content(R"({"ok":false,"message":"账号或密码错误 / Wrong account or password"})", "application/json");
        return;
    }
    res.set_content("{\"ok\":true,\"token\":\"" + NewToken() + "\"}", "application/json");
}

std::optional<std::string> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A body source: either text held in memory or a file read as it is sent.
struct Body {
    std::string text;
    std::string file;
    size_t size = 0;

    bool Read(size_t offset, char* buffer, size_t length) const {
        if (file.empty()) {
            std::copy_n(text.data() + offset, length, buffer);
            return true;
        }
        std::ifstream in(file, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(buffer, static_cast<std::streamsize>(length));
        return static_cast<size_t>(in.gcount()) == length;
    }
};

// Answers req with body, honouring a single "bytes=N-[M]" range unless the rule ignores it,
// and applying the rule's cut, stall-after and rate.
void SendBody(State& state, const httplib::Request& req, httplib::Response& res, Body body,
              const std::string& contentType, const Rule& rule) {
    // The library would slice the body again for the range; this server answers ranges itself.
    const_cast<httplib::Request&>(req).ranges.clear();
    if (rule.endless) {
        // The body, then "PadN=..." lines for as long as the client reads, no length announced.
        auto shared = std::make_shared<Body>(std::move(body));
        res.set_chunked_content_provider(contentType, [shared](size_t offset, httplib::DataSink& sink) {
            static const std::string filler = [] {
                std::string lines;
                for (int i = 0; lines.size() < 64 * 1024; ++i) {
                    lines += "Pad" + std::to_string(i) + "=" + std::string(100, 'x') + "\n";
                }
                return lines;
            }();
            if (offset < shared->size) {
                std::string head(shared->size, '\0');
                return shared->Read(0, head.data(), head.size()) && sink.write(head.data(), head.size());
            }
            return sink.write(filler.data(), filler.size());
        });
        return;
    }
    if (rule.bodyStatus != 0) {
        // An error answer whose body looks like what was asked for.
        res.status = rule.bodyStatus;
        res.set_content(body.file.empty() ? body.text : ReadWhole(body.file).value_or(""), contentType);
        return;
    }
    size_t start = 0;
    size_t length = body.size;
    res.status = 200;
    if (auto range = ParseSingleRange(req.get_header_value("Range")); range && !rule.ignoreRanges) {
        if (range->first >= body.size) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(body.size));
            return;
        }
        start = range->first;
        const size_t last = std::min(range->second.value_or(body.size - 1), body.size - 1);
        length = last - start + 1;
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(last) + "/" +
                                            std::to_string(body.size));
    }
    res.set_header("Accept-Ranges", "bytes");
    if (length == 0) {
        res.set_content("", contentType);  // a provider of nothing would leave the length unsaid
        return;
    }
    auto shared = std::make_shared<Body>(std::move(body));
    res.set_content_provider(
        length, contentType, [&state, shared, start, rule](size_t offset, size_t want, httplib::DataSink& sink) {
            constexpr size_t kChunk = 64 * 1024;
            std::vector<char> buffer(std::min(want, kChunk));
            size_t chunk = buffer.size();
            if (rule.cutAfter) {
                if (offset >= *rule.cutAfter) {
                    if (rule.stallAfterCut) {
                        state.Stall();
                    }
                    return false;  // closes the connection short of the announced length
                }
                chunk = std::min(chunk, *rule.cutAfter - offset);
            }
            if (rule.rate > 0) {
                chunk = std::min<size_t>(chunk, std::max<size_t>(1, rule.rate / 20));
                std::this_thread::sleep_for(std::chrono::milliseconds(1000 * chunk / rule.rate));
            }
            if (!shared->Read(start + offset, buffer.data(), chunk)) {
                return false;
            }
            return sink.write(buffer.data(), chunk);
        });
}

// Applies the rules that replace the answer altogether; true when the request is answered.
bool ApplyShortcutRule(State& state, const Rule& rule, httplib::Response& res) {
    if (rule.stall) {
        state.Stall();
        res.status = 503;
        return true;
    }
    if (!rule.redirect.empty()) {
        res.set_redirect(rule.redirect, rule.status ? rule.status : 302);
        return true;
    }
    if (rule.status) {
        res.status = rule.status;
        res.set_content("rule status\n", "text/plain");
        return true;
    }
    return false;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            return i + 1 < argc ? std::optional<std::string>(argv[++i]) : std::nullopt;
        };
        std::optional<std::string> v;
        if (arg == "--port" && (v = value())) {
            options.port = std::stoi(*v);
        } else if (arg == "--config" && (v = value())) {
            options.config = *v;
        } else if (arg == "--files" && (v = value())) {
            options.files = *v;
        } else if (arg == "--www" && (v = value())) {
            options.www = *v;
        } else if (arg == "--reports" && (v = value())) {
            options.reports = *v;
        } else if (arg == "--rule" && i + 2 < argc) {
            options.rules.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
        } else {
            std::cerr << "operator-server: unknown or incomplete argument " << arg << "\n";
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    auto options = ParseArguments(argc, argv);
    if (!options) {
        return 2;
    }
    for (const auto& [path, ruleText] : options->rules) {
        if (!ParseRule(ruleText)) {
            std::cerr << "operator-server: bad rule " << ruleText << " for " << path << "\n";
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    State state(*options);
    httplib::Server server;
    // Stalled answers hold a thread each; leave plenty for the requests that follow them.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    // The library's default SO_REUSEPORT would let a second server share a port that is in use
    // and receive some of its requests; a fixed port must be this server's alone.
    server.set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        state.Record(req);
        if (req.path.rfind("/_control/", 0) == 0) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        t_rule = state.TakeRule(req.path).value_or(Rule{});
        return ApplyShortcutRule(state, t_rule, res) ? httplib::Server::HandlerResponse::Handled
                                                     : httplib::Server::HandlerResponse::Unhandled;
    });

    server.Get(kConfigPath, [&](const httplib::Request& req, httplib::Response& res) {
        auto text = ReadWhole(state.options().config);
        if (!text) {
            res.status = 404;
            return;
        }
        if (t_rule.crlf) {
            for (size_t at = text->find('\n'); at != std::string::npos; at = text->find('\n', at + 2)) {
                text->insert(at, "\r");
            }
        }
        if (t_rule.bom) {
            text->insert(0, "\xEF\xBB\xBF");
        }
        SendBody(state, req, res, Body{*text, {}, text->size()}, "text/plain", t_rule);
    });

    for (const char* reportPath : {kInfoPath, kErrorPath}) {
        server.Get(reportPath, [&](const httplib::Request& req, httplib::Response& res) {
            if (!state.options().reports.empty()) {
                state.AppendReport(ReportLine(req));
            }
            res.set_content("ok\n", "text/plain");
        });
    }

    server.Post(kLoginPath, AnswerLogin);

    server.Get(R"(/files/([A-Za-z0-9._\-]+))", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string file = state.options().files + "/" + req.matches[1].str();
        std::ifstream probe(file, std::ios::binary | std::ios::ate);
        if (state.options().files.empty() || !probe) {
            res.status = 404;
            return;
        }
        SendBody(state, req, res, Body{{}, file, static_cast<size_t>(probe.tellg())}, "application/zip", t_rule);
    });

    if (!options->www.empty()) {
        server.set_mount_point("/www", options->www);
    }

    server.Post("/_control/rule", [&](const httplib::Request& req, httplib::Response& res) {
        const bool ok = state.SetRule(req.get_param_value("path"), req.get_param_value("text"));
        res.status = ok ? 200 : 400;
        res.set_content(ok ? "ok\n" : "bad rule\n", "text/plain");
    });
    server.Post("/_control/clear", [&](const httplib::Request&, httplib::Response& res) {
        state.ClearRules();
        res.set_content("ok\n", "text/plain");
    });
    server.Get("/_control/requests", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(state.Requests(), "text/plain");
    });

    const int port = options->port == 0 ? server.bind_to_any_port("127.0.0.1") : options->port;
    if (options->port != 0 && !server.bind_to_port("127.0.0.1", port)) {
        std::cerr << "operator-server: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    if (port <= 0) {
        std::cerr << "operator-server: cannot listen on 127.0.0.1\n";
        return 1;
    }

    std::atomic<bool> signalled{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        signalled = true;
        state.Stop();
        server.stop();
    });
    std::thread announcer([&] {
        while (!server.is_running() && !signalled) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::printf("operator-server listening on 127.0.0.1:%d\n", port);
        std::fflush(stdout);
    });
    server.listen_after_bind();
    announcer.join();
    if (!signalled) {
        pthread_kill(stopper.native_handle(), SIGTERM);  // listening failed: wake the signal thread
    }
    stopper.join();
    return 0;
}
