#pragma once
// What every fuzz target shares: a quiet process (no log file growing with every input, no
// message box on the console, no reports), a private scratch folder, and the check that turns a
// broken promise into a crash libFuzzer keeps the input of.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzzing {

// Once per process, before the first input: the log drops its lines, boxes are counted and
// never shown, reports go nowhere.
void QuietProcess();

// Boxes the code under test asked for since the process started.
std::size_t MessageBoxesShown();

// A fresh folder of this process's own below $TMPDIR (or /tmp), made on first use and removed
// with everything in it when the process exits.
const std::string& ScratchFolder();

// Removes everything below folder, keeping folder itself.
void EmptyFolder(const std::string& folder);

void WriteFile(const std::string& path, std::string_view content);

// Aborts with the message when condition is false: the sanitizer runtime reports it as a crash
// and libFuzzer saves the input that led here.
void Check(bool condition, const char* what);

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzzing
