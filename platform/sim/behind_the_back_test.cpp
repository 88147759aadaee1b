// What the simulated calls keep between calls to spare host calls (folder
// listings, the security of folders above a file) follows every change made
// behind their back, by another process or straight on the host.
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

using namespace win32_files;

class BehindTheBackTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddFile(L"SRV01", L"D:\\Small\\a.txt", "a");
        AddFile(L"SRV01", L"D:\\Sec\\Team\\plan.doc", "plan");
    }
    DWORD Error(const wchar_t* path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        SetLastError(0);
        return GetFileAttributesExW(path, GetFileExInfoStandard, &data) ? 0 : GetLastError();
    }
};

TEST_F(BehindTheBackTest, AFolderLookedInAgainFollowsNamesChangedOnTheHost) {
    fs::path small = HostPathOf(L"SRV01", L"D:\\Small");
    // Looked in often enough for its names to be kept.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(0u, Error(L"D:\\Small\\A.TXT"));
    fs::rename(small / "a.txt", small / "B.txt");
    std::ofstream(small / "c.TXT") << "c";
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Error(L"D:\\Small\\A.TXT"));
    EXPECT_EQ(0u, Error(L"D:\\Small\\b.TXT"));
    EXPECT_EQ(0u, Error(L"D:\\Small\\C.txt"));
    // Its names are not taken for proof that it is still there.
    fs::remove_all(small);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), Error(L"D:\\Small\\B.TXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Error(L"D:\\Small"));
}

TEST_F(BehindTheBackTest, AFilesInheritedListFollowsTheFoldersAbove) {
    const wchar_t* const finance = L"S-1-5-21-1004336348-1177238915-682003330-1210";
    const AceEntry financeAll{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, 0x001F01FF, finance};
    const std::vector<AceEntry> standard = {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, L"S-1-5-32-544"},
                                            {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, L"S-1-5-18"},
                                            {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001200A9, L"S-1-5-32-545"}};
    const std::vector<AceEntry> financeOnly = {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, finance}};
    const wchar_t* const plan = L"D:\\Sec\\Team\\plan.doc";
    // Asked often enough for the folders' lists to be kept.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(standard, DaclOf(plan));

    // Set through the calls, two levels up.
    ASSERT_TRUE(SetDacl(L"D:\\Sec", {financeAll}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(plan));

    // Taken away on the host.
    fs::path sec = HostPathOf(L"SRV01", L"D:\\Sec");
    ASSERT_EQ(0, ::removexattr(sec.c_str(), "user.corvan.security"));
    EXPECT_EQ(standard, DaclOf(plan));

    // The folder moved away on the host and another made in its place.
    ASSERT_TRUE(SetDacl(L"D:\\Sec", {financeAll}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(plan));
    fs::rename(sec, sec.parent_path() / "Old");
    AddFile(L"SRV01", plan, "new plan");
    EXPECT_EQ(standard, DaclOf(plan));
    EXPECT_EQ(financeOnly, DaclOf(L"D:\\Old\\Team\\plan.doc"));
    // The new folders are the ones followed now.
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {financeAll}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(plan));
}

}  // namespace
