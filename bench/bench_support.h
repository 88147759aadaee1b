// Shared by the benchmarks that run the built corvan as a user would: a
// child process in a folder of the benchmark's choosing, against a world,
// timed by the wall clock and by the CPU time it used.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct Times {
    double wall = 0;
    double cpu = 0;  // user and system time
};

inline double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; }

inline double ProcessCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Measures the time between its making and Stop() in this process.
class Stopwatch {
public:
    Times Stop() const {
        return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(), ProcessCpu() - cpu_};
    }

private:
    std::chrono::steady_clock::time_point wall_ = std::chrono::steady_clock::now();
    double cpu_ = ProcessCpu();
};

struct Run {
    int exitCode = -1;
    Times times;
};

// Runs corvan with args in `folder` against `world`, its output to
// folder/corvan.out; the times are the child's own.
inline Run RunCorvan(const std::vector<std::string>& args, const std::filesystem::path& folder,
                     const std::filesystem::path& world) {
    std::vector<std::string> argv = {CORVAN_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::filesystem::path out = folder / "corvan.out";
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        setenv("CORVAN_WORLD", world.c_str(), 1);
        setenv("TMPDIR", folder.c_str(), 1);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char*> pointers;
        for (auto& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.times.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.times.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    return run;
}

// A scratch folder below the system's temporary folder, removed with the object.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* name) {
        path_ = std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace bench
