#pragma once
// The proxy a request without one of its own goes through: the one libcurl takes from the
// environment for the update's transfers, so that reports reach the operator wherever the
// update does. The decision is made here, once, and handed to libcurl explicitly: the engine
// connects to the first hop itself before libcurl sends anything, so both must agree.

#include <functional>
#include <optional>
#include <string>

namespace inner {

// Answers a variable's value; nullopt when it is unset or empty.
using VariableLookup = std::function<std::optional<std::string>(const char* name)>;

// The proxy text for a request to host (brackets kept around an IPv6 address) by scheme
// ("http" or "https"), or empty for a direct connection. As libcurl reads the environment:
// "<scheme>_proxy", where only https also has an upper-case form (an upper-case HTTP_PROXY may
// be set by a web server's CGI environment and is never taken), then all_proxy or ALL_PROXY;
// no_proxy (else NO_PROXY) lists hosts reached directly: "*" for all, names matching
// themselves and every name below them, addresses with an optional "/bits" range.
std::string ProxyFromEnvironment(const std::string& scheme, const std::string& host,
                                 const VariableLookup& variable);

// True when host is one of no_proxy's entries (separated by commas or blanks).
bool NoProxyMatches(const std::string& host, const std::string& noProxy);

// Where a proxy text leads: its host (brackets kept) and port; without a port, libcurl's
// default (443 for an https proxy, 1080 for every other kind). An empty host when the text
// cannot be read.
struct CProxyHop {
    std::string host;
    int port = 0;
};
CProxyHop ProxyHop(const std::string& proxy);

}  // namespace inner
