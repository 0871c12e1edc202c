#pragma once
// tools/operator-server started for one test: a loopback stand-in for the operator's server
// with its configuration document, package folder and report file in a private folder. It is
// a Linux program also for the Windows tests, which run under Wine and reach it on 127.0.0.1.

#include <memory>
#include <string>
#include <vector>

#include "TempHome.h"

namespace testing_support {

class OperatorServer {
public:
    // port 0 picks a free port. Tests that run the launcher executable need the port its build
    // was configured with (OriginPort()) and take the "operator_port" resource lock.
    explicit OperatorServer(int port = 0, std::vector<std::string> extraArgs = {});
    ~OperatorServer();  // kills the server at once; nothing of it needs a graceful end

    static int OriginPort();  // the port in VALDRUNE_OPERATOR_ORIGIN

    int port() const { return m_port; }
    std::string Origin() const;                          // "http://127.0.0.1:<port>"
    std::string Url(const std::string& path) const { return Origin() + path; }
    std::string ConfigUrl() const;                       // the configuration document's address
    std::string PackageUrl(const std::string& name = "zavo.zip") const { return Url("/files/" + name); }

    void SetConfig(const std::string& document);         // served from now on
    void RemoveConfig();                                 // the configuration path answers 404
    const std::string& FilesDir() const { return m_files; }  // served below /files/
    const std::string& WwwDir() const { return m_www; }      // served below /www/

    // Makes a path misbehave (see tools/operator-server/Rules.h for the forms of a rule).
    void SetRule(const std::string& path, const std::string& ruleText);
    void ClearRules();

    // "METHOD target range=<Range header or ->" for every request seen so far.
    std::vector<std::string> Requests() const;
    // The report requests received so far, one JSON line each.
    std::vector<std::string> ReportLines() const;
    // The raw query texts of the received reports whose path is path.
    std::vector<std::string> ReportQueries(const std::string& path) const;

private:
    // How the server runs on this system: a child process here, a Linux process started
    // through Wine for the Windows tests (OperatorServerPosix.cpp, OperatorServerWine.cpp).
    struct Process;
    // Starts the server with these arguments (paths as the test sees them) and answers the port
    // it listens on; throws when it does not start.
    int Start(const std::vector<std::string>& arguments, int port);
    std::string Control(const std::string& method, const std::string& target) const;

    TempDir m_dir;
    std::string m_config;
    std::string m_files;
    std::string m_www;
    std::string m_reports;
    std::shared_ptr<Process> m_process;  // made where Process is known
    int m_port = 0;
};

// Percent-escapes everything but letters, digits and "-._~" (for control query values).
std::string EscapeQueryValue(const std::string& text);
// Turns every "%XX" back into its byte, as the server's request records keep them escaped.
std::string PercentDecoded(const std::string& text);

}  // namespace testing_support
