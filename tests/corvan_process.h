// Runs the built corvan binary as a user would, in a folder of the test's
// choosing, against the world named by CORVAN_WORLD.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace corvan_test {

struct CorvanRun {
    int exitCode = -1;      // -1 when the run did not end by itself
    bool timedOut = false;  // killed after the time it was given
    std::string out;
    std::string err;
};

// %TEMP% of the run is <workingDirectory>/tmp. A run that has not ended
// after timeoutSeconds is killed.
CorvanRun RunCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory,
                    int timeoutSeconds = 120);
// The same in two halves, for a test that acts while the run goes on.
pid_t StartCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory);
CorvanRun WaitCorvan(pid_t pid, const std::filesystem::path& workingDirectory, int timeoutSeconds = 120);
// The same with a terminal of 100 columns as its standard output and error;
// returns everything written to it.
std::string RunCorvanOnTerminal(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory);

// Lines of a text, without their CR LF or LF ends.
std::vector<std::string> Lines(const std::string& text);

// The entries of every section of that name in a control-file copy, as written.
std::vector<std::string> SectionEntries(const std::filesystem::path& file, const std::string& section);
// The value of section/key in a control-file copy (first match), or "<missing>".
std::string IniValue(const std::filesystem::path& file, const std::string& section, const std::string& key);

}  // namespace corvan_test
