// NetServerGetInfo and its buffer as Windows hands them out.
#include <gtest/gtest.h>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/win32.h"

namespace {

class NetApiTest : public sim::SimWorldTest {};

LPBYTE Sentinel() { return reinterpret_cast<LPBYTE>(static_cast<uintptr_t>(0xdeadbeef)); }

TEST_F(NetApiTest, Level101DescribesTheServer) {
    AddMachine(L"srv01", 4, 0);
    sim::SetMachineSetting(L"srv01", L"Machine", L"Comment", L"File server");
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(const_cast<LMSTR>(L"\\\\SRV01"), 101, &buffer));
    auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
    EXPECT_EQ(static_cast<DWORD>(PLATFORM_ID_NT), info->sv101_platform_id);
    EXPECT_STREQ(L"SRV01", info->sv101_name);
    EXPECT_EQ(4u, info->sv101_version_major);
    EXPECT_EQ(0u, info->sv101_version_minor);
    EXPECT_EQ(static_cast<DWORD>(SV_TYPE_SERVER_NT), info->sv101_type & SV_TYPE_SERVER_NT);
    EXPECT_STREQ(L"File server", info->sv101_comment);
    EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetApiBufferFree(buffer));
}

TEST_F(NetApiTest, TheLocalMachineAnswersWithoutAName) {
    SetLocalMachine(L"HOST01");
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(nullptr, 101, &buffer));
    auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
    EXPECT_STREQ(L"HOST01", info->sv101_name);
    EXPECT_EQ(5u, info->sv101_version_major);
    EXPECT_EQ(2u, info->sv101_version_minor);
    NetApiBufferFree(buffer);
}

TEST_F(NetApiTest, UnknownOrUnreachableServerIsBadNetpath) {
    AddMachine(L"DOWN", 5, 2, false);
    LPBYTE buffer = Sentinel();
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), NetServerGetInfo(const_cast<LMSTR>(L"\\\\NOSUCH"), 101, &buffer));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), NetServerGetInfo(const_cast<LMSTR>(L"\\\\DOWN"), 101, &buffer));
    EXPECT_EQ(Sentinel(), buffer);
}

TEST_F(NetApiTest, OtherLevelsAreInvalid) {
    LPBYTE buffer = Sentinel();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), NetServerGetInfo(nullptr, 0, &buffer));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), NetServerGetInfo(nullptr, 103, &buffer));
    EXPECT_EQ(Sentinel(), buffer);
}

TEST_F(NetApiTest, FreeingNothingSucceeds) { EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetApiBufferFree(nullptr)); }

TEST_F(NetApiTest, InjectedFailureNamesTheMachine) {
    AddMachine(L"SRV01");
    AddFault(L"NetServerGetInfo@SRV01=2351,1");
    LPBYTE buffer = nullptr;
    EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(nullptr, 101, &buffer));
    NetApiBufferFree(buffer);
    EXPECT_EQ(static_cast<DWORD>(NERR_InvalidComputer), NetServerGetInfo(const_cast<LMSTR>(L"\\\\srv01"), 101, &buffer));
    ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(const_cast<LMSTR>(L"\\\\srv01"), 101, &buffer));
    NetApiBufferFree(buffer);
}

}  // namespace
