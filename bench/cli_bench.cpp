// Times the real command line on a registry backup of 10,000 and 100,000
// string values (100 and 1,000 subkeys of 100 values each) and, in the same
// run, the floor the tool's logging design sets: a loop that opens a file,
// appends one trace-sized line and closes it, as many times as the backup
// logged lines, in the same folder. Prints both, the backup's ratio to its
// floor and the 100,000/10,000 ratio. A second loop does what each logged
// line needs beyond that in this tool: a check that the name is a file and a
// read of the file's first bytes for its encoding; the backup's ratio to it
// is printed too.
// Usage: bench_cli_bench [small value count] [large value count]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kValuesPerKey = 100;

// A world whose local machine BIG holds HKLM\SOFTWARE\Big with `values`
// string values, written as a registry export.
void BuildWorld(const fs::path& world, int values) {
    fs::create_directories(world / "BIG/drives/C");
    fs::create_directories(world / "BIG/drives/D");
    std::ofstream(world / "world.ini") << "[World]\nLocalMachine=BIG\n\n[Accounts]\n";
    std::ofstream(world / "BIG/machine.ini")
        << "[Machine]\nVersionMajor=5\nVersionMinor=2\nReachable=1\n\n[Accounts]\n\n[Services]\n";
    std::ofstream reg(world / "BIG/HKLM.reg");
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big]\n\n";
    char line[128];
    for (int key = 0; key < values / kValuesPerKey; ++key) {
        std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\Sub%04d]\n", key);
        reg << line;
        for (int v = 0; v < kValuesPerKey; ++v) {
            std::snprintf(line, sizeof line, "\"Value%04d\"=\"C:\\\\Data\\\\%d\\\\%d\"\n", v, key, v);
            reg << line;
        }
        reg << "\n";
    }
}

struct LogShape {
    size_t lines = 0;
    size_t bytes = 0;
};

LogShape Measure(const fs::path& log) {
    LogShape shape;
    std::ifstream in(log, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line == "\r") continue;
        ++shape.lines;
        shape.bytes += line.size() + 1;
    }
    return shape;
}

// Opens, appends one line and closes, `lines` times; with `checks`, also
// makes sure the name is a file and reads the file's first three bytes.
bench::Times Floor(const fs::path& file, size_t lines, size_t lineBytes, bool checks) {
    std::string line(lineBytes > 2 ? lineBytes - 2 : 1, 'x');
    line = "\r\n" + line;
    fs::remove(file);
    bench::Stopwatch watch;
    for (size_t i = 0; i < lines; ++i) {
        int fd = open(file.c_str(), (checks ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        struct stat st;
        char start[3];
        bool ok = fd >= 0 && (!checks || (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && pread(fd, start, 3, 0) >= 0));
        if (!ok || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            std::perror("floor");
            std::exit(1);
        }
        close(fd);
    }
    return watch.Stop();
}

struct Result {
    int values = 0;
    bench::Times run, floor, logFloor;
    LogShape log;
};

bool Measure(int values, Result& result) {
    bench::ScratchFolder folder("corvan-cli-bench");
    fs::path world = folder.path() / "world";
    BuildWorld(world, values);
    std::ofstream(folder.path() / "ctl.ini")
        << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
           "DefaultDataLocation=D:\\Mig\\Data\r\n[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Big,big.bkp\r\n";
    bench::Run run = bench::RunCorvan({"/B", "/C:ctl.ini", "/S:BIG"}, folder.path(), world);
    result.values = values;
    result.run = run.times;
    result.log = Measure(folder.path() / "CorvanTrace.log");
    if (run.exitCode != 0 || result.log.lines < static_cast<size_t>(values)) {
        std::fprintf(stderr, "the backup of %d values failed (exit code %d, %zu lines logged)\n", values,
                     run.exitCode, result.log.lines);
        return false;
    }
    result.floor = Floor(folder.path() / "floor.log", result.log.lines, result.log.bytes / result.log.lines, false);
    result.logFloor = Floor(folder.path() / "floor.log", result.log.lines, result.log.bytes / result.log.lines, true);
    return true;
}

void Print(const Result& r) {
    std::printf("%8d %9zu %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", r.values, r.log.lines, r.run.wall,
                r.run.cpu, r.floor.wall, r.floor.cpu, r.run.wall / r.floor.wall, r.run.cpu / r.floor.cpu,
                r.logFloor.cpu, r.run.cpu / r.logFloor.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    int small = argc > 1 ? std::atoi(argv[1]) : 10000;
    int large = argc > 2 ? std::atoi(argv[2]) : 100000;
    std::printf("corvan /B of HKLM\\SOFTWARE\\Big, and its floor: open, append a line, close, once per logged line\n");
    std::printf("%8s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "values", "lines", "run wall", "run CPU", "flr wall",
                "flr CPU", "run/flr", "CPU r/f", "lflr CPU", "CPU r/lf");
    Result results[2];
    int counts[2] = {small, large};
    for (int i = 0; i < 2; ++i) {
        if (!Measure(counts[i], results[i])) return 1;
        Print(results[i]);
        std::fflush(stdout);
    }
    std::printf("%d/%d values: wall time ratio %.1f, CPU time ratio %.1f (linear is %.1f)\n", large, small,
                results[1].run.wall / results[0].run.wall, results[1].run.cpu / results[0].run.cpu,
                static_cast<double>(large) / small);
    return 0;
}
