#include "security/ace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "core/object_store.h"
#include "core/test_support.h"
#include "security/security_test_support.h"

namespace {

using namespace security_test;

TEST(CAceTest, SidTextFollowsTheAuthorityTable) {
    EXPECT_EQ(L"S-1-1-0", CAce::SidText(Sid(kEveryone)));
    EXPECT_EQ(L"S-1-5-32-544", CAce::SidText(Sid(kAdmins)));
    EXPECT_EQ(L"S-1-0-0", CAce::SidText(Sid(MakeSid(0, {0}))));
    EXPECT_EQ(L"S-1-2-0", CAce::SidText(Sid(MakeSid(2, {0}))));
    EXPECT_EQ(L"S-1-3-1", CAce::SidText(Sid(MakeSid(3, {1}))));
    EXPECT_EQ(L"S-1-UnknownAuthority!-7", CAce::SidText(Sid(MakeSid(4, {7}))));
    EXPECT_EQ(L"S-1-UnknownAuthority!-7", CAce::SidText(Sid(MakeSid(16, {7}))));
    // The authority is compared as all six bytes, not only the last one.
    Bytes wide = MakeSid(5, {18});
    wide[2] = 1;
    EXPECT_EQ(L"S-1-UnknownAuthority!-18", CAce::SidText(Sid(wide)));
    // Sub-authorities are unsigned.
    EXPECT_EQ(L"S-1-5-21-3000000000-4294967295-0-500",
              CAce::SidText(Sid(MakeSid(5, {21, 3000000000u, 4294967295u, 0, 500}))));
    Bytes bad = kEveryone;
    bad[0] = 2;  // revision
    EXPECT_EQ(L"", CAce::SidText(Sid(bad)));
}

class CAceWorldTest : public SecurityWorldTest {};

TEST_F(CAceWorldTest, NamesOfSixtyCharactersDoNotFitAndAnEntryTooShortForItsSidHasNone) {
    const std::wstring fits(59, L'a');
    const std::wstring tooLong(60, L'b');
    AddLocalAccount(L"SRV01", fits, L"S-1-5-21-1-2-3-2001");
    AddLocalAccount(L"SRV01", tooLong, L"S-1-5-21-1-2-3-2002");

    Bytes first = MakeEntry(ACCESS_ALLOWED_ACE_TYPE, 0, 1, MakeSid(5, {21, 1, 2, 3, 2001}));
    CAce fitting(first.data(), 0);
    EXPECT_EQ(std::make_tuple(fits, L"S-1-5-21-1-2-3-2001"), std::tie(fitting.Trustee, fitting.SIDName));

    Bytes second = MakeEntry(ACCESS_ALLOWED_ACE_TYPE, 0, 1, MakeSid(5, {21, 1, 2, 3, 2002}));
    CAce tooLongAce(second.data(), 0);
    EXPECT_TRUE(tooLongAce.HasSid());
    EXPECT_EQ(std::make_tuple(L"", L"", L""), std::tie(tooLongAce.Trustee, tooLongAce.Domain, tooLongAce.SIDName));

    Bytes entry = MakeEntry(ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kAdmins);
    WORD shortSize = 20;  // four bytes short of the SID's end
    std::memcpy(&entry[2], &shortSize, 2);
    CAce ace(entry.data(), 0);
    EXPECT_EQ(std::make_tuple(kShareRead, false, std::wstring()),
              std::make_tuple(ace.AccessMask, ace.HasSid(), ace.SIDName));
    // A SID of no sub-authority (S-1-5) ends where its sixteen-byte entry ends.
    Bytes bare = MakeEntry(ACCESS_ALLOWED_ACE_TYPE, 0, 1, MakeSid(5, {}));
    ASSERT_EQ(16u, bare.size());
    EXPECT_TRUE(CAce(bare.data(), 0).HasSid());
}

TEST(CAceStoreTest, LoadsItsSectionAndLeavesTheNext) {
    // The class's keys, one again in other capitals (not the class's key),
    // and a base key in other capitals (the base keys ignore case).
    CObjectStore store;
    ASSERT_EQ(1, store.LoadFromFile(corvan_test::TestData("security/testdata/ace_load.ini")));
    ASSERT_TRUE(store.Next());

    CAce ace;
    EXPECT_EQ(1, ace.LoadProperty(store));
    EXPECT_EQ(std::make_tuple(L"S-1-5-32-544", L"BUILTIN", L"Administrators", kFullControl, 2,
                              static_cast<BYTE>(SYSTEM_AUDIT_ACE_TYPE), static_cast<BYTE>(0xC3), L"\\\\SRV02"),
              std::tie(ace.SIDName, ace.Domain, ace.Trustee, ace.AccessMask, ace.Index, ace.AceType, ace.AceFlags,
                       ace.ServerName));
    EXPECT_FALSE(ace.HasSid());
    ASSERT_TRUE(store.Next());
    EXPECT_EQ(L"5", store.CurrentEntrySection());
}

}  // namespace
