// Directory backup and restore runs of the built corvan, each timed beside
// `cp -a` of the same tree on the same disk in the same run, before and after
// the tool's runs:
//   (A) many small files: 4 KB each, 100 to a folder, at 10,000 and 100,000
//       files (time per file compared), with a restore run again when
//       nothing is left to copy;
//   (B) four large files (1 GB each, or what the disk allows, as printed).
// Prints the ratios and the peak memory of each run per file.
//
//   bench_dir_bench [files for A (100000)] [MB per file for B (1024)]
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Timed {
    double seconds = 0;
    double cpu = 0;  // user and system time
    long peakKb = 0;
    int status = -1;
};

// A run's folder is named after the second it starts in: each run of
// corvan waits (untimed) for a second of its own.
void NextSecond() {
    static std::time_t last = 0;
    while (std::time(nullptr) <= last) usleep(20000);
    last = std::time(nullptr);
}

// Runs a program to its end: wall time and the child's peak resident size.
Timed Run(const std::vector<std::string>& args, const fs::path& cwd, const std::string& world) {
    if (args[0] != "cp") NextSecond();
    // What earlier runs left to write out is written now, untimed, rather
    // than billed to whichever run fills the cache past its limit.
    ::sync();
    std::fflush(stdout);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("CORVAN_WORLD", world.c_str(), 1);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Timed timed;
    struct rusage usage {};
    int status = 0;
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        timed.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        timed.peakKb = usage.ru_maxrss;
        timed.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return timed;
}

