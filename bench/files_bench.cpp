// One wide folder handled through the file calls as a directory backup
// handles it: files written, listed, looked up one by one and copied into a
// new folder, at two sizes, so the times per file can be compared: they
// should stay flat as the folder grows.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::wstring Name(int i) { return corvan::Format(L"File%06d.dat", i); }

bool Fail(const char* what, const std::wstring& path) {
    std::fprintf(stderr, "%s(%s) failed: %lu\n", what, corvan::ToUtf8(path).c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return false;
}

bool Run(int count) {
    const std::wstring source = L"\\\\" + sim::LocalMachineName() + L"\\D$\\Src";
    const std::wstring target = L"D:\\Dst";
    if (!CreateDirectoryW(source.c_str(), nullptr)) return Fail("CreateDirectoryW", source);
    if (!CreateDirectoryW(target.c_str(), nullptr)) return Fail("CreateDirectoryW", target);

    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::wstring path = source + L"\\" + Name(i);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return Fail("CreateFileW", path);
        DWORD written = 0;
        WriteFile(file, "data", 4, &written, nullptr);
        CloseHandle(file);
    }
    double create = Seconds(start);

    start = Clock::now();
    WIN32_FIND_DATAW data;
    std::wstring pattern = source + L"\\*.*";
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return Fail("FindFirstFileW", pattern);
    int listed = 1;
    while (FindNextFileW(find, &data)) ++listed;
    FindClose(find);
    double list = Seconds(start);
    if (listed != count + 2) {
        std::fprintf(stderr, "listed %d entries for %d files\n", listed, count);
        return false;
    }

    start = Clock::now();
    for (int i = 0; i < count; ++i) {
        // Looked up in another case, as a name from a control file might be.
        std::wstring path = source + L"\\" + corvan::ToLower(Name(i));
        find = FindFirstFileW(path.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return Fail("FindFirstFileW", path);
        FindClose(find);
    }
    double lookup = Seconds(start);

    start = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::wstring from = source + L"\\" + Name(i);
        std::wstring to = target + L"\\" + Name(i);
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return Fail("CopyFileW", from);
    }
    double copy = Seconds(start);

    auto perFile = [&](double seconds) { return seconds * 1e6 / count; };
    std::printf("%6d files: create %6.3f s (%5.1f us/file), list %6.3f s (%5.1f), look up %6.3f s (%5.1f), "
                "copy %6.3f s (%5.1f)\n",
                count, create, perFile(create), list, perFile(list), lookup, perFile(lookup), copy, perFile(copy));
    return true;
}

}  // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvan-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    setenv("CORVAN_WORLD", pattern.c_str(), 1);

    bool ok = true;
    for (int count : {1000, 10000}) {
        sim::ResetWorld();
        std::filesystem::remove_all(pattern);
        std::filesystem::create_directories(pattern);
        std::filesystem::create_directories(sim::MachineDir(sim::LocalMachineName()) / "drives" / "D");
        ok = Run(count) && ok;
    }
    sim::ResetWorld();
    std::filesystem::remove_all(pattern);
    return ok ? 0 : 1;
}
