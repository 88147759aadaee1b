#include "shares/composite_share.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/object_store.h"
#include "core/test_support.h"
#include "registry/reg_value.h"
#include "shares/share_test_world.h"

namespace {

using share_test::kNullSessionShares;
using share_test::kParameters;

const DWORD kRead = 0x1200A9;
const DWORD kFull = 0x1F01FF;

class CompositeShareTest : public share_test::ShareWorldTest {
protected:
    // "type trustee mask" per entry, e.g. "0 ann 1200a9".
    static std::vector<std::wstring> Aces(const CShare& share) {
        std::vector<std::wstring> aces;
        const CAcl& acl = share.SecurityDescriptor.DiscretionaryAcl;
        for (int i = 0; i < acl.GetCount(); ++i)
            aces.push_back(corvan::Format(L"%u %ls %x", acl.GetAt(i)->AceType, acl.GetAt(i)->Trustee.c_str(),
                                          acl.GetAt(i)->AccessMask));
        return aces;
    }

    // SRV01: Pub (a null-session share, listed in lower case), the hidden
    // Finance$, and the administrative shares of its drives C, D and E.
    void SetUpSource() {
        AddDirectory(L"SRV01", L"C:\\Windows");
        SetRegistryMultiString(L"SRV01", kParameters, kNullSessionShares, {L"pub", L"COMCFG"});
        CreateShare(L"SRV01", L"Pub", L"D:\\Data\\Pub",
                    {{ACCESS_DENIED_ACE_TYPE, 0, kFull, share_test::kJdoe},
                     {ACCESS_ALLOWED_ACE_TYPE, 0, kRead, share_test::kAnn}});
        CreateShare(L"SRV01", L"Finance$", L"D:\\Data\\Finance");
    }

    // The source's shares as a backup sees them, with the administrative
    // shares switched off as a control file would.
    std::unique_ptr<CCompositeShare> BackUpSource() {
        auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
        EXPECT_EQ(1, shares->Enum());
        shares->SetRestoreByType(STYPE_DISKTREE | STYPE_SPECIAL, 0);
        shares->SetRestoreByType(STYPE_IPC | STYPE_SPECIAL, 0);
        return shares;
    }

