// Writes a registry tree through the Win32 calls, writes the hive to its
// file, reloads it and reads every value back, at two sizes, so that the
// times per value can be compared: they should stay flat as the tree grows.
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

std::wstring KeyPath(int top, int sub) { return corvan::Format(L"SOFTWARE\\Bench\\Top%03d\\Sub%03d", top, sub); }

bool Check(LSTATUS status, const char* what) {
    if (status == ERROR_SUCCESS) return true;
    std::fprintf(stderr, "%s failed: %ld\n", what, static_cast<long>(status));
    return false;
}

// tops x subs keys with valuesPerKey values each: a DWORD and texts in turn.
bool Run(int tops, int subs, int valuesPerKey) {
    const long total = static_cast<long>(tops) * subs * valuesPerKey;
    auto start = Clock::now();
    for (int t = 0; t < tops; ++t) {
        for (int s = 0; s < subs; ++s) {
            HKEY key = nullptr;
            if (!Check(RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(t, s).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, nullptr, &key, nullptr),
                       "RegCreateKeyExW"))
                return false;
            for (int v = 0; v < valuesPerKey; ++v) {
                std::wstring name = corvan::Format(L"Value%04d", v);
                LSTATUS status;
                if (v % 2) {
                    DWORD data = static_cast<DWORD>(t * 1000000 + s * 1000 + v);
                    status = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                            sizeof(data));
                } else {
                    std::wstring text = corvan::Format(L"C:\\Data\\%d\\%d\\%d", t, s, v);
                    status = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
                }
                if (!Check(status, "RegSetValueExW")) return false;
            }
            RegCloseKey(key);
        }
    }
    double write = Seconds(start);

    start = Clock::now();
    sim::FlushWorld();
    double flush = Seconds(start);
    auto file = sim::MachineDir(sim::LocalMachineName()) / "HKLM.reg";
    auto bytes = std::filesystem::file_size(file);

    start = Clock::now();
    sim::ResetWorld();
    HKEY bench = nullptr;
    if (!Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Bench", 0, KEY_READ, &bench), "RegOpenKeyExW")) return false;
    RegCloseKey(bench);
    double load = Seconds(start);

    start = Clock::now();
    long checked = 0;
    for (int t = 0; t < tops; ++t) {
        for (int s = 0; s < subs; ++s) {
            HKEY key = nullptr;
            if (!Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(t, s).c_str(), 0, KEY_READ, &key), "RegOpenKeyExW"))
                return false;
            DWORD values = 0, maxName = 0, maxData = 0;
            if (!Check(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &maxName,
                                        &maxData, nullptr, nullptr),
                       "RegQueryInfoKeyW"))
                return false;
            std::wstring name(maxName + 1, L'\0');
            std::wstring data(maxData / sizeof(WCHAR) + 1, L'\0');
            for (DWORD v = 0; v < values; ++v) {
                DWORD nameLength = maxName + 1, size = maxData, type = 0;
                if (!Check(RegEnumValueW(key, v, name.data(), &nameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &size),
                           "RegEnumValueW"))
                    return false;
                if (type == REG_DWORD) {
                    DWORD expected = static_cast<DWORD>(t * 1000000 + s * 1000 + static_cast<int>(v));
                    if (*reinterpret_cast<const DWORD*>(data.data()) != expected) {
                        std::fprintf(stderr, "wrong data at %d/%d/%u\n", t, s, v);
                        return false;
                    }
                }
                ++checked;
            }
            RegCloseKey(key);
        }
    }
    double read = Seconds(start);
    if (checked != total) {
        std::fprintf(stderr, "read %ld values, wrote %ld\n", checked, total);
        return false;
    }

    auto perValue = [&](double seconds) { return seconds * 1e9 / static_cast<double>(total); };
    std::printf("%7ld values in %5d keys, file %8.1f KiB: write %7.3f s (%6.0f ns/value), flush %6.3f s (%5.0f), "
                "reload %6.3f s (%5.0f), read back %6.3f s (%5.0f)\n",
                total, tops * subs, static_cast<double>(bytes) / 1024.0, write, perValue(write), flush,
                perValue(flush), load, perValue(load), read, perValue(read));
    return true;
}

// One key with count values, and as many subkeys created in reverse name order.
bool RunWide(int count) {
    HKEY key = nullptr;
    if (!Check(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wide", 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr),
               "RegCreateKeyExW"))
        return false;
    auto start = Clock::now();
    for (int v = 0; v < count; ++v) {
        DWORD data = static_cast<DWORD>(v);
        std::wstring name = corvan::Format(L"Value%06d", v);
        if (!Check(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)),
                   "RegSetValueExW"))
            return false;
    }
    for (int k = count - 1; k >= 0; --k) {
        HKEY sub = nullptr;
        std::wstring name = corvan::Format(L"Key%06d", k);
        if (!Check(RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                   "RegCreateKeyExW"))
            return false;
        RegCloseKey(sub);
    }
    double write = Seconds(start);
    RegCloseKey(key);

    start = Clock::now();
    sim::FlushWorld();
    sim::ResetWorld();
    if (!Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wide", 0, KEY_READ, &key), "RegOpenKeyExW")) return false;
    double reload = Seconds(start);

    start = Clock::now();
    int values = 0, keys = 0;
    WCHAR name[32];
    for (DWORD i = 0;; ++i) {
        DWORD length = 32;
        LSTATUS status = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (!Check(status, "RegEnumValueW")) return false;
        ++values;
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 32;
        LSTATUS status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (!Check(status, "RegEnumKeyExW")) return false;
        ++keys;
    }
    double read = Seconds(start);
    RegCloseKey(key);
    if (values != count || keys != count) {
        std::fprintf(stderr, "found %d values and %d keys, wrote %d of each\n", values, keys, count);
        return false;
    }
    std::printf("one key, %7d values and %7d subkeys: write %6.3f s, flush and reload %6.3f s, enumerate %6.3f s\n",
                count, count, write, reload, read);
    return true;
}

}  // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvan-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    setenv("CORVAN_WORLD", pattern.c_str(), 1);

    bool ok = true;
    for (int tops : {10, 100}) {
        sim::ResetWorld();
        std::filesystem::remove_all(pattern);
        std::filesystem::create_directories(pattern);
        ok = Run(tops, 100, 10) && ok;
    }
    for (int count : {10000, 100000}) {
        sim::ResetWorld();
        std::filesystem::remove_all(pattern);
        std::filesystem::create_directories(pattern);
        ok = RunWide(count) && ok;
    }
    sim::ResetWorld();
    std::filesystem::remove_all(pattern);
    return ok ? 0 : 1;
}
