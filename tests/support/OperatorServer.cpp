#include "OperatorServer.h"

#include "core/OperatorOrigin.h"

#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>

namespace testing_support {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string EscapeQueryValue(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

int OperatorServer::OriginPort() {
    std::smatch m;
    static const std::string origin = VALDRUNE_OPERATOR_ORIGIN;
    if (!std::regex_search(origin, m, std::regex(R"(:(\d+)$)"))) {
        return 80;
    }
    return std::stoi(m[1]);
}

OperatorServer::OperatorServer(int port, std::vector<std::string> extraArgs)
    : m_config(m_dir.path() + "/config.txt"),
      m_files(m_dir.path() + "/files"),
      m_www(m_dir.path() + "/www"),
      m_reports(m_dir.path() + "/reports.jsonl") {
    MakeDirs(m_files);
    MakeDirs(m_www);
    std::vector<std::string> arguments = {"--config", m_config, "--files", m_files,
                                          "--www",    m_www,    "--reports", m_reports};
    arguments.insert(arguments.end(), extraArgs.begin(), extraArgs.end());
    m_port = Start(arguments, port);
}



std::string OperatorServer::Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

std::string OperatorServer::ConfigUrl() const {
    return Url("/api/morvast/ditches/drevoline/client_config_drevoline.php");
}

void OperatorServer::SetConfig(const std::string& document) {
    const std::string temp = m_config + ".new";
    WriteFile(temp, document);
    std::filesystem::rename(temp, m_config);  // never served half-written
}

void OperatorServer::RemoveConfig() { std::filesystem::remove(m_config); }

void OperatorServer::SetRule(const std::string& path, const std::string& ruleText) {
    Control("POST", "/_control/rule?path=" + EscapeQueryValue(path) + "&text=" + EscapeQueryValue(ruleText));
}

void OperatorServer::ClearRules() { Control("POST", "/_control/clear"); }

std::vector<std::string> OperatorServer::Requests() const {
    std::vector<std::string> requests;
    for (auto& line : SplitLines(Control("GET", "/_control/requests"))) {
        if (line.find(" /_control/") == std::string::npos) {
            requests.push_back(std::move(line));
        }
    }
    return requests;
}

std::vector<std::string> OperatorServer::ReportLines() const { return SplitLines(ReadFile(m_reports)); }

std::vector<std::string> OperatorServer::ReportQueries(const std::string& path) const {
    std::vector<std::string> queries;
    const std::regex shape(R"re(^\{"path":"([^"]*)","query":"((?:[^"\\]|\\.)*)")re");
    for (const auto& line : ReportLines()) {
        std::smatch m;
        if (std::regex_search(line, m, shape) && m[1] == path) {
            queries.push_back(m[2]);
        }
    }
    return queries;
}

}  // namespace testing_support
