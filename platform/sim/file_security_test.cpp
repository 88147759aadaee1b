// The security of files and folders: own entries first, then what the
// folders above pass on, flagged as inherited; a protected list takes
// nothing from above; copies take their new folder's entries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using namespace win32_files;

const wchar_t kAdmins[] = L"S-1-5-32-544";
const wchar_t kSystem[] = L"S-1-5-18";
const wchar_t kUsers[] = L"S-1-5-32-545";
const wchar_t kContractors[] = L"S-1-5-21-1004336348-1177238915-682003330-1211";
const wchar_t kFinance[] = L"S-1-5-21-1004336348-1177238915-682003330-1210";
constexpr BYTE kOICI = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct Entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
    bool operator==(const Entry& o) const {
        return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
    }
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << int(e.type) << "/" << std::hex << int(e.flags) << "/" << e.mask << std::dec << "/"
               << corvan::ToUtf8(e.sid);
}

// A descriptor holding a list of the given entries, in order.
class Descriptor {
public:
    Descriptor(const std::vector<Entry>& entries, WORD control) : acl_(1024) {
        auto* acl = reinterpret_cast<PACL>(acl_.data());
        EXPECT_TRUE(InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION));
        for (const Entry& e : entries) {
            PSID sid = nullptr;
            EXPECT_TRUE(ConvertStringSidToSidW(e.sid.c_str(), &sid));
            if (e.type == ACCESS_DENIED_ACE_TYPE)
                EXPECT_TRUE(AddAccessDeniedAceEx(acl, ACL_REVISION, e.flags, e.mask, sid));
            else
                EXPECT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, e.flags, e.mask, sid));
            LocalFree(sid);
        }
        EXPECT_TRUE(InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE));
        if (control) EXPECT_TRUE(SetSecurityDescriptorControl(&sd_, control, control));
    }
    PSECURITY_DESCRIPTOR get() { return &sd_; }

private:
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR sd_;
};

struct Read {
    std::vector<Entry> dacl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

Read DaclOf(const std::wstring& path) {
    Read read;
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::vector<BYTE> sd(needed);
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed)) {
        ADD_FAILURE() << corvan::ToUtf8(path) << ": " << GetLastError();
        return read;
    }
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd.data(), &read.control, &revision);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &acl, &defaulted));
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        LPWSTR text = nullptr;
        EXPECT_TRUE(ConvertSidToStringSidW(&allowed->SidStart, &text));
        read.dacl.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask, text ? text : L""});
        LocalFree(text);
    }
    return read;
}

class FileSecurityTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Sec", nullptr));
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Sec\\Team", nullptr));
        ASSERT_TRUE(WriteNewFile(L"D:\\Sec\\Team\\plan.doc", "plan"));
    }

    // What every folder and file below an untouched drive root inherits.
    static std::vector<Entry> DriveEntries(BYTE flags) {
        return {{ACCESS_ALLOWED_ACE_TYPE, flags, 0x001F01FF, kAdmins},
                {ACCESS_ALLOWED_ACE_TYPE, flags, 0x001F01FF, kSystem},
                {ACCESS_ALLOWED_ACE_TYPE, flags, 0x001200A9, kUsers}};
    }
    static std::vector<Entry> Concat(std::vector<Entry> a, const std::vector<Entry>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

TEST_F(FileSecurityTest, OwnEntriesComeFirstThenInheritedOnesFlaggedAsSuch) {
    const Entry deny{ACCESS_DENIED_ACE_TYPE, kOICI, 0x000D0116, kContractors};
    const Entry allow{ACCESS_ALLOWED_ACE_TYPE, kOICI, 0x001F01FF, kFinance};
    const Entry folderOnly{ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, 0x001200A9, kContractors};

    // Untouched: everything comes from the drive's root.
    Read folder = DaclOf(L"D:\\Sec\\Team");
    EXPECT_EQ(DriveEntries(kOICI | INHERITED_ACE), folder.dacl);
    EXPECT_FALSE(folder.control & SE_DACL_PROTECTED);
    EXPECT_TRUE(folder.control & SE_DACL_AUTO_INHERITED);
    EXPECT_EQ(DriveEntries(INHERITED_ACE), DaclOf(L"D:\\Sec\\Team\\plan.doc").dacl);

    Descriptor own({deny, allow, folderOnly}, 0);
    ASSERT_TRUE(SetFileSecurityW(L"D:\\Sec", DACL_SECURITY_INFORMATION, own.get()));
    EXPECT_EQ(Concat({deny, allow, folderOnly}, DriveEntries(kOICI | INHERITED_ACE)), DaclOf(L"D:\\Sec").dacl);
    // A folder below takes all three; a file only those meant for files.
    auto inherited = [](Entry e, BYTE flags) {
        e.flags = flags;
        return e;
    };
    EXPECT_EQ(Concat({inherited(deny, kOICI | INHERITED_ACE), inherited(allow, kOICI | INHERITED_ACE),
                      inherited(folderOnly, CONTAINER_INHERIT_ACE | INHERITED_ACE)},
                     DriveEntries(kOICI | INHERITED_ACE)),
              DaclOf(L"D:\\Sec\\Team").dacl);
    EXPECT_EQ(Concat({inherited(deny, INHERITED_ACE), inherited(allow, INHERITED_ACE)}, DriveEntries(INHERITED_ACE)),
              DaclOf(L"D:\\Sec\\Team\\plan.doc").dacl);
}

TEST_F(FileSecurityTest, AProtectedListTakesNothingFromAboveAndPassesItsOwnOn) {
    const Entry deny{ACCESS_DENIED_ACE_TYPE, kOICI, 0x000D0116, kContractors};
    const Entry allow{ACCESS_ALLOWED_ACE_TYPE, kOICI, 0x001F01FF, kFinance};
    Descriptor own({deny, allow}, SE_DACL_PROTECTED);
    ASSERT_TRUE(SetFileSecurityW(L"D:\\Sec\\Team", DACL_SECURITY_INFORMATION, own.get()));
    Read team = DaclOf(L"D:\\Sec\\Team");
    EXPECT_EQ((std::vector<Entry>{deny, allow}), team.dacl);
    EXPECT_TRUE(team.control & SE_DACL_PROTECTED);
    EXPECT_EQ((std::vector<Entry>{{ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, kContractors},
                                  {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kFinance}}),
              DaclOf(L"D:\\Sec\\Team\\plan.doc").dacl);

    // An entry given as inherited is the folder's to pass on, not the file's own.
    Descriptor mixed({{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kContractors},
                      {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, kUsers}},
                     0);
    ASSERT_TRUE(SetFileSecurityW(L"D:\\Sec\\Team\\plan.doc", DACL_SECURITY_INFORMATION, mixed.get()));
    EXPECT_EQ((std::vector<Entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, kUsers},
                                  {ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, kContractors},
                                  {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kFinance}}),
              DaclOf(L"D:\\Sec\\Team\\plan.doc").dacl);

    // An empty, unprotected list of its own leaves the file inheriting only.
    Descriptor none({}, 0);
    ASSERT_TRUE(SetFileSecurityW(L"D:\\Sec\\Team", DACL_SECURITY_INFORMATION, none.get()));
    EXPECT_EQ(DriveEntries(kOICI | INHERITED_ACE), DaclOf(L"D:\\Sec\\Team").dacl);
}

