#pragma once
// What the sample game (tools/sample-game) wrote about its start in "zavo-launch.json" of its
// working folder: {"argv":[...],"cwd":"...","pid":N}.

#include <string>
#include <vector>

namespace testing_support {

struct SampleGameRecord {
    std::vector<std::string> argv;
    std::string cwd;
    int pid = 0;  // 0: no record (yet)
};

// The record in file path; an empty record when the file is missing or not complete.
SampleGameRecord ReadSampleGameRecord(const std::string& path);

}  // namespace testing_support
