// The security of files and folders: own entries first, then what the
// folders above pass on, flagged as inherited; a protected list takes
// nothing from above.
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

using Entry = AceEntry;

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

TEST_F(FileSecurityTest, AProtectedListTakesNothingFromAboveAndPassesItsOwnOn) {
    const Entry deny{ACCESS_DENIED_ACE_TYPE, kOICI, 0x000D0116, kContractors};
    const Entry allow{ACCESS_ALLOWED_ACE_TYPE, kOICI, 0x001F01FF, kFinance};
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {deny, allow}, SE_DACL_PROTECTED));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    EXPECT_EQ((std::vector<Entry>{deny, allow}), DaclOf(L"D:\\Sec\\Team", &control));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_EQ((std::vector<Entry>{{ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, kContractors},
                                  {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kFinance}}),
              DaclOf(L"D:\\Sec\\Team\\plan.doc"));

    // An entry given as inherited is the folder's to pass on, not the file's own.
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team\\plan.doc",
                        {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kContractors},
                         {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, kUsers}},
                        0));
    EXPECT_EQ((std::vector<Entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, kUsers},
                                  {ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, kContractors},
                                  {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, kFinance}}),
              DaclOf(L"D:\\Sec\\Team\\plan.doc"));

    // A list set again replaces the one before.
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {allow}, SE_DACL_PROTECTED));
    EXPECT_EQ((std::vector<Entry>{allow}), DaclOf(L"D:\\Sec\\Team"));
    // An empty, unprotected list of its own leaves the file inheriting only.
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {}, 0));
    EXPECT_EQ(DriveEntries(kOICI | INHERITED_ACE), DaclOf(L"D:\\Sec\\Team"));
}

}  // namespace
