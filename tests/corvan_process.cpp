#include "tests/corvan_process.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "core/test_support.h"

namespace corvan_test {

namespace {

// In the child: becomes corvan, in the working directory.
[[noreturn]] void ExecCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory) {
    if (chdir(workingDirectory.c_str()) != 0) _exit(126);
    // The default locations live in %TEMP%: keep them inside the test's folder.
    std::filesystem::path temp = workingDirectory / "tmp";
    std::error_code ec;
    std::filesystem::create_directories(temp, ec);
    setenv("TMPDIR", temp.c_str(), 1);
    setenv("TEMP", temp.c_str(), 1);
    setenv("TMP", temp.c_str(), 1);
    std::vector<std::string> argv = {CORVAN_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    execv(pointers[0], pointers.data());
    _exit(127);
}

}  // namespace

pid_t StartCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory) {
    std::filesystem::path outFile = workingDirectory / ".corvan-stdout";
    std::filesystem::path errFile = workingDirectory / ".corvan-stderr";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        ExecCorvan(args, workingDirectory);
    }
    return pid;
}

CorvanRun WaitCorvan(pid_t pid, const std::filesystem::path& workingDirectory, int timeoutSeconds) {
    CorvanRun run;
    int status = 0;
    for (int waited = 0; pid > 0;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
            break;
        }
        if (done < 0) break;
        if (waited >= timeoutSeconds * 100) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.timedOut = true;
            break;
        }
        usleep(10000);
        ++waited;
    }
    run.out = ReadBytes(workingDirectory / ".corvan-stdout");
    run.err = ReadBytes(workingDirectory / ".corvan-stderr");
    std::filesystem::remove(workingDirectory / ".corvan-stdout");
    std::filesystem::remove(workingDirectory / ".corvan-stderr");
    return run;
}

CorvanRun RunCorvan(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory,
                    int timeoutSeconds) {
    return WaitCorvan(StartCorvan(args, workingDirectory), workingDirectory, timeoutSeconds);
}

std::string RunCorvanOnTerminal(const std::vector<std::string>& args, const std::filesystem::path& workingDirectory) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 100;
    int terminal = -1;
    pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) ExecCorvan(args, workingDirectory);
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // the terminal closes with the run
        out.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SectionEntries(const std::filesystem::path& file, const std::string& section) {
    std::vector<std::string> entries;
    bool in = false;
    for (const auto& line : Lines(ReadBytes(file))) {
        if (!line.empty() && line[0] == '[')
            in = line == "[" + section + "]";
        else if (in && !line.empty())
            entries.push_back(line);
    }
    return entries;
}

std::string IniValue(const std::filesystem::path& file, const std::string& section, const std::string& key) {
    for (const auto& entry : SectionEntries(file, section))
        if (entry.rfind(key + "=", 0) == 0) return entry.substr(key.size() + 1);
    return "<missing>";
}

}  // namespace corvan_test
