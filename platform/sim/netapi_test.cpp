// NetServerGetInfo and its buffer as Windows hands them out, on the world's machines.
#include <gtest/gtest.h>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/win32.h"

namespace {

class NetApiTest : public sim::SimWorldTest {};

LPBYTE Sentinel() { return reinterpret_cast<LPBYTE>(static_cast<uintptr_t>(0xdeadbeef)); }

TEST_F(NetApiTest, Level101DescribesTheServerNamedOrLocal) {
    AddMachine(L"srv01", 4, 0);
    SetLocalMachine(L"HOST01");
    sim::SetMachineSetting(L"srv01", L"Machine", L"Comment", L"File server");
    sim::SetMachineSetting(L"HOST01", L"Machine", L"VersionMinor", L"7x");  // not a number: the default
    struct {
        const wchar_t *server, *name, *comment;
        DWORD major, minor;
    } cases[] = {{L"\\\\SRV01", L"SRV01", L"File server", 4, 0}, {nullptr, L"HOST01", L"", 5, 2}};
    for (const auto& c : cases) {
        LPBYTE buffer = nullptr;
        ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(const_cast<LMSTR>(c.server), 101, &buffer));
        auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
        EXPECT_EQ(static_cast<DWORD>(PLATFORM_ID_NT), info->sv101_platform_id);
        EXPECT_STREQ(c.name, info->sv101_name);
        EXPECT_EQ(c.major, info->sv101_version_major);
        EXPECT_EQ(c.minor, info->sv101_version_minor);
        EXPECT_EQ(static_cast<DWORD>(SV_TYPE_SERVER_NT), info->sv101_type & SV_TYPE_SERVER_NT);
        EXPECT_STREQ(c.comment, info->sv101_comment);
        EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetApiBufferFree(buffer));
    }
    EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetApiBufferFree(nullptr));
}

TEST_F(NetApiTest, FailuresLeaveTheBufferAlone) {
    AddMachine(L"DOWN", 5, 2, false);
    AddMachine(L"SRV01");
    AddFault(L"NetServerGetInfo@SRV01=2351,1");
    struct {
        const wchar_t* server;
        DWORD level, error;
    } cases[] = {
        {L"\\\\NOSUCH", 101, ERROR_BAD_NETPATH}, {L"\\\\DOWN", 101, ERROR_BAD_NETPATH},
        {nullptr, 0, ERROR_INVALID_LEVEL},       {nullptr, 103, ERROR_INVALID_LEVEL},
        {L"\\\\srv01", 101, NERR_InvalidComputer},  // the injected failure, once
    };
    for (const auto& c : cases) {
        LPBYTE buffer = Sentinel();
        EXPECT_EQ(c.error, NetServerGetInfo(const_cast<LMSTR>(c.server), c.level, &buffer));
        EXPECT_EQ(Sentinel(), buffer);
    }
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(const_cast<LMSTR>(L"\\\\srv01"), 101, &buffer));
    NetApiBufferFree(buffer);
}

}  // namespace