    // Saved to a file and loaded back, as a restore reads it.
    std::unique_ptr<CCompositeShare> ThroughFile(CCompositeShare& shares) {
        const std::wstring file = WorldFile("shares_backup.dat");
        corvan_test::SavedBytes(shares, file);
        return corvan_test::LoadedFrom<CCompositeShare>(file);
    }
};

TEST_F(CompositeShareTest, EnumListsEveryShareWithItsNullSessionFlagAndSelectsThem) {
    SetUpSource();
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    ASSERT_EQ(1, shares->Enum());

    EXPECT_EQ((std::vector<std::wstring>{L"Pub", L"Finance$", L"C$", L"D$", L"E$", L"ADMIN$", L"IPC$"}),
              Names(*shares));
    CShare* pub = Find(*shares, L"Pub");
    EXPECT_EQ(std::make_tuple(1u, L"D:\\Data\\Pub", L"Rem", 7u, L"(null)"),
              std::tie(pub->NullSession, pub->Path, pub->Remark, pub->MaxUses, pub->Passwd));
    EXPECT_EQ((std::vector<std::wstring>{L"1 jdoe 1f01ff", L"0 ann 1200a9"}), Aces(*pub));
    EXPECT_EQ(0u, Find(*shares, L"Finance$")->NullSession);
    EXPECT_EQ(STYPE_DISKTREE | STYPE_SPECIAL, Find(*shares, L"C$")->Type);
    EXPECT_EQ(STYPE_IPC | STYPE_SPECIAL, Find(*shares, L"IPC$")->Type);
    for (int i = 0; i < shares->GetCount(); ++i) {
        const CShare* share = shares->GetAt(i);
        EXPECT_EQ(std::make_tuple(L"\\\\SRV01", 1u, 1, L"Backup Share"),
                  std::tie(share->ServerName, share->Restore, share->ReportFlag, share->Task));
    }
    EXPECT_EQ(nullptr, shares->GetAt(shares->GetCount()));
    EXPECT_EQ(nullptr, shares->GetAt(-1));
    ASSERT_NE(nullptr, shares->GetNullSessionList());
    EXPECT_EQ((std::vector<std::wstring>{L"pub", L"COMCFG"}), shares->GetNullSessionList()->saValue);
    EXPECT_EQ(std::make_tuple(L"Backup Share", 0u), std::tie(shares->Task, shares->LastErrorCode));

    // Selection by name ignores case; by type it compares the whole number:
    // without the special-share bit only Pub matches.
    auto restoreFlags = [&] {
        std::vector<DWORD> flags;
        for (int i = 0; i < shares->GetCount(); ++i) flags.push_back(shares->GetAt(i)->Restore);
        return flags;
    };
    shares->SetRestoreByName(L"FINANCE$", 0);
    shares->SetRestoreByType(STYPE_DISKTREE, 0);
    EXPECT_EQ((std::vector<DWORD>{0, 0, 1, 1, 1, 1, 1}), restoreFlags());
    shares->SetRestoreByType(STYPE_DISKTREE | STYPE_SPECIAL, 0);
    shares->SetRestoreByName(L"pub", 1);
    EXPECT_EQ((std::vector<DWORD>{1, 0, 0, 0, 0, 0, 1}), restoreFlags());
}

TEST_F(CompositeShareTest, EnumWithoutAListReadsAnEmptyListAndFailuresAreRecorded) {
    CreateShare(L"SRV02", L"Pub", L"D:\\Data\\Pub");
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV02");
    EXPECT_EQ(1, shares->Enum());
    EXPECT_EQ(0u, Find(*shares, L"Pub")->NullSession);
    ASSERT_NE(nullptr, shares->GetNullSessionList());
    EXPECT_TRUE(shares->GetNullSessionList()->saValue.empty());

    shares = std::make_unique<CCompositeShare>(L"\\\\SRV03");
    EXPECT_EQ(0, shares->Enum());
    EXPECT_EQ(std::make_tuple(0, L"NetShareEnum(\\\\SRV03)", L"CCompositeShare::Enum()", 53u),
              std::make_tuple(shares->GetCount(), shares->ErrorWin32API, shares->ErrorFunction, shares->LastErrorCode));

    // A list that cannot be read fails the enumeration, but every share is still read.
    SetUpSource();
    AddFault(L"RegQueryValueExW@SRV01:NullSessionShares=5");
    shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    EXPECT_EQ(0, shares->Enum());
    EXPECT_EQ(std::make_tuple(7, 5u, L"RegQueryValueEx(NullSessionShares)"),
              std::make_tuple(shares->GetCount(), shares->LastErrorCode, shares->ErrorWin32API));
    // Nor is a registry that cannot be reached taken for a server without a list.
    AddFault(L"RegConnectRegistryW:SRV01=53");
    shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    EXPECT_EQ(0, shares->Enum());
    EXPECT_EQ(53u, shares->LastErrorCode);
}

TEST_F(CompositeShareTest, SavedSectionsLoadBackIntoEqualShares) {
    SetUpSource();
    auto shares = BackUpSource();
    Find(*shares, L"Finance$")->Migration = L"moved";
    // Every field is saved, so equal entries when saved again mean equal shares.
    auto entries = [](CCompositeShare& set) {
        CObjectStore store;
        set.SaveProperties(store);
        return corvan_test::EntryLines(store);
    };
    auto loaded = ThroughFile(*shares);
    EXPECT_EQ(L"\\\\SRV01", loaded->ServerName);
    EXPECT_EQ(L"moved", Find(*loaded, L"Finance$")->Migration);
    EXPECT_EQ(entries(*shares), entries(*loaded));
}

TEST_F(CompositeShareTest, RestoreOntoAnotherServerRecreatesSharesPermissionsAndListAfterAFailingChild) {
    SetUpSource();
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS", L"comcfg"});
    CreateShare(L"SRV02", L"Pub", L"D:\\Data");  // replaced by the restore
    auto backup = BackUpSource();
    auto shares = ThroughFile(*backup);
    shares->ReplaceServerName(L"SRV01", L"SRV02");
    for (int i = 0; i < shares->GetCount(); ++i) shares->GetAt(i)->ReplaceServerName(L"SRV01", L"SRV02");

    // A failing child fails the set and keeps its own outcome; the next run restores it.
    AddFault(L"NetShareAdd@SRV02:Finance=5,1");
    EXPECT_EQ(0, shares->Add());
    EXPECT_EQ(std::make_tuple(L"CShare::Add(Finance$)", 5u), std::tie(shares->ErrorWin32API, shares->LastErrorCode));
    CShare* finance = Find(*shares, L"Finance$");
    EXPECT_EQ(std::make_tuple(1u, L"NetShareAdd(\\\\SRV02, Finance$)"),
              std::tie(finance->Restore, finance->ErrorWin32API));
    EXPECT_EQ(0u, Find(*shares, L"Pub")->Restore);
    CObjectStore report;
    shares->ReportStatus(report);
    ASSERT_EQ(1u, report.GetEntryCount());
    EXPECT_EQ(L"Finance$", report.GetEntryAt(0).Key);

    EXPECT_EQ(1, shares->Add());
    EXPECT_EQ(L"Restore Share", shares->Task);
    EXPECT_EQ(0u, finance->Restore);
    EXPECT_EQ(0, Find(*shares, L"C$")->ReportFlag);  // switched off on backup: not touched
    CObjectStore secondReport;
    shares->ReportStatus(secondReport);
    EXPECT_EQ(0u, secondReport.GetEntryCount());

    auto target = Shares(L"\\\\SRV02");
    EXPECT_EQ(L"D:\\Data\\Pub", Find(*target, L"Pub")->Path);
    ASSERT_NE(nullptr, Find(*target, L"Finance$"));
    EXPECT_TRUE(Aces(*Find(*target, L"Finance$")).empty());

    // The target's own names, Pub (upper-cased by its own step) and the
    // source's list; Finance$ was never a null-session share.
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"comcfg", L"PUB"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data"}), FixUpRecord());
}

TEST_F(CompositeShareTest, NothingToRestoreLeavesTheListAloneAndSourceNamesAreMergedOnceEach) {
    // A null-session share not to restore: neither the share nor the list is touched.
    CCompositeShare shares(L"\\\\SRV02");
    auto share = std::make_unique<CShare>(L"\\\\SRV02");
    share->NetName = L"Pub";
    share->Path = L"D:\\Data\\Pub";
    share->NullSession = 1;
    share->Restore = 0;
    shares.AddChild(share.release());
    EXPECT_EQ(1, shares.Add());
    EXPECT_FALSE(RegistryKeyExists(L"SRV02", kParameters));
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));

    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS"});
    auto list = std::make_unique<CRegValueMultiSz>();
    list->saValue = {L"Alpha", L"tools", L"Beta", L"alpha"};
    shares.SetNullSessionList(std::move(list));
    EXPECT_EQ(1, shares.Add());
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"Alpha", L"Beta"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
}

TEST_F(CompositeShareTest, NestedSetLoadsOnlyItsOwnSections) {
    // A set holding A, a nested set (B, a printer of its own to pass over, C), and D.
    auto shares = corvan_test::LoadedFrom<CCompositeShare>(corvan_test::TestData("shares/testdata/nested_sets.ini"));
    ASSERT_EQ((std::vector<std::wstring>{L"A", L"", L"D"}), Names(*shares));
    auto* nested = dynamic_cast<CCompositeShare*>(shares->GetAt(1));
    ASSERT_NE(nullptr, nested);
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"C"}), Names(*nested));

    // Selections reach the shares inside the nested set.
    shares->SetRestoreByName(L"c", 0);
    EXPECT_EQ(0u, nested->GetAt(1)->Restore);
}

}  // namespace
