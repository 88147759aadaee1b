// Builds, saves and loads object stores of growing size and prints the times.
// Usage: bench_store_bench [largest entry count, default 1000000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

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

}  // namespace

int main(int argc, char** argv) {
    size_t largest = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "corvan-store-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "world");
    setenv("CORVAN_WORLD", (dir / "world").c_str(), 1);  // keep the simulated world away from $HOME

    std::printf("%10s %10s %10s %10s %10s %10s\n", "entries", "build s", "save s", "load s", "lookup s", "MB");
    for (size_t entries = 10000; entries <= largest; entries *= 10) {
        std::wstring path = corvan::FromUtf8((dir / ("store" + std::to_string(entries) + ".bkp")).string());

        auto start = Clock::now();
        CObjectStore built;
        built.Logger = nullptr;
        Fill(built, entries);
        double build = Seconds(start);

        start = Clock::now();
        if (!built.SaveToFile(path)) {
            std::fprintf(stderr, "save failed: %ls\n", built.ErrorDescription.c_str());
            return 1;
        }
        double save = Seconds(start);

        start = Clock::now();
        CObjectStore loaded;
        loaded.Logger = nullptr;
        if (!loaded.LoadFromFile(path)) {
            std::fprintf(stderr, "load failed: %ls\n", loaded.ErrorDescription.c_str());
            return 1;
        }
        double load = Seconds(start);

        // What a tree reader does per object: its parent, then the parent's class.
        start = Clock::now();
        std::wstring parent, cls;
        size_t found = 0;
        size_t sections = std::min<size_t>(entries / 8, 100000);
        for (size_t section = 1; section <= sections; ++section) {
            found += loaded.GetValue(std::to_wstring(section), L"parent", parent);
            found += loaded.GetValue(parent, L"class", cls);
        }
        double lookup = Seconds(start);

        double mb = static_cast<double>(std::filesystem::file_size(dir / ("store" + std::to_string(entries) + ".bkp"))) /
                    (1024.0 * 1024.0);
        std::printf("%10zu %10.3f %10.3f %10.3f %10.3f %10.1f   (%zu entries loaded, %zu lookups hit)\n", entries, build,
                    save, load, lookup, mb, loaded.GetEntryCount(), found);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
