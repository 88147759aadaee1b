#include "security/acl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/object_store.h"
#include "security/security_test_support.h"

namespace {

using namespace security_test;

class CAclTest : public SecurityWorldTest {};

TEST_F(CAclTest, EnumReadsEveryEntryInOrder) {
    AclBuilder source;
    source.Add(ACCESS_DENIED_ACE_TYPE, 0, 0x10000, kJdoe)
        .Add(ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kShareRead, kEveryone)
        .Add(ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdmins);
    CAcl acl;
    EXPECT_EQ(1, acl.Enum(source.Build()));
    ASSERT_EQ(3, acl.GetCount());
    EXPECT_EQ(0u, acl.NullAcl);
    EXPECT_EQ(L"jdoe", acl.GetAt(0)->Trustee);
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, acl.GetAt(0)->AceType);
    EXPECT_EQ(L"Everyone", acl.GetAt(1)->Trustee);
    EXPECT_EQ(CONTAINER_INHERIT_ACE, acl.GetAt(1)->AceFlags);
    EXPECT_EQ(2, acl.GetAt(2)->Index);
    EXPECT_EQ(kFullControl, acl.GetAt(2)->AccessMask);
    EXPECT_EQ(nullptr, acl.GetAt(3));
    EXPECT_EQ(nullptr, acl.GetAt(-1));
}

TEST_F(CAclTest, EnumOfAnUnreadableListKeepsNoEntriesAndRecordsIt) {
    Bytes broken(16, 0);
    broken[0] = 9;  // no such revision
    CAcl acl;
    EXPECT_EQ(1, acl.Enum(reinterpret_cast<PACL>(broken.data())));
    EXPECT_EQ(0, acl.GetCount());
    EXPECT_EQ(L"IsValidAcl", acl.ErrorWin32API);
    EXPECT_EQ(1336u, acl.LastErrorCode);
    // Present but unreadable: rebuilt as a list nobody is granted by.
    EXPECT_EQ(0u, acl.NullAcl);
}

TEST_F(CAclTest, GetRebuildsTypesFlagsMasksAndOrder) {
    AclBuilder source;
    source.Add(ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, kFullControl, kJdoe)
        .Add(ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, kShareRead, kJdoe)
        .Add(SYSTEM_AUDIT_ACE_TYPE, FAILED_ACCESS_ACE_FLAG | CONTAINER_INHERIT_ACE, 0x10000, kEveryone)
        .Add(SYSTEM_AUDIT_ACE_TYPE, SUCCESSFUL_ACCESS_ACE_FLAG, 0x20000, kAdmins);
    CAcl acl;
    acl.Enum(source.Build());

    PACL built = nullptr;
    ASSERT_EQ(1, acl.Get(built));
    ASSERT_NE(nullptr, built);
    EXPECT_TRUE(IsValidAcl(built));
    EXPECT_EQ(source.entries(), Entries(built));
    EXPECT_EQ(0u, acl.GetBuildError());
}

TEST_F(CAclTest, WithoutEntriesTheSourceDecidesBetweenNullAndEmpty) {
    CAcl absent;
    absent.Enum(nullptr);
    PACL built = reinterpret_cast<PACL>(&absent);  // must be overwritten
    EXPECT_EQ(1, absent.Get(built));
    EXPECT_EQ(nullptr, built);

    AclBuilder empty;
    CAcl present;
    present.Enum(empty.Build());
    ASSERT_EQ(1, present.Get(built));
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(8, built->AclSize);
    EXPECT_EQ(0, built->AceCount);
    EXPECT_TRUE(IsValidAcl(built));
}

TEST_F(CAclTest, AMissingAccountFailsTheBuild) {
    CAcl acl;
    auto* known = new CAce();
    known->Trustee = L"Everyone";
    known->AccessMask = kShareRead;
    auto* ghost = new CAce();
    ghost->Trustee = L"ghost";
    ghost->Index = 1;
    acl.AddAce(known);
    acl.AddAce(ghost);

    PACL built = reinterpret_cast<PACL>(&acl);
    EXPECT_EQ(0, acl.Get(built));
    EXPECT_EQ(nullptr, built);
    EXPECT_EQ(L"LookupAccountName(ghost) failed.  Error 1332 ", ghost->ErrorWin32API);
    EXPECT_EQ(1332u, ghost->LastErrorCode);
    EXPECT_EQ(L"IsValidSid()", acl.ErrorWin32API);
    EXPECT_EQ(L"CAcl::Get()", acl.ErrorFunction);
    EXPECT_EQ(1332u, acl.LastErrorCode);
    EXPECT_EQ(1332u, acl.GetBuildError());
    EXPECT_EQ(L"IsValidSid()", acl.GetBuildFailure());

    // Once the account exists the same entries build, and the failure of the
    // earlier build is no longer reported as this one's.
    AddLocalAccount(L"SRV01", L"ghost", L"S-1-5-21-1-2-3-1999");
    ASSERT_EQ(1, acl.Get(built));
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(0u, acl.GetBuildError());
    auto entries = Entries(built);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(kEveryone, entries[0].sid);
    EXPECT_EQ(MakeSid(5, {21, 1, 2, 3, 1999}), entries[1].sid);
}

TEST_F(CAclTest, SavesItsSectionThenItsEntries) {
    AclBuilder source;
    source.Add(ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kEveryone).Add(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kAdmins);
    CAcl acl;
    acl.Enum(source.Build());
    CObjectStore store;
    store.NewSection(L"class", L"COwner");
    acl.SaveProperties(store);

    std::vector<std::wstring> headers;
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        const CStoreEntry& e = store.GetEntryAt(i);
        if (e.Key == L"class" || e.Key == L"parent" || e.Key == L"NullAcl")
            headers.push_back(e.Section + L"|" + e.Key + L"=" + e.Value);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"1|class=COwner", L"2|class=CAcl", L"2|parent=1",
                                         L"2|NullAcl=dword:00000000", L"3|class=CAce", L"3|parent=2",
                                         L"4|class=CAce", L"4|parent=2"}),
              headers);
}

TEST_F(CAclTest, LoadTakesItsEntriesAndStopsAtAnotherClass) {
    CObjectStore store;
    store.AddEntry(L"2", L"class", L"CAcl");
    store.AddEntry(L"2", L"parent", L"1");
    store.AddEntry(L"2", L"NullAcl", L"dword:00000000");
    store.AddEntry(L"3", L"class", L"CAce");
    store.AddEntry(L"3", L"Trustee", L"\"Everyone\"");
    store.AddEntry(L"4", L"class", L"CAce");
    store.AddEntry(L"4", L"Trustee", L"\"Administrators\"");
    store.AddEntry(L"5", L"class", L"CShare");
    store.Rewind();
    ASSERT_TRUE(store.Next());

    CAcl acl;
    EXPECT_EQ(1, acl.LoadProperty(store));
    ASSERT_EQ(2, acl.GetCount());
    EXPECT_EQ(L"Everyone", acl.GetAt(0)->Trustee);
    EXPECT_EQ(L"Administrators", acl.GetAt(1)->Trustee);
    EXPECT_EQ(0u, acl.NullAcl);
    ASSERT_TRUE(store.Next());
    EXPECT_EQ(L"CShare", store.CurrentValue()) << "the foreign section is left for the caller";
}

}  // namespace
