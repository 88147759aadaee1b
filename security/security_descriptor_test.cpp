#include "security/security_descriptor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/conformance/testing/sample_descriptors.h"
#include "platform/sim/world.h"
#include "security/security_test_support.h"

namespace {

using namespace security_test;

const Bytes& kShareSd = conformance::kShareDescriptor;

// The same share with a present, empty DACL: nobody may access it.
const Bytes kEmptyDaclSd = {
    0x01, 0x00, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0,
    0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// No lists at all.
const Bytes kNoListsSd = {0x01, 0x00, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

PSECURITY_DESCRIPTOR Descriptor(const Bytes& bytes) { return const_cast<BYTE*>(bytes.data()); }
PACL Acl(Bytes& bytes) { return reinterpret_cast<PACL>(bytes.data()); }

struct Lists {
    BOOL daclPresent = FALSE;
    PACL dacl = nullptr;
    BOOL saclPresent = FALSE;
    PACL sacl = nullptr;
};

Lists ListsOf(PSECURITY_DESCRIPTOR sd) {
    Lists lists;
    BOOL defaulted = FALSE;
    EXPECT_TRUE(GetSecurityDescriptorDacl(sd, &lists.daclPresent, &lists.dacl, &defaulted));
    EXPECT_TRUE(GetSecurityDescriptorSacl(sd, &lists.saclPresent, &lists.sacl, &defaulted));
    return lists;
}

class CSecurityDescriptorTest : public SecurityWorldTest {
protected:
    // Saves the descriptor after a share's section, as a share backup does.
    void SaveBackup(CSecurityDescriptor& sd, const std::wstring& path) {
        CObjectStore store;
        store.NewSection(L"class", L"CShare");
        store.AddToSection(L"parent", L"NULL");
        store.AddToSection(L"NetName", L"\"Public\"");
        sd.SaveProperties(store);
        ASSERT_EQ(1, store.SaveToFile(path));
    }

    // Loads the descriptor of a backup the way its owner does: at its "class" entry.
    std::unique_ptr<CSecurityDescriptor> LoadBackup(const std::wstring& path) {
        CObjectStore store;
        EXPECT_EQ(1, store.LoadFromFile(path));
        while (store.Next()) {
            if (store.CurrentKey() == L"class" && store.CurrentValue() == L"CSecurityDescriptor") {
                auto sd = std::make_unique<CSecurityDescriptor>();
                sd->LoadProperty(store);
                return sd;
            }
        }
        ADD_FAILURE() << "no descriptor in the backup";
        return std::make_unique<CSecurityDescriptor>();
    }

    std::unique_ptr<CSecurityDescriptor> RoundTrip(CSecurityDescriptor& sd) {
        const std::wstring path = WorldFile("share.bkp");
        SaveBackup(sd, path);
        return LoadBackup(path);
    }
};

TEST_F(CSecurityDescriptorTest, ShareDescriptorIsReadDumpedSavedLoadedAndRebuilt) {
    CSecurityDescriptor source;
    ASSERT_EQ(1, source.Enum(Descriptor(kShareSd)));
    ASSERT_EQ(2, source.DiscretionaryAcl.GetCount());
    EXPECT_EQ(0, source.SystemAcl.GetCount());
    EXPECT_EQ(corvan_test::Golden("security/testdata/share_descriptor_dump.txt"),
              corvan_test::Printed([&] { source.Dump(); }));

    const std::wstring path = WorldFile("share.bkp");
    SaveBackup(source, path);
    EXPECT_EQ(corvan_test::Golden("security/testdata/share_descriptor.ini"),
              corvan_test::ReadBytes(corvan::ToUtf8(path)));

    auto loaded = LoadBackup(path);
    ASSERT_EQ(2, loaded->DiscretionaryAcl.GetCount());
    EXPECT_FALSE(loaded->DiscretionaryAcl.GetAt(0)->HasSid()) << "found again by name only";
    PSECURITY_DESCRIPTOR built = nullptr;
    ASSERT_EQ(1, loaded->Get(built));
    ASSERT_NE(nullptr, built);
    EXPECT_TRUE(loaded->HasDescriptor());
    EXPECT_EQ(L"", loaded->DiscretionaryAcl.GetAt(0)->ErrorCode);  // a lookup that worked records no error
    EXPECT_TRUE(IsValidSecurityDescriptor(built));

    Lists lists = ListsOf(built);
    ASSERT_TRUE(lists.daclPresent);
    ASSERT_NE(nullptr, lists.dacl);
    EXPECT_EQ((std::vector<Entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kEveryone},
                                  {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdmins}}),
              Entries(lists.dacl));
    EXPECT_TRUE(lists.saclPresent);
    EXPECT_EQ(nullptr, lists.sacl);

    // The built descriptor can be handed to calls that want the stored form.
    DWORD size = 0;
    EXPECT_FALSE(MakeSelfRelativeSD(built, nullptr, &size));
    Bytes relative(size);
    ASSERT_TRUE(MakeSelfRelativeSD(built, relative.data(), &size));
    EXPECT_TRUE(IsValidSecurityDescriptor(relative.data()));
}

TEST_F(CSecurityDescriptorTest, DenyAndAllowForOneAccountComeBackAsTheyWere) {
    const std::vector<Entry> dacl = {
        {ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, 0x000D0116, kJdoe},
        {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kShareRead, kJdoe},
        {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdmins}};
    const std::vector<Entry> sacl = {{SYSTEM_AUDIT_ACE_TYPE, FAILED_ACCESS_ACE_FLAG, kFullControl, kEveryone}};
    Bytes daclBytes = MakeAcl(dacl), saclBytes = MakeAcl(sacl);
    Bytes absolute(SECURITY_DESCRIPTOR_MIN_LENGTH);
    ASSERT_TRUE(InitializeSecurityDescriptor(absolute.data(), SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(absolute.data(), TRUE, Acl(daclBytes), FALSE));
    ASSERT_TRUE(SetSecurityDescriptorSacl(absolute.data(), TRUE, Acl(saclBytes), FALSE));

    CSecurityDescriptor source;
    ASSERT_EQ(1, source.Enum(absolute.data()));
    auto loaded = RoundTrip(source);
    PSECURITY_DESCRIPTOR built = nullptr;
    ASSERT_EQ(1, loaded->Get(built));
    ASSERT_NE(nullptr, built);
    Lists lists = ListsOf(built);
    EXPECT_EQ(dacl, Entries(lists.dacl));
    EXPECT_EQ(sacl, Entries(lists.sacl));
}

// An empty list stays empty and a missing one missing; a backup written
// before entries kept their type and lists their null mark gives its entry
// back allowed and its empty system list as no list.
TEST_F(CSecurityDescriptorTest, ListsComeBackAsTheyWere) {
    CSecurityDescriptor empty, none;
    ASSERT_EQ(1, empty.Enum(Descriptor(kEmptyDaclSd)));
    ASSERT_EQ(1, none.Enum(Descriptor(kNoListsSd)));
    const struct {
        const char* what;
        std::unique_ptr<CSecurityDescriptor> loaded;
        bool nullDacl;
        std::vector<Entry> dacl;
    } cases[] = {
        {"empty", RoundTrip(empty), false, {}},
        {"none", RoundTrip(none), true, {}},
        {"old", LoadBackup(corvan_test::TestData("security/testdata/share_descriptor_old.ini")), false,
         {{ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kEveryone}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR built = nullptr;
        ASSERT_EQ(1, c.loaded->Get(built));
        Lists lists = ListsOf(built);
        EXPECT_TRUE(lists.daclPresent);
        // An empty list become a null one would let everybody in.
        ASSERT_EQ(c.nullDacl, lists.dacl == nullptr);
        if (lists.dacl) EXPECT_EQ(c.dacl, Entries(lists.dacl));
        EXPECT_TRUE(lists.saclPresent);
        EXPECT_EQ(nullptr, lists.sacl);
    }
}

TEST_F(CSecurityDescriptorTest, AnAccountMissingOnTheTargetLeavesNoDescriptorAndSaysWhy) {
    Bytes dacl =
        MakeAcl({{ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdmins}, {ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kJdoe}});
    Bytes absolute(SECURITY_DESCRIPTOR_MIN_LENGTH);
    ASSERT_TRUE(InitializeSecurityDescriptor(absolute.data(), SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(absolute.data(), TRUE, Acl(dacl), FALSE));
    CSecurityDescriptor source;
    ASSERT_EQ(1, source.Enum(absolute.data()));
    ASSERT_EQ(L"jdoe", source.DiscretionaryAcl.GetAt(1)->Trustee);
    const std::wstring path = WorldFile("share.bkp");
    SaveBackup(source, path);

    // Restored on SRV02, which has no account jdoe.
    SetLocalMachine(L"SRV02");
    sim::ResetWorld();
    auto loaded = LoadBackup(path);
    PSECURITY_DESCRIPTOR built = Descriptor(kShareSd);  // must not survive
    EXPECT_EQ(1, loaded->Get(built));
    EXPECT_EQ(nullptr, built);
    EXPECT_FALSE(loaded->HasDescriptor());

    CAce* entry = loaded->DiscretionaryAcl.GetAt(1);
    EXPECT_EQ(std::make_tuple(1332u, L"LookupAccountName(jdoe) failed.  Error 1332 "),
              std::tie(entry->LastErrorCode, entry->ErrorWin32API));
    EXPECT_EQ(L"IsValidSid()", loaded->DiscretionaryAcl.ErrorWin32API);
    EXPECT_EQ(std::make_tuple(1332u, L"1332", L"CSecurityDescriptor::Get()", L"CAcl::Get()"),
              std::tie(loaded->LastErrorCode, loaded->ErrorCode, loaded->ErrorFunction, loaded->ErrorWin32API));
    EXPECT_FALSE(loaded->ErrorDescription.empty());

    // With the account created on the target the next Get succeeds.
    AddLocalAccount(L"SRV02", L"jdoe", L"S-1-5-21-5-5-5-1107");
    ASSERT_EQ(1, loaded->Get(built));
    EXPECT_TRUE(loaded->HasDescriptor());
    EXPECT_EQ(MakeSid(5, {21, 5, 5, 5, 1107}), Entries(ListsOf(built).dacl).at(1).sid);
}

TEST_F(CSecurityDescriptorTest, EnumRejectsWhatIsNoDescriptor) {
    CSecurityDescriptor sd;
    Bytes damaged = kShareSd;
    damaged[0] = 2;  // revision
    EXPECT_EQ(0, sd.Enum(Descriptor(damaged)));
    EXPECT_EQ(std::make_tuple(L"IsValidSecurityDescriptor", L"CSecurityDescriptor::Enum()"),
              std::tie(sd.ErrorWin32API, sd.ErrorFunction));
    EXPECT_NE(0u, sd.LastErrorCode);
    EXPECT_EQ(0, sd.DiscretionaryAcl.GetCount());

    CSecurityDescriptor none;
    EXPECT_EQ(0, none.Enum(nullptr));
    EXPECT_EQ(1338u, none.LastErrorCode);

    // A list that is present but unreadable keeps no entries and is rebuilt
    // as a list nobody is granted by.
    Bytes broken(16, 0);
    broken[0] = 9;  // no such revision
    CAcl acl;
    EXPECT_EQ(1, acl.Enum(reinterpret_cast<PACL>(broken.data())));
    EXPECT_EQ(std::make_tuple(0, L"IsValidAcl", 1336u, 0u),
              std::make_tuple(acl.GetCount(), acl.ErrorWin32API, acl.LastErrorCode, acl.NullAcl));
    EXPECT_EQ(nullptr, acl.GetAt(0));
}

}  // namespace
