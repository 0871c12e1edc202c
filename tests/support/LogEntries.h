#pragma once
// Reading a launcher log the way tests compare it: without the time and the source line.

#include <string>
#include <vector>

namespace testing_support {

// "[time][LEVEL][function::line] message" lines as "[LEVEL][function] message"; a message that
// held a line feed keeps it.
std::vector<std::string> LogEntries(const std::string& logText);

// True when every piece occurs in text, each after the end of the one before.
bool ContainsInOrder(const std::string& text, const std::vector<std::string>& pieces);

}  // namespace testing_support
