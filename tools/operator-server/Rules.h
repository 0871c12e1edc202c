#pragma once
// How a path misbehaves, parsed from a text such as "cut=4096,times=1" or "redirect=/b".

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

struct Rule {
    int status = 0;                      // answer this status with a short body (or use it for the redirect)
    std::string redirect;                // answer a redirect to this address
    bool ignoreRanges = false;           // answer 200 with the whole body even when a range is asked
    std::optional<size_t> cutAfter;      // close the connection after this many body bytes
    bool stallAfterCut = false;          // ... but first hold the connection until the rules change
    bool stall = false;                  // accept the request and never answer it
    size_t rate = 0;                     // body bytes per second; 0 is unlimited
    int times = 0;                       // the rule applies to this many requests; 0 is forever
};

// Items separated by commas: status=N, redirect=URL, ignore-ranges, cut=N, stall-after=N,
// stall, rate=N, times=N. nullopt for anything else.
std::optional<Rule> ParseRule(const std::string& ruleText);

// "bytes=N-" or "bytes=N-M" into {N, M}; nullopt for no header or any other form.
std::optional<std::pair<size_t, std::optional<size_t>>> ParseSingleRange(const std::string& header);
