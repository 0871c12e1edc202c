// The operator server as a child process of the test, asked over cpp-httplib.

#include <httplib.h>

#include <regex>
#include <stdexcept>
#include <thread>

#include "ChildProcess.h"
#include "OperatorServer.h"

namespace testing_support {

struct OperatorServer::Process {
    std::unique_ptr<ChildProcess> child;
};

int OperatorServer::Start(const std::vector<std::string>& arguments, int port) {
    m_process = std::make_shared<Process>();
    ChildProcess::Options options;
    options.argv = {VALDRUNE_OPERATOR_SERVER, "--port", std::to_string(port)};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.env = {{"PATH", "/usr/bin:/bin"}};
    options.endsWithTest = true;
    const std::regex ready(R"(listening on 127\.0\.0\.1:(\d+))");
    std::smatch m;
    auto& child = m_process->child;
    const auto start = [&] {
        child = std::make_unique<ChildProcess>(options);
        return WaitFor([&] {
            const std::string out = child->Stdout();
            return std::regex_search(out, m, ready) || !child->Running();
        });
    };
    bool up = start();
    // The origin port is shared by every launcher test, also those of other checkouts on the
    // same machine; wait for it to be free rather than fail at once.
    if (port != 0) {
        WaitFor(
            [&] {
                if (child->Running() || child->Stderr().find("cannot listen") == std::string::npos) {
                    return true;
                }
                std::this_thread::sleep_for(100ms);  // a few attempts a second, not a storm of them
                up = start();
                return false;
            },
            120s);
    }
    const std::string out = child->Stdout();
    if (!up || !std::regex_search(out, m, ready)) {
        throw std::runtime_error("operator-server did not start: " + child->Stderr());
    }
    return std::stoi(m[1]);
}

OperatorServer::~OperatorServer() = default;

std::string OperatorServer::Control(const std::string& method, const std::string& target) const {
    httplib::Client client("127.0.0.1", m_port);
    auto result = method == "POST" ? client.Post(target.c_str(), "", "text/plain") : client.Get(target.c_str());
    if (!result || result->status != 200) {
        throw std::runtime_error("operator-server refused " + target);
    }
    return result->body;
}

}  // namespace testing_support
