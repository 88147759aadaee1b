// Builds, saves and loads object stores of 100,000, 1,000,000 and (with
// "10m") 10,000,000 entries and prints the times and how each size compares
// with the size ten times smaller, measured in the same run: linear growth
// gives ratios near 10.
// Usage: bench_store_bench [largest entry count, default 1000000; "10m" for 10000000]
//
// Times are the process's CPU time (what the store itself costs, whatever
// else the machine runs) and, in brackets, the wall-clock time; up to a
// million entries, each is the best of three runs.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

namespace {

struct Span {
    double cpu = 0;
    double wall = 0;
};

double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class Timer {
public:
    Span Stop() const {
        return {CpuNow() - cpu_, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count()};
    }

private:
    double cpu_ = CpuNow();
    std::chrono::steady_clock::time_point wall_ = std::chrono::steady_clock::now();
};

// Objects of eight entries each, saved as the resource classes save theirs.
void Fill(CObjectStore& store, size_t entries) {
    CStoreValue v;
    for (size_t i = 0; store.GetEntryCount() < entries; ++i) {
        store.NewSection(L"class", L"CWin32File", 0);
        store.AddToSection(L"parent", store.GetParentSection());
        v.SetString(corvan::Format(L"D:\\Data\\Projects\\Folder%zu\\File%zu.dat", i / 100, i));
        store.AddToSection(L"FileName", v.GetEncoded());
        v.SetDword(0x20);
        store.AddToSection(L"Attributes", v.GetEncoded());
        v.SetDword(1);
        store.AddToSection(L"Restore", v.GetEncoded());
        v.SetString(L"\\\\SRV01");
        store.AddToSection(L"ServerName", v.GetEncoded());
        v.SetBinary(reinterpret_cast<const BYTE*>(&i), sizeof(i));
        store.AddToSection(L"Security", v.GetEncoded());
        store.SetValue(store.GetCurrentSection(), L"Task", L"\"Backup File\"");
    }
}

struct Row {
    size_t entries = 0;
    Span build, save, load, lookup;
};

bool Measure(const std::filesystem::path& dir, size_t entries, Row& row) {
    row.entries = entries;
    std::filesystem::path file = dir / ("store" + std::to_string(entries) + ".bkp");
    std::wstring path = corvan::FromUtf8(file.string());
    {
        Timer timer;
        CObjectStore built;
        built.Logger = nullptr;
        Fill(built, entries);
        row.build = timer.Stop();

        timer = Timer();
        if (!built.SaveToFile(path)) {
            std::fprintf(stderr, "save failed: %ls\n", built.ErrorDescription.c_str());
            return false;
        }
        row.save = timer.Stop();
    }
    Timer timer;
    CObjectStore loaded;
    loaded.Logger = nullptr;
    if (!loaded.LoadFromFile(path) || loaded.GetEntryCount() < entries) {
        std::fprintf(stderr, "load failed: %ls\n", loaded.ErrorDescription.c_str());
        return false;
    }
    row.load = timer.Stop();

    // What a tree reader does per object: its parent, then the parent's class.
    timer = Timer();
    std::wstring parent, cls;
    size_t sections = entries / 8;
    size_t found = 0;
    for (size_t section = 1; section <= sections; ++section) {
        found += loaded.GetValue(std::to_wstring(section), L"parent", parent);
        found += loaded.GetValue(parent, L"class", cls);
    }
    row.lookup = timer.Stop();
    if (found < sections) {
        std::fprintf(stderr, "lookups found %zu of %zu\n", found, 2 * sections);
        return false;
    }
    std::filesystem::remove(file);
    return true;
}

void Print(const Span& span) { std::printf(" %8.3f (%6.3f)", span.cpu, span.wall); }

// Measure in a child process; the row comes back through a pipe.
bool MeasureApart(const std::filesystem::path& dir, size_t entries, Row& row) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        Row measured;
        bool ok = Measure(dir, entries, measured) &&
                  write(ends[1], &measured, sizeof measured) == static_cast<ssize_t>(sizeof measured);
        _exit(ok ? 0 : 1);
    }
    close(ends[1]);
    bool ok = child > 0 && read(ends[0], &row, sizeof row) == static_cast<ssize_t>(sizeof row);
    close(ends[0]);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Span Least(const Span& a, const Span& b) { return {std::min(a.cpu, b.cpu), std::min(a.wall, b.wall)}; }

Row Best(const Row& a, const Row& b) {
    Row best = a;
    best.build = Least(a.build, b.build);
    best.save = Least(a.save, b.save);
    best.load = Least(a.load, b.load);
    best.lookup = Least(a.lookup, b.lookup);
    return best;
}

void PrintRatio(const Span& large, const Span& small) {
    std::printf(" %17.1f", small.cpu > 0 ? large.cpu / small.cpu : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    size_t largest = 1000000;
    if (argc > 1) largest = std::string(argv[1]) == "10m" ? 10000000 : std::strtoul(argv[1], nullptr, 10);
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("corvan-store-bench-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "world");
    setenv("CORVAN_WORLD", (dir / "world").c_str(), 1);  // keep the simulated world away from $HOME

    std::printf("CPU seconds (wall seconds in brackets)\n%10s %17s %17s %17s %17s\n", "entries", "build", "save",
                "load", "lookup");
    std::vector<Row> rows;
    for (size_t entries = 100000; entries <= largest; entries *= 10) {
        // The best of three runs up to a million: a save of 100,000 entries
        // takes some ten milliseconds, which one pause of the machine doubles.
        // Each run is a process of its own, so every size starts from memory
        // the process has not used yet, as the first run of each did.
        Row row;
        for (int run = 0; run < (entries <= 1000000 ? 3 : 1); ++run) {
            Row one;
            if (!MeasureApart(dir, entries, one)) return 1;
            row = run == 0 ? one : Best(row, one);
        }
        std::printf("%10zu", entries);
        Print(row.build);
        Print(row.save);
        Print(row.load);
        Print(row.lookup);
        std::printf("\n");
        std::fflush(stdout);
        rows.push_back(row);
    }
    for (size_t i = 1; i < rows.size(); ++i) {
        std::printf("%7zuk/%zuk", rows[i].entries / 1000, rows[i - 1].entries / 1000);
        PrintRatio(rows[i].build, rows[i - 1].build);
        PrintRatio(rows[i].save, rows[i - 1].save);
        PrintRatio(rows[i].load, rows[i - 1].load);
        PrintRatio(rows[i].lookup, rows[i - 1].lookup);
        std::printf("   (CPU time ratios; linear is 10)\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
