// Runs the built corvan binary as a user would, in a folder of the test's
// choosing, against the world named by CORVAN_WORLD.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace corvan_test {

struct CorvanRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// %TEMP% of the run is <workingDirectory>/tmp.
CorvanRun RunCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory);

// Waits until the clock has passed the second in which `since` lies: a run
// started in the same second as an earlier one gets its run stamp, and so
// its run folder.
void AfterTheSecondOf(std::time_t since);

// Lines of a text, without their CR LF or LF ends.
std::vector<std::string> Lines(const std::string& text);

// Reads a control-file copy and returns the value of section/key (first match), or "<missing>".
std::string IniValue(const std::filesystem::path& file, const std::string& section, const std::string& key);

}  // namespace corvan_test
