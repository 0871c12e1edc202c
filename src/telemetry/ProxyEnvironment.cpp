#include "telemetry/ProxyEnvironment.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace inner {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// An IPv4 or IPv6 address as bytes (4 or 16 of them); empty for a name.
std::string AddressBytes(const std::string& text) {
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        return std::string(reinterpret_cast<char*>(bytes), 4);
    }
    if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        return std::string(reinterpret_cast<char*>(bytes), 16);
    }
    return {};
}

// "address" or "address/bits" against an address's bytes; no bits (or 0) asks for all of them.
bool AddressInRange(const std::string& address, std::string_view entry) {
    unsigned bits = 0;
    if (const auto slash = entry.find('/'); slash != std::string_view::npos) {
        bits = static_cast<unsigned>(std::atoi(std::string(entry.substr(slash + 1)).c_str()));
        entry = entry.substr(0, slash);
    }
    const std::string network = AddressBytes(std::string(entry));
    if (network.size() != address.size() || bits > address.size() * 8) {
        return false;
    }
    if (bits == 0) {
        bits = static_cast<unsigned>(address.size() * 8);
    }
    for (size_t i = 0; bits > 0; ++i) {
        const unsigned take = bits >= 8 ? 8 : bits;
        const auto mask = static_cast<unsigned char>(0xFF << (8 - take));
        if (((static_cast<unsigned char>(address[i]) ^ static_cast<unsigned char>(network[i])) & mask) != 0) {
            return false;
        }
        bits -= take;
    }
    return true;
}

bool NameMatches(std::string_view name, std::string_view entry) {
    if (!entry.empty() && entry.back() == '.') {
        entry.remove_suffix(1);
    }
    if (!entry.empty() && entry.front() == '.') {
        entry.remove_prefix(1);
    }
    if (entry.empty() || entry.size() > name.size()) {
        return false;
    }
    // example.com covers example.com and www.example.com, never nonexample.com.
    const std::string_view tail = name.substr(name.size() - entry.size());
    return EqualsIgnoringCase(tail, entry) &&
           (name.size() == entry.size() || name[name.size() - entry.size() - 1] == '.');
}

}  // namespace

bool NoProxyMatches(const std::string& host, const std::string& noProxy) {
    if (host.empty() || noProxy.empty()) {
        return false;
    }
    if (noProxy == "*") {
        return true;
    }
    std::string name = host;
    if (name.front() == '[') {
        name = name.substr(1, name.find(']') - 1);
    } else if (name.back() == '.') {
        name.pop_back();
    }
    const std::string address = AddressBytes(name);
    size_t start = 0;
    while (start < noProxy.size()) {
        const size_t end = std::min(noProxy.find_first_of(", \t", start), noProxy.size());
        const std::string_view entry = std::string_view(noProxy).substr(start, end - start);
        if (!entry.empty() && (address.empty() ? NameMatches(name, entry) : AddressInRange(address, entry))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string ProxyFromEnvironment(const std::string& scheme, const std::string& host,
                                 const VariableLookup& variable) {
    if (scheme != "http" && scheme != "https") {
        return {};
    }
    auto noProxy = variable("no_proxy");
    if (!noProxy) {
        noProxy = variable("NO_PROXY");
    }
    if (noProxy && NoProxyMatches(host, *noProxy)) {
        return {};
    }
    auto proxy = variable(scheme == "https" ? "https_proxy" : "http_proxy");
    if (!proxy && scheme == "https") {
        proxy = variable("HTTPS_PROXY");
    }
    if (!proxy) {
        proxy = variable("all_proxy");
    }
    if (!proxy) {
        proxy = variable("ALL_PROXY");
    }
    return proxy.value_or("");
}

CProxyHop ProxyHop(const std::string& proxy) {
    CProxyHop hop;
    // Without a scheme libcurl takes the text as an HTTP proxy.
    const std::string text = proxy.find("://") == std::string::npos ? "http://" + proxy : proxy;
    CURLU* url = curl_url();
    if (url == nullptr) {
        return hop;
    }
    char* host = nullptr;
    char* scheme = nullptr;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
        hop.host = host;
        char* port = nullptr;
        if (curl_url_get(url, CURLUPART_PORT, &port, 0) == CURLUE_OK) {
            hop.port = std::atoi(port);
            curl_free(port);
        } else {
            hop.port = EqualsIgnoringCase(scheme, "https") ? 443 : 1080;
        }
    }
    curl_free(host);
    curl_free(scheme);
    curl_url_cleanup(url);
    return hop;
}

}  // namespace inner
