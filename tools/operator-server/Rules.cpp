#include "Rules.h"

#include <charconv>
#include <sstream>

namespace {

std::optional<size_t> Number(const std::string& text) {
    size_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<Rule> ParseRule(const std::string& ruleText) {
    Rule rule;
    std::istringstream items(ruleText);
    for (std::string item; std::getline(items, item, ',');) {
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        const auto number = Number(value);
        if (key == "ignore-ranges" && eq == std::string::npos) {
            rule.ignoreRanges = true;
        } else if (key == "stall" && eq == std::string::npos) {
            rule.stall = true;
        } else if (key == "endless" && eq == std::string::npos) {
            rule.endless = true;
        } else if (key == "crlf" && eq == std::string::npos) {
            rule.crlf = true;
        } else if (key == "bom" && eq == std::string::npos) {
            rule.bom = true;
        } else if (key == "status-body" && number && *number >= 100 && *number < 600) {
            rule.bodyStatus = static_cast<int>(*number);
        } else if (key == "redirect" && !value.empty()) {
            rule.redirect = value;
        } else if (key == "status" && number && *number >= 100 && *number < 600) {
            rule.status = static_cast<int>(*number);
        } else if (key == "cut" && number) {
            rule.cutAfter = *number;
        } else if (key == "stall-after" && number) {
            rule.cutAfter = *number;
            rule.stallAfterCut = true;
        } else if (key == "rate" && number && *number > 0) {
            rule.rate = *number;
        } else if (key == "times" && number && *number > 0) {
            rule.times = static_cast<int>(*number);
        } else {
            return std::nullopt;
        }
    }
    return rule;
}

std::optional<std::pair<size_t, std::optional<size_t>>> ParseSingleRange(const std::string& header) {
    const std::string prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    const std::string rangeText = header.substr(prefix.size());
    const auto dash = rangeText.find('-');
    if (dash == std::string::npos || rangeText.find(',') != std::string::npos) {
        return std::nullopt;
    }
    const auto first = Number(rangeText.substr(0, dash));
    if (!first) {
        return std::nullopt;
    }
    const std::string lastText = rangeText.substr(dash + 1);
    if (lastText.empty()) {
        return std::pair{*first, std::optional<size_t>()};
    }
    const auto last = Number(lastText);
    if (!last || *last < *first) {
        return std::nullopt;
    }
    return std::pair{*first, std::optional<size_t>(*last)};
}
