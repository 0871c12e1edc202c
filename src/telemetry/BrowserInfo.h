#pragma once
// What the page engine tells the reports and the request engine about itself. The window
// module sets both once the engine is known; without an engine the version is 0 and the user
// agent empty.

#include <functional>
#include <string>

namespace BrowserInfo {

// The page engine's major version, sent as "ie_version". Called from any thread.
void SetVersionProvider(std::function<int()> provider);
int Version();

// The user agent that every new CHttpRequestParams starts with: the engine's default one.
void SetDefaultUserAgent(std::string userAgent);
std::string DefaultUserAgent();

}  // namespace BrowserInfo
