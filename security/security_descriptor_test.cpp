#include "security/security_descriptor.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
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
const wchar_t kJdoe[] = L"S-1-5-21-1-2-3-1107";

// No lists at all.
const Bytes kNoListsSd = {0x01, 0x00, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

PSECURITY_DESCRIPTOR Descriptor(const Bytes& bytes) { return const_cast<BYTE*>(bytes.data()); }

// An absolute descriptor holding the given lists (no SACL when it has no
// entries; a DACL without entries lets nobody in).
struct Absolute {
    explicit Absolute(const std::vector<AceEntry>& daclEntries, const std::vector<AceEntry>& saclEntries = {}) {
        EXPECT_TRUE(InitializeSecurityDescriptor(sd.data(), SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(sd.data(), TRUE, win32_files::BuildAcl(daclEntries, dacl), FALSE));
        if (!saclEntries.empty())
            EXPECT_TRUE(SetSecurityDescriptorSacl(sd.data(), TRUE, win32_files::BuildAcl(saclEntries, sacl), FALSE));
    }
    Bytes dacl, sacl, sd = Bytes(SECURITY_DESCRIPTOR_MIN_LENGTH);
};

// A list of a rebuilt descriptor, which always has both present: its
// entries, or nullopt for a null list.
using List = std::optional<std::vector<AceEntry>>;
template <class Get>
List ListOf(Get get, PSECURITY_DESCRIPTOR sd) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(get(sd, &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    if (!acl) return std::nullopt;
    EXPECT_TRUE(IsValidAcl(acl));
    return win32_files::EntriesOf(acl);
}

class CSecurityDescriptorTest : public SecurityWorldTest {
protected:
    // Reads the descriptor and saves it after a share's section, as a share
    // backup does; returns the file.
    std::wstring Saved(PSECURITY_DESCRIPTOR descriptor) {
        CSecurityDescriptor sd;
        EXPECT_EQ(1, sd.Enum(descriptor));
        CObjectStore store;
        store.NewSection(L"class", L"CShare");
        store.AddToSection(L"parent", L"NULL");
        store.AddToSection(L"NetName", L"\"Public\"");
        sd.SaveProperties(store);
        const std::wstring path = WorldFile("share.bkp");
        EXPECT_EQ(1, store.SaveToFile(path));
        return path;
    }

    // Loads the descriptor of a backup the way its owner does: at its "class" entry.
    std::unique_ptr<CSecurityDescriptor> Loaded(const std::wstring& path) {
        CObjectStore store;
        EXPECT_EQ(1, store.LoadFromFile(path));
        auto sd = std::make_unique<CSecurityDescriptor>();
        while (store.Next()) {
            if (store.CurrentKey() == L"class" && store.CurrentValue() == L"CSecurityDescriptor") {
                sd->LoadProperty(store);
                return sd;
            }
        }
        ADD_FAILURE() << "no descriptor in the backup";
        return sd;
    }
};

TEST_F(CSecurityDescriptorTest, ShareDescriptorIsReadDumpedAndSavedAsTheGoldenFiles) {
    CSecurityDescriptor source;
    ASSERT_EQ(1, source.Enum(Descriptor(kShareSd)));
    EXPECT_EQ(std::make_tuple(2, 0), std::make_tuple(source.DiscretionaryAcl.GetCount(), source.SystemAcl.GetCount()));
    EXPECT_EQ(corvan_test::Golden("security/testdata/share_descriptor_dump.txt"),
              corvan_test::Printed([&] { source.Dump(); }));
    EXPECT_EQ(corvan_test::Golden("security/testdata/share_descriptor.ini"),
              corvan_test::ReadBytes(corvan::ToUtf8(Saved(Descriptor(kShareSd)))));
}

// Every list comes back as it was: an empty list stays empty (become a null
// one it would let everybody in) and a missing one missing. A backup written
// before entries kept their type and lists their null mark gives its entry
// back allowed and its empty system list as no list.
TEST_F(CSecurityDescriptorTest, LoadedDescriptorsAreRebuiltWithTheirLists) {
    const std::vector<AceEntry> share = {{ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, L"S-1-1-0"},
                                         {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, L"S-1-5-32-544"}};
    const std::vector<AceEntry> denyAndAllow = {
        {ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, 0x000D0116, kJdoe},
        {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kShareRead, kJdoe},
        {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, L"S-1-5-32-544"}};
    const std::vector<AceEntry> audit = {{SYSTEM_AUDIT_ACE_TYPE, FAILED_ACCESS_ACE_FLAG, kFullControl, L"S-1-1-0"}};
    const struct {
        const char* what;
        std::unique_ptr<CSecurityDescriptor> loaded;
        List dacl, sacl;
    } cases[] = {
        {"share", Loaded(corvan_test::TestData("security/testdata/share_descriptor.ini")), share, std::nullopt},
        {"deny and allow", Loaded(Saved(Descriptor(Absolute(denyAndAllow, audit).sd))), denyAndAllow, audit},
        {"empty", Loaded(Saved(Descriptor(Absolute({}).sd))), std::vector<AceEntry>{}, std::nullopt},
        {"none", Loaded(Saved(Descriptor(kNoListsSd))), std::nullopt, std::nullopt},
        {"old", Loaded(corvan_test::TestData("security/testdata/share_descriptor_old.ini")),
         std::vector<AceEntry>{share[0]}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CAcl& dacl = c.loaded->DiscretionaryAcl;
        if (dacl.GetCount()) EXPECT_FALSE(dacl.GetAt(0)->HasSid()) << "found again by name only";
        PSECURITY_DESCRIPTOR built = nullptr;
        ASSERT_EQ(1, c.loaded->Get(built));
        ASSERT_NE(nullptr, built);
        EXPECT_TRUE(c.loaded->HasDescriptor());
        if (dacl.GetCount()) EXPECT_EQ(L"", dacl.GetAt(0)->ErrorCode);  // a lookup that worked records no error
        EXPECT_TRUE(IsValidSecurityDescriptor(built));
        EXPECT_EQ(c.dacl, ListOf(GetSecurityDescriptorDacl, built));
        EXPECT_EQ(c.sacl, ListOf(GetSecurityDescriptorSacl, built));

        // The built descriptor can be handed to calls that want the stored form.
        DWORD size = 0;
        EXPECT_FALSE(MakeSelfRelativeSD(built, nullptr, &size));
        Bytes relative(size);
        ASSERT_TRUE(MakeSelfRelativeSD(built, relative.data(), &size));
        EXPECT_TRUE(IsValidSecurityDescriptor(relative.data()));
    }
}

TEST_F(CSecurityDescriptorTest, AnAccountMissingOnTheTargetLeavesNoDescriptorAndSaysWhy) {
    const Absolute source(
        {{ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, L"S-1-5-32-544"}, {ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, kJdoe}});
    const std::wstring path = Saved(Descriptor(source.sd));

    // Restored on SRV02, which has no account jdoe (saved by name from SRV01).
    SetLocalMachine(L"SRV02");
    sim::ResetWorld();
    auto loaded = Loaded(path);
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
    EXPECT_EQ(L"S-1-5-21-5-5-5-1107", ListOf(GetSecurityDescriptorDacl, built)->at(1).sid);
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