void WriteFile(const fs::path& path, size_t bytes, unsigned seed) {
    std::vector<char> block(1 << 20);
    unsigned state = seed * 2654435761u + 1;
    for (auto& b : block) b = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    std::ofstream out(path, std::ios::binary);
    for (size_t left = bytes; left > 0;) {
        size_t n = std::min(left, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
}

// A world with the local machine SRV01 and its drive D:.
fs::path MakeWorld(const fs::path& base) {
    fs::path world = base / "world";
    fs::create_directories(world / "SRV01" / "drives" / "D");
    std::ofstream(world / "world.ini") << "[World]\nLocalMachine=SRV01\n";
    std::ofstream(world / "SRV01" / "machine.ini") << "[Machine]\nVersionMajor=5\nVersionMinor=2\nReachable=1\n";
    std::ofstream(world / "SRV01" / "HKLM.reg") << "Windows Registry Editor Version 5.00\r\n\r\n";
    std::ofstream(base / "ControlBackup.ini")
        << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
           "DefaultDataLocation=D:\\Mig\\Data\r\n[BACKUP]\r\nDIRECTORY=D:\\Data,data.bkp\r\n";
    return world;
}

struct Result {
    size_t files = 0;
    Timed copy, backup, restore, again, copyAfter;

    // The host makes a later writer of the same amount slower (measured: up
    // to three times, for a run of 1 GB files right after another), so cp -a
    // runs both before and after the tool's runs and each ratio is taken
    // against the mean of the two.
    Timed Reference() const {
        Timed mean;
        mean.seconds = (copy.seconds + copyAfter.seconds) / 2;
        mean.cpu = (copy.cpu + copyAfter.cpu) / 2;
        return mean;
    }
};

// cp -a of the tree, a backup, the tree moved away and restored, the
// restore run again, cp -a of the restored tree. Nothing is deleted before
// the timed runs: the host would make every new file of the next run skip
// the inodes just freed.
bool Measure(const fs::path& base, const std::string& corvan, size_t files, Result& result) {
    fs::path world = base / "world";
    fs::path data = world / "SRV01" / "drives" / "D" / "Data";
    result.files = files;
    result.copy = Run({"cp", "-a", data.string(), (base / "cp-copy").string()}, base, world.string());
    result.backup = Run({corvan, "/B", "/S:SRV01"}, base, world.string());
    fs::rename(data, base / "moved-away");
    result.restore = Run({corvan, "/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV01"}, base, world.string());
    result.again = Run({corvan, "/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV01"}, base, world.string());
    result.copyAfter = Run({"cp", "-a", data.string(), (base / "cp-copy-after").string()}, base, world.string());
    std::ifstream control(world / "SRV01" / "drives" / "D" / "Mig" / "ControlRestore.ini");
    std::string text((std::istreambuf_iterator<char>(control)), {});
    bool ok = text.find("BackupStatus=success") != std::string::npos &&
              text.find("RestoreStatus=success") != std::string::npos && result.backup.status == 0 &&
              result.restore.status == 0 && result.again.status == 0 && result.copy.status == 0 &&
              result.copyAfter.status == 0;
    if (!ok) std::fprintf(stderr, "a run failed; see %s\n", base.c_str());
    return ok;
}

void Print(const char* label, const Result& r) {
    // The disk is shared: CPU time is printed beside the wall time.
    const Timed reference = r.Reference();
    auto line = [&](const char* run, const Timed& t) {
        std::printf("  %-18s %8.2f s %5.2fx cp -a  cpu %7.2f s %5.2fx  %7.1f us/file  peak %7.1f MB = %6.0f B/file\n",
                    run, t.seconds, t.seconds / reference.seconds, t.cpu, t.cpu / reference.cpu,
                    t.seconds * 1e6 / static_cast<double>(r.files), t.peakKb / 1024.0,
                    t.peakKb * 1024.0 / static_cast<double>(r.files));
    };
    std::printf("%s: %zu files\n  %-18s %8.2f s               cpu %7.2f s  (before %.2f s, after %.2f s)\n", label,
                r.files, "cp -a, mean", reference.seconds, reference.cpu, r.copy.seconds, r.copyAfter.seconds);
    line("backup run", r.backup);
    line("restore run", r.restore);
    line("restore run again", r.again);
}

fs::path FreshBase() {
    std::string pattern = (fs::temp_directory_path() / "corvan-dir-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return fs::path(pattern);
}

// The trees of the runs that went well, removed at the very end: the files
// of a tree removed between two measurements would make the host skip their
// inodes, just freed, while it makes the next tree, cp -a's copy first.
std::vector<fs::path>& Finished() {
    static std::vector<fs::path> bases;
    return bases;
}

bool SmallFiles(const std::string& corvan, size_t files, Result& result) {
    fs::path base = FreshBase();
    fs::path data = MakeWorld(base) / "SRV01" / "drives" / "D" / "Data";
    for (size_t i = 0; i < files; ++i) {
        fs::path folder = data / ("Folder" + std::to_string(i / 100));
        if (i % 100 == 0) fs::create_directories(folder);
        WriteFile(folder / ("File" + std::to_string(i) + ".dat"), 4096, static_cast<unsigned>(i));
    }
    bool ok = Measure(base, corvan, files, result);
    if (ok) Finished().push_back(base);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    size_t largeMb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    std::string corvan = (fs::read_symlink("/proc/self/exe").parent_path() / "corvan").string();
    if (!fs::exists(corvan)) {
        std::fprintf(stderr, "%s is missing; build the corvan target first\n", corvan.c_str());
        return 1;
    }

    Result small, large;
    if (!SmallFiles(corvan, files / 10, small)) return 1;
    Print("(A) 4 KB files, a tenth", small);
    if (!SmallFiles(corvan, files, large)) return 1;
    Print("(A) 4 KB files", large);
    double perFileSmall = large.backup.seconds / static_cast<double>(large.files);
    std::printf("  time per file at %zu against %zu: backup %.2fx, restore %.2fx\n", large.files, small.files,
                perFileSmall / (small.backup.seconds / static_cast<double>(small.files)),
                (large.restore.seconds / static_cast<double>(large.files)) /
                    (small.restore.seconds / static_cast<double>(small.files)));

    // (B): the source, its two cp -a copies, the backup and the restore at once,
    // with room to spare; smaller files when the disk has less.
    fs::path base = FreshBase();
    struct statvfs disk {};
    statvfs(base.c_str(), &disk);
    double freeMb = static_cast<double>(disk.f_bavail) * disk.f_frsize / (1 << 20);
    size_t mb = largeMb;
    while (mb > 16 && 4.0 * 5 * mb > freeMb * 0.8) mb /= 2;
    if (mb != largeMb) std::printf("(B) the disk has %.0f MB free: files of %zu MB instead of %zu\n", freeMb, mb, largeMb);
    fs::path data = MakeWorld(base) / "SRV01" / "drives" / "D" / "Data";
    fs::create_directories(data);
    for (unsigned i = 0; i < 4; ++i) WriteFile(data / ("Large" + std::to_string(i) + ".bin"), mb << 20, i);
    Result big;
    bool ok = Measure(base, corvan, 4, big);
    if (ok) {
        char label[64];
        std::snprintf(label, sizeof label, "(B) four files of %zu MB", mb);
        Print(label, big);
        Finished().push_back(base);
    }
    for (const auto& finished : Finished()) fs::remove_all(finished);
    return ok ? 0 : 1;
}
