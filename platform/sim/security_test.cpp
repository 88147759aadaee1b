// Account lookups across the world's machines: each machine's own accounts,
// the domain's, the well-known ones, and machines that do not answer; and
// descriptors read no further than their revision allows.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <tuple>
#include <vector>

#include "platform/conformance/testing/sample_descriptors.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using Bytes = std::vector<BYTE>;
using namespace conformance;

// S-1-5-21-a-b-c-rid.
Bytes DomainSid(BYTE a, BYTE b, BYTE c, WORD rid) {
    return {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, a, 0, 0, 0, b, 0, 0, 0, c, 0, 0, 0, BYTE(rid), BYTE(rid >> 8), 0, 0};
}
const Bytes kLocalAdmin = DomainSid(1, 2, 3, 500), kLocalJdoe = DomainSid(1, 2, 3, 1001);
const Bytes kCorpJdoe = DomainSid(7, 8, 9, 1105);

// A lookup's answer: the error (0 on success), the name or SID found, its
// domain and its SID_NAME_USE.
using NameAnswer = std::tuple<DWORD, std::wstring, std::wstring, int>;
using SidAnswer = std::tuple<DWORD, Bytes, std::wstring, int>;

class AccountWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"srv01");  // its accounts' domain is the name in capitals
        AddMachine(L"SRV02");
        AddMachine(L"DOWN", 5, 2, false);
        AddLocalAccount(L"srv01", L"Administrator", L"S-1-5-21-1-2-3-500");
        AddLocalAccount(L"srv01", L"jdoe", L"S-1-5-21-1-2-3-1001");
        AddDomainAccount(L"CORP\\jdoe", L"S-1-5-21-7-8-9-1105");
    }

    // Lookups with ample buffers.
    static NameAnswer NameOf(LPCWSTR system, const Bytes& sid) {
        WCHAR name[64], domain[64];
        DWORD cchName = 64, cchDomain = 64;
        SID_NAME_USE use = SidTypeInvalid;
        SetLastError(0xdeadbeef);
        if (!LookupAccountSidW(system, Sid(sid), name, &cchName, domain, &cchDomain, &use))
            return {GetLastError(), L"", L"", 0};
        return {0, std::wstring(name, cchName), std::wstring(domain, cchDomain), use};
    }

    static SidAnswer SidOf(LPCWSTR system, LPCWSTR account) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        WCHAR domain[64];
        DWORD cbSid = sizeof sid, cchDomain = 64;
        SID_NAME_USE use = SidTypeInvalid;
        SetLastError(0xdeadbeef);
        if (!LookupAccountNameW(system, account, sid, &cbSid, domain, &cchDomain, &use))
            return {GetLastError(), {}, L"", 0};
        return {0, Bytes(sid, sid + cbSid), std::wstring(domain, cchDomain), use};
    }
};

