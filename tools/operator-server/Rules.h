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
    size_t rate = 0;                     // body bytes per second (a trickle below 20); 0 is unlimited
    int times = 0;                       // the rule applies to this many requests; 0 is forever
    int bodyStatus = 0;                  // answer this status with the path's own body (a whole package, say)
    bool endless = false;                // after the body, filler lines without end (no length announced)
    bool crlf = false;                   // the configuration document with CR LF line ends
    bool bom = false;                    // ... and/or led by a UTF-8 byte-order mark
};

// Items separated by commas: status=N, redirect=URL, ignore-ranges, cut=N, stall-after=N,
// stall, rate=N, times=N, status-body=N, endless, crlf, bom. nullopt for anything else.
std::optional<Rule> ParseRule(const std::string& ruleText);

// "bytes=N-" or "bytes=N-M" into {N, M}; nullopt for no header or any other form.
std::optional<std::pair<size_t, std::optional<size_t>>> ParseSingleRange(const std::string& header);
