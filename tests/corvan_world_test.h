// A simulated world and a working folder of the test's own, for runs of the
// built binary.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sid_text.h"
#include "platform/sim/testing/test_world.h"
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
    }
    void TearDown() override {
        std::filesystem::remove_all(cwd_);
        SimWorldTest::TearDown();
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
        SetRegistryMultiString(machine, kShares, name,
                               {L"CSCFlags=0", L"MaxUses=4294967295", L"Path=" + path, L"Permissions=0",
                                L"Remark=" + remark, L"Type=0"});
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
    static std::map<std::string, std::string> Snapshot(const std::filesystem::path& root,
                                                       const std::string& leaveOut = "\n") {
        std::map<std::string, std::string> entries;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            std::string path = std::filesystem::relative(entry.path(), root).string();
            if (path.rfind(leaveOut, 0) == 0) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            entries[path] = entry.is_directory() ? "<dir>" : std::string(std::istreambuf_iterator<char>(in), {});
        }
        return entries;
    }
    // "type mask sid" of each entry of a self-relative descriptor's list, in order.
    static std::vector<std::string> DescriptorAces(std::vector<BYTE> descriptor) {
        std::vector<std::string> entries;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || !dacl) return entries;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) break;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entries.push_back(corvan::ToUtf8(corvan::Format(L"%u %x %ls", allowed->Header.AceType, allowed->Mask,
                                                            sim::SidToText(&allowed->SidStart).c_str())));
        }
        return entries;
    }

    std::filesystem::path cwd_;
};

}  // namespace corvan_test
