// NetShareAdd and NetShareDel look a share up by its name alone: only an
// entry that is a share (a REG_MULTI_SZ value) counts, and only the drives
// the machine has make administrative names.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/testing/test_world.h"
#include "platform/win32.h"

namespace {

const wchar_t kShares[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";

class ShareLookupTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\Data");
    }

    static long Add(const wchar_t* name) {
        SHARE_INFO_502 info{};
        info.shi502_netname = const_cast<LMSTR>(name);
        info.shi502_type = STYPE_DISKTREE;
        info.shi502_max_uses = SHI_USES_UNLIMITED;
        info.shi502_path = const_cast<LMSTR>(L"D:\\Data");
        return static_cast<long>(NetShareAdd(nullptr, 502, reinterpret_cast<LPBYTE>(&info), nullptr));
    }
    static long Del(const wchar_t* name) { return static_cast<long>(NetShareDel(nullptr, const_cast<LMSTR>(name), 0)); }
};

TEST_F(ShareLookupTest, OnlyAShareEntryMakesANameTaken) {
    SetRegistryString(L"SRV01", kShares, L"Text", L"Path=D:\\Data");  // a value, but not a share
    EXPECT_EQ(NERR_NetNameNotFound, Del(L"text"));
    EXPECT_EQ(NERR_Success, Add(L"TEXT"));  // takes the place of the stray value
    DWORD type = 0;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kShares, L"Text", &type, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(NERR_DuplicateShare, Add(L"Text"));
    EXPECT_EQ(NERR_Success, Del(L"tExT"));
    EXPECT_EQ(NERR_NetNameNotFound, Del(L"Text"));

    // "D$" belongs to the drive the machine has; "Q$" is a name like any other.
    EXPECT_EQ(NERR_DuplicateShare, Add(L"d$"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Del(L"D$"));
    EXPECT_EQ(NERR_Success, Add(L"Q$"));
    EXPECT_EQ(NERR_Success, Del(L"q$"));
}

}  // namespace