TEST_F(FileSecurityTest, ACopyTakesItsNewFoldersEntriesNotTheSourcesOwn) {
    Descriptor own({{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, kFinance}}, SE_DACL_PROTECTED);
    ASSERT_TRUE(SetFileSecurityW(L"D:\\Sec\\Team\\plan.doc", DACL_SECURITY_INFORMATION, own.get()));
    ASSERT_TRUE(CopyFileW(L"D:\\Sec\\Team\\plan.doc", L"D:\\Sec\\copy.doc", TRUE));
    Read copy = DaclOf(L"D:\\Sec\\copy.doc");
    EXPECT_EQ(DriveEntries(INHERITED_ACE), copy.dacl);
    EXPECT_FALSE(copy.control & SE_DACL_PROTECTED);
    // A move keeps the file's own list.
    ASSERT_TRUE(MoveFileExW(L"D:\\Sec\\Team\\plan.doc", L"D:\\Sec\\moved.doc", 0));
    EXPECT_EQ((std::vector<Entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, kFinance}}),
              DaclOf(L"D:\\Sec\\moved.doc").dacl);
}

TEST_F(FileSecurityTest, SecurityCallErrors) {
    Descriptor own({}, 0);
    BYTE garbage[64] = {9};
    DWORD needed = 0;
    BYTE buffer[256];
    struct {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    } cases[] = {
        {"audit list without the privilege",
         [&] { return GetFileSecurityW(L"D:\\Sec", SACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed); },
         ERROR_PRIVILEGE_NOT_HELD},
        {"missing file",
         [&] { return GetFileSecurityW(L"D:\\Sec\\no.txt", DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed); },
         ERROR_FILE_NOT_FOUND},
        {"buffer too small",
         [&] { return GetFileSecurityW(L"D:\\Sec", DACL_SECURITY_INFORMATION, buffer, 8, &needed); },
         ERROR_INSUFFICIENT_BUFFER},
        {"invalid descriptor", [&] { return SetFileSecurityW(L"D:\\Sec", DACL_SECURITY_INFORMATION, garbage); },
         ERROR_INVALID_SECURITY_DESCR},
        {"missing folder",
         [&] { return SetFileSecurityW(L"D:\\None\\x", DACL_SECURITY_INFORMATION, own.get()); },
         ERROR_PATH_NOT_FOUND},
    };
    for (auto& c : cases) EXPECT_EQ(c.error, ErrorOf(c.call)) << c.what;
    EXPECT_GT(needed, 8u);  // the size the small buffer lacked
}

}  // namespace