TEST_F(AccountWorldTest, SidsMapToWellKnownMachineAndDomainAccounts) {
    struct { LPCWSTR system; Bytes sid; NameAnswer answer; } cases[] = {
        {L"", kEveryone, {0, L"Everyone", L"", SidTypeWellKnownGroup}},
        {nullptr, kSystem, {0, L"SYSTEM", L"NT AUTHORITY", SidTypeWellKnownGroup}},
        {L"", kLocalAdmin, {0, L"Administrator", L"SRV01", SidTypeUser}},
        {L"\\\\SRV01", kLocalAdmin, {0, L"Administrator", L"SRV01", SidTypeUser}},
        {L"srv01", kLocalAdmin, {0, L"Administrator", L"SRV01", SidTypeUser}},
        // SRV01's own accounts are unknown to SRV02; the domain's are known to both.
        {L"\\\\SRV02", kLocalAdmin, {ERROR_NONE_MAPPED, L"", L"", 0}},
        {L"\\\\SRV02", kCorpJdoe, {0, L"jdoe", L"CORP", SidTypeUser}},
        {nullptr, DomainSid(1, 2, 3, 501), {ERROR_NONE_MAPPED, L"", L"", 0}},
        {L"\\\\NOSUCH", kAdmins, {RPC_S_SERVER_UNAVAILABLE, L"", L"", 0}},
        {L"\\\\DOWN", kAdmins, {RPC_S_SERVER_UNAVAILABLE, L"", L"", 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameOf(c.system, c.sid), c.answer) << (c.system ? corvan::ToUtf8(c.system) : "null");
    // An injected failure fires before the lookup, for the SID it names alone.
    AddFault(L"LookupAccountSidW:S-1-1-0=5");
    EXPECT_EQ(5u, std::get<0>(NameOf(L"SRV02", kEveryone)));
    EXPECT_EQ(0u, std::get<0>(NameOf(nullptr, kAdmins)));
}

TEST_F(AccountWorldTest, NamesMatchIgnoringCaseAndBareNamesPreferWellKnownThenLocalThenDomain) {
    // A machine group named like a built-in one loses to it unless qualified.
    AddLocalAccount(L"srv01", L"Users", L"S-1-5-21-1-2-3-1002,Alias");
    Bytes builtinUsers = kAdmins;
    builtinUsers[12] = 0x21;  // S-1-5-32-545
    struct { LPCWSTR system, account; SidAnswer answer; } cases[] = {
        {nullptr, L"builtin\\ADMINISTRATORS", {0, kAdmins, L"BUILTIN", SidTypeAlias}},
        {nullptr, L"EVERYONE", {0, kEveryone, L"", SidTypeWellKnownGroup}},
        {L"\\\\srv02", L"nt authority\\system", {0, kSystem, L"NT AUTHORITY", SidTypeWellKnownGroup}},
        {nullptr, L"srv01\\administrator", {0, kLocalAdmin, L"SRV01", SidTypeUser}},
        {L"SRV01", L"jdoe", {0, kLocalJdoe, L"SRV01", SidTypeUser}},
        {L"SRV02", L"JDOE", {0, kCorpJdoe, L"CORP", SidTypeUser}},
        {L"SRV01", L"CORP\\jdoe", {0, kCorpJdoe, L"CORP", SidTypeUser}},
        {L"SRV01", L"users", {0, builtinUsers, L"BUILTIN", SidTypeAlias}},
        {L"SRV01", L"SRV01\\Users", {0, DomainSid(1, 2, 3, 1002), L"SRV01", SidTypeAlias}},
        {L"SRV02", L"Administrator", {ERROR_NONE_MAPPED, {}, L"", 0}},  // SRV01's own account
        {L"\\\\NOSUCH", L"Administrators", {RPC_S_SERVER_UNAVAILABLE, {}, L"", 0}},
        {L"\\\\DOWN", L"Administrators", {RPC_S_SERVER_UNAVAILABLE, {}, L"", 0}},
        {L"SRV01", L"CORP\\Administrator", {ERROR_NONE_MAPPED, {}, L"", 0}},
        {L"SRV01", L"", {ERROR_NONE_MAPPED, {}, L"", 0}},
        {L"SRV01", L"BUILTIN\\", {ERROR_NONE_MAPPED, {}, L"", 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(SidOf(c.system, c.account), c.answer) << corvan::ToUtf8(c.account);
    // An injected failure fires on the machine it names, as often as it says.
    AddFault(L"LookupAccountNameW@SRV02=1789,1");
    EXPECT_EQ(0u, std::get<0>(SidOf(L"SRV01", L"Administrators")));
    EXPECT_EQ(1789u, std::get<0>(SidOf(L"\\\\srv02", L"Administrators")));
    EXPECT_EQ(0u, std::get<0>(SidOf(L"\\\\srv02", L"Administrators")));
}

// The descriptor's last byte is the last byte before an unreadable page: a
// check that reads past what the revision allows faults.
TEST(SecurityDescriptorWorldTest, DescriptorsOfAnotherRevisionAreRefusedWithoutReadingTheirHeader) {
    const long page = sysconf(_SC_PAGESIZE);
    void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, pages);
    ASSERT_EQ(0, mprotect(static_cast<char*>(pages) + page, page, PROT_NONE));
    BYTE* descriptor = static_cast<BYTE*>(pages) + page - 4;
    descriptor[0] = 2;  // revision 2, no self-relative bit: the fresh page holds zeros

    EXPECT_FAILS_WITH(ERROR_INVALID_SECURITY_DESCR, IsValidSecurityDescriptor(descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_FAILS_WITH(ERROR_UNKNOWN_REVISION, GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_EQ(2u, revision);
    munmap(pages, 2 * page);
}

}  // namespace
