// A simulated world and a working folder of the test's own, for runs of the
// built binary. The tool runs on SRV01, whose D: drive holds the migration
// folder D:\Mig, unless the test makes another machine the local one.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_process.h"

namespace corvan_test {

// The locations most control files of the tests name: all on the D: drive.
inline const std::string kMigLocations =
    "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
    "DefaultDataLocation=D:\\Mig\\Data\r\n";

// Where the server service keeps its shares, their permissions and the
// null-session list.
inline constexpr wchar_t kShares[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
inline constexpr wchar_t kSecurity[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security";
inline constexpr wchar_t kParameters[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";

class CorvanWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        cwd_ = WorldRoot().parent_path() / (WorldRoot().filename().string() + "-cwd");
        std::filesystem::create_directories(cwd_);
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
    }
    void TearDown() override {
        std::filesystem::remove_all(cwd_);
        SimWorldTest::TearDown();
    }
    // A run in the working folder; the world is read afresh after it.
    CorvanRun Corvan(const std::vector<std::string>& args, int timeoutSeconds = 120) {
        sim::FlushWorld();
        CorvanRun run = RunCorvan(args, cwd_, timeoutSeconds);
        sim::ResetWorld();
        return run;
    }
    // A file below D:\Mig of the machine the tool runs on.
    std::filesystem::path Mig(const std::string& below) {
        return HostPathOf(sim::LocalMachineName(), corvan::FromUtf8("D:\\Mig\\" + below));
    }
    // A key of a control file below D:\Mig, the first of its section; "<missing>" when there is none.
    std::string Control(const std::string& section, const std::string& key,
                        const std::string& file = "ControlRestore.ini") {
        return IniValue(Mig(file), section, key);
    }
    std::string Outcome(const std::string& key, const std::string& file = "ControlRestore.ini") {
        return Control("Control", key, file);
    }
    // The entries of every section of that name in a control file below D:\Mig, as written.
    std::vector<std::string> Section(const std::string& name, const std::string& file = "ControlRestore.ini") {
        return SectionEntries(Mig(file), name);
    }
    // Keys of a control file's Control section that a test names, with
    // their values there, for one comparison of all of them.
    using Keys = std::map<std::string, std::string>;
    Keys Outcomes(const Keys& named, const std::string& file = "ControlRestore.ini") {
        Keys found;
        for (const auto& entry : named) found[entry.first] = Outcome(entry.first, file);
        return found;
    }
    // The status report of the runs against SRV01.
    std::vector<std::string> Report() { return Lines(ReadHostFile(Mig("Log\\SRV01\\SRV01_StatusReport.log"))); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    // A file as the tool writes it: whole, down to its two closing line ends.
    void ExpectWhole(const std::filesystem::path& file) {
        const std::string bytes = ReadHostFile(file);
        EXPECT_EQ("\r\n\r\n", bytes.substr(bytes.size() - std::min<size_t>(4, bytes.size()))) << file;
    }
    // A file of the working folder, byte for byte.
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(cwd_ / name, std::ios::binary) << text;
    }
    // The lines of an expected output kept in tests/testdata.
    std::vector<std::string> Golden(const std::string& name) {
        return Lines(ReadHostFile(std::filesystem::path(CORVAN_SOURCE_DIR) / "tests" / "testdata" / name));
    }
    // A disk share in the server service's keys.
    void AddShare(const std::wstring& machine, const std::wstring& name, const std::wstring& path,
                  const std::wstring& remark = L"") {
        SetRegistryMultiString(
            machine, kShares, name,
            {L"CSCFlags=0", L"MaxUses=4294967295", L"Path=" + path, L"Permissions=0", L"Remark=" + remark, L"Type=0"});
    }
    // Shares <prefix>0 to <prefix><count - 1> of folders of those names below D:\<folder>.
    void AddShares(int count, const std::wstring& prefix, const std::wstring& folder) {
        for (int i = 0; i < count; ++i) {
            const std::wstring name = prefix + std::to_wstring(i);
            AddDirectory(L"SRV01", L"D:\\" + folder + L"\\" + name);
            AddShare(L"SRV01", name, L"D:\\" + folder + L"\\" + name, L"share number " + std::to_wstring(i));
        }
    }
    // The machine's fix-up command for null-session shares; it appends
    // "share|path|parent" to calls.txt beside it.
    void InstallFixUp(const std::wstring& machine) {
        const wchar_t command[] = L"D:\\kitbox\\toolsdir\\FixW2KShares.cmd";
        AddFile(machine, command, "#!/bin/sh\necho \"$1|$2|$3\" >> \"$(dirname \"$0\")/calls.txt\"\n");
        std::filesystem::permissions(HostPathOf(machine, command), std::filesystem::perms::owner_all);
    }
    // Every folder ("<dir>") and file (its bytes) below root by relative
    // path, but for those whose path begins with leaveOut.
    std::map<std::string, std::string> Snapshot(const std::filesystem::path& root, const std::string& leaveOut = "\n") {
        std::map<std::string, std::string> entries;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            std::string path = std::filesystem::relative(entry.path(), root).string();
            if (path.rfind(leaveOut, 0) == 0) continue;
            entries[path] = entry.is_directory() ? "<dir>" : ReadHostFile(entry.path());
        }
        return entries;
    }
    // The lines of a key and its subkeys in a machine's hive file, as a later run would find them.
    std::string KeyText(const std::wstring& machine, const std::wstring& key) {
        sim::FlushWorld();
        std::string text = ReadHostFile(WorldRoot() / corvan::ToUtf8(machine) / "HKLM.reg"), out;
        const std::string head = "[HKEY_LOCAL_MACHINE\\" + corvan::ToUtf8(key);
        for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
            char next = text[at + head.size()];
            if (next != ']' && next != '\\') continue;
            out += text.substr(at, text.find("\n\n", at) - at) + "\n";
        }
        return out;
    }
    // The entries of the list of a descriptor kept in a registry value, in order.
    std::vector<win32_files::AceEntry> AcesOf(const std::wstring& machine, const std::wstring& key,
                                              const std::wstring& value) {
        std::vector<BYTE> descriptor;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (!ReadRegistryValue(machine, key, value, nullptr, &descriptor)) return {};
        GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
        return win32_files::EntriesOf(dacl);
    }

    std::filesystem::path cwd_;
};

}  // namespace corvan_test
