#include "shares/composite_share.h"

#include <gtest/gtest.h>

#include "core/object_store.h"
#include "registry/reg_value.h"
#include "shares/share_test_world.h"

namespace {

using share_test::Entry;
using share_test::kNullSessionShares;
using share_test::kParameters;

const DWORD kRead = 0x1200A9;
const DWORD kFull = 0x1F01FF;

class CompositeShareTest : public share_test::ShareWorldTest {
protected:
    // SRV01: Pub (a null-session share, listed in lower case), the hidden
    // Finance$, and the administrative shares of its drives C, D and E.
    void SetUpSource() {
        AddDirectory(L"SRV01", L"C:\\Windows");
        SetRegistryMultiString(L"SRV01", kParameters, kNullSessionShares, {L"pub", L"COMCFG"});
        CreateShare(L"\\\\SRV01", L"Pub", L"D:\\Data\\Pub",
                    {{ACCESS_DENIED_ACE_TYPE, L"CORP\\jdoe", kFull}, {ACCESS_ALLOWED_ACE_TYPE, L"CORP\\ann", kRead}});
        CreateShare(L"\\\\SRV01", L"Finance$", L"D:\\Data\\Finance");
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
        const std::wstring file = corvan::FromUtf8((WorldRoot() / "shares_backup.dat").string());
        CObjectStore out;
        shares.SaveProperties(out);
        EXPECT_EQ(1, out.SaveToFile(file));
        CObjectStore in;
        EXPECT_EQ(1, in.LoadFromFile(file));
        EXPECT_EQ(1, in.Next());
        EXPECT_EQ(L"CCompositeShare", in.CurrentValue());
        auto loaded = std::make_unique<CCompositeShare>(L"\\\\OTHER");
        loaded->LoadProperty(in);
        return loaded;
    }
};

TEST_F(CompositeShareTest, EnumListsEveryShareWithItsNullSessionFlag) {
    SetUpSource();
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    ASSERT_EQ(1, shares->Enum());

    EXPECT_EQ((std::vector<std::wstring>{L"Pub", L"Finance$", L"C$", L"D$", L"E$", L"ADMIN$", L"IPC$"}),
              Names(*shares));
    CShare* pub = Find(*shares, L"Pub");
    EXPECT_EQ(1u, pub->NullSession);
    EXPECT_EQ(L"D:\\Data\\Pub", pub->Path);
    EXPECT_EQ(L"Rem", pub->Remark);
    EXPECT_EQ(7u, pub->MaxUses);
    EXPECT_EQ(L"(null)", pub->Passwd);
    ASSERT_EQ(2, pub->SecurityDescriptor.DiscretionaryAcl.GetCount());
    EXPECT_EQ(L"jdoe", pub->SecurityDescriptor.DiscretionaryAcl.GetAt(0)->Trustee);
    EXPECT_EQ(0u, Find(*shares, L"Finance$")->NullSession);
    EXPECT_EQ(STYPE_DISKTREE | STYPE_SPECIAL, Find(*shares, L"C$")->Type);
    EXPECT_EQ(STYPE_IPC | STYPE_SPECIAL, Find(*shares, L"IPC$")->Type);
    for (int i = 0; i < shares->GetCount(); ++i) {
        const CShare* share = shares->GetAt(i);
        EXPECT_EQ(L"\\\\SRV01", share->ServerName);
        EXPECT_EQ(1u, share->Restore);
        EXPECT_EQ(1, share->ReportFlag);
        EXPECT_EQ(L"Backup Share", share->Task);
    }
    EXPECT_EQ(nullptr, shares->GetAt(shares->GetCount()));
    EXPECT_EQ(nullptr, shares->GetAt(-1));
    ASSERT_NE(nullptr, shares->GetNullSessionList());
    EXPECT_EQ((std::vector<std::wstring>{L"pub", L"COMCFG"}), shares->GetNullSessionList()->saValue);
    EXPECT_EQ(L"Backup Share", shares->Task);
    EXPECT_EQ(0u, shares->LastErrorCode);
}

TEST_F(CompositeShareTest, SelectionByNameIgnoresCaseAndByTypeComparesTheWholeNumber) {
    SetUpSource();
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    ASSERT_EQ(1, shares->Enum());

    shares->SetRestoreByName(L"FINANCE$", 0);
    EXPECT_EQ(0u, Find(*shares, L"Finance$")->Restore);
    EXPECT_EQ(1u, Find(*shares, L"Pub")->Restore);

    // Without the special-share bit only Pub matches.
    shares->SetRestoreByType(STYPE_DISKTREE, 0);
    EXPECT_EQ(0u, Find(*shares, L"Pub")->Restore);
    EXPECT_EQ(1u, Find(*shares, L"C$")->Restore);

    shares->SetRestoreByType(STYPE_DISKTREE | STYPE_SPECIAL, 0);
    for (const wchar_t* name : {L"C$", L"D$", L"E$", L"ADMIN$"}) EXPECT_EQ(0u, Find(*shares, name)->Restore);
    EXPECT_EQ(1u, Find(*shares, L"IPC$")->Restore);

    shares->SetRestoreByName(L"pub", 1);
    EXPECT_EQ(1u, Find(*shares, L"Pub")->Restore);
}

TEST_F(CompositeShareTest, ServerWithoutNullSessionListEnumeratesWithAnEmptyList) {
    CreateShare(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV02");
    EXPECT_EQ(1, shares->Enum());
    EXPECT_EQ(0u, Find(*shares, L"Pub")->NullSession);
    ASSERT_NE(nullptr, shares->GetNullSessionList());
    EXPECT_TRUE(shares->GetNullSessionList()->saValue.empty());
}

TEST_F(CompositeShareTest, EnumFailuresAreRecorded) {
    {
        auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV03");
        EXPECT_EQ(0, shares->Enum());
        EXPECT_EQ(0, shares->GetCount());
        EXPECT_EQ(L"NetShareEnum(\\\\SRV03)", shares->ErrorWin32API);
        EXPECT_EQ(L"CCompositeShare::Enum()", shares->ErrorFunction);
        EXPECT_EQ(53u, shares->LastErrorCode);
    }
    {
        // A list that cannot be read fails the enumeration, but every share is still read.
        SetUpSource();
        AddFault(L"RegQueryValueExW@SRV01:NullSessionShares=5");
        auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
        EXPECT_EQ(0, shares->Enum());
        EXPECT_EQ(7, shares->GetCount());
        EXPECT_EQ(5u, shares->LastErrorCode);
        EXPECT_EQ(L"RegQueryValueEx(NullSessionShares)", shares->ErrorWin32API);
    }
}

TEST_F(CompositeShareTest, SavedSectionsLoadBackIntoEqualShares) {
    SetUpSource();
    auto shares = BackUpSource();
    Find(*shares, L"Finance$")->Migration = L"moved";

    CObjectStore store;
    shares->SaveProperties(store);
    // Each section: class and parent.
    std::vector<std::pair<std::wstring, std::wstring>> sections;
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        const CStoreEntry& e = store.GetEntryAt(i);
        if (e.Key == L"class") sections.emplace_back(e.Value, L"");
        if (e.Key == L"parent") sections.back().second = e.Value;
    }
    ASSERT_GE(sections.size(), 9u);
    std::vector<std::pair<std::wstring, std::wstring>> head(sections.begin(), sections.begin() + 9);
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{{L"CCompositeShare", L"NULL"},
                                                                   {L"CShare", L"1"},
                                                                   {L"CSecurityDescriptor", L"2"},
                                                                   {L"CAcl", L"3"},
                                                                   {L"CAcl", L"3"},
                                                                   {L"CAce", L"5"},
                                                                   {L"CAce", L"5"},
                                                                   {L"CShare", L"1"},
                                                                   {L"CSecurityDescriptor", L"8"}}),
              head);
    EXPECT_EQ(std::make_pair(std::wstring(L"CRegValueMultiSz"), std::wstring(L"1")), sections.back());

    // Every field is saved, so equal entries when saved again mean equal shares.
    auto loaded = ThroughFile(*shares);
    EXPECT_EQ(L"\\\\SRV01", loaded->ServerName);
    ASSERT_EQ(shares->GetCount(), loaded->GetCount());
    EXPECT_EQ(L"moved", Find(*loaded, L"Finance$")->Migration);
    ASSERT_NE(nullptr, loaded->GetNullSessionList());
    CObjectStore again;
    loaded->SaveProperties(again);
    ASSERT_EQ(store.GetEntryCount(), again.GetEntryCount());
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        EXPECT_EQ(store.GetEntryAt(i).Section, again.GetEntryAt(i).Section);
        EXPECT_EQ(store.GetEntryAt(i).Key, again.GetEntryAt(i).Key);
        EXPECT_EQ(store.GetEntryAt(i).Value, again.GetEntryAt(i).Value);
    }
}

TEST_F(CompositeShareTest, RestoreOntoAnotherServerRecreatesSharesPermissionsAndNullSessionList) {
    SetUpSource();
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS", L"comcfg"});
    CreateShare(L"\\\\SRV02", L"Pub", L"D:\\Data");  // replaced by the restore
    auto backup = BackUpSource();
    auto shares = ThroughFile(*backup);
    shares->ReplaceServerName(L"SRV01", L"SRV02");
    for (int i = 0; i < shares->GetCount(); ++i) shares->GetAt(i)->ReplaceServerName(L"SRV01", L"SRV02");

    EXPECT_EQ(1, shares->Add());
    EXPECT_EQ(L"Restore Share", shares->Task);
    EXPECT_EQ(0u, Find(*shares, L"Pub")->Restore);
    EXPECT_EQ(0u, Find(*shares, L"Finance$")->Restore);
    EXPECT_EQ(0, Find(*shares, L"C$")->ReportFlag);  // switched off on backup: not touched
    CObjectStore report;
    shares->ReportStatus(report);
    EXPECT_EQ(0u, report.GetEntryCount());

    auto target = Shares(L"\\\\SRV02");
    CShare* pub = Find(*target, L"Pub");
    ASSERT_NE(nullptr, pub);
    EXPECT_EQ(L"D:\\Data\\Pub", pub->Path);
    EXPECT_EQ(L"Rem", pub->Remark);
    EXPECT_EQ(7u, pub->MaxUses);
    const CAcl& acl = pub->SecurityDescriptor.DiscretionaryAcl;
    ASSERT_EQ(2, acl.GetCount());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, acl.GetAt(0)->AceType);
    EXPECT_EQ(L"jdoe", acl.GetAt(0)->Trustee);
    EXPECT_EQ(kFull, acl.GetAt(0)->AccessMask);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, acl.GetAt(1)->AceType);
    EXPECT_EQ(L"ann", acl.GetAt(1)->Trustee);
    EXPECT_EQ(kRead, acl.GetAt(1)->AccessMask);
    ASSERT_NE(nullptr, Find(*target, L"Finance$"));
    EXPECT_EQ(0, Find(*target, L"Finance$")->SecurityDescriptor.DiscretionaryAcl.GetCount());

    // The target's own names, Pub (upper-cased by its own step) and the
    // source's list; Finance$ was never a null-session share.
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"comcfg", L"PUB"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data"}), FixUpRecord());
}

TEST_F(CompositeShareTest, SourceListNamesAreMergedOnceEach) {
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS"});
    CCompositeShare shares(L"\\\\SRV02");
    auto list = std::make_unique<CRegValueMultiSz>();
    list->saValue = {L"Alpha", L"tools", L"Beta", L"alpha"};
    shares.SetNullSessionList(std::move(list));

    EXPECT_EQ(1, shares.Add());
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"Alpha", L"Beta"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
}

TEST_F(CompositeShareTest, NothingToRestoreTouchesNoRegistryValue) {
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
}

TEST_F(CompositeShareTest, FailingChildFailsTheSetAndKeepsItsOwnOutcome) {
    SetUpSource();
    AddFault(L"NetShareAdd@SRV02:Finance=5");
    auto backup = BackUpSource();
    auto shares = ThroughFile(*backup);
    for (int i = 0; i < shares->GetCount(); ++i) shares->GetAt(i)->ServerName = L"\\\\SRV02";
    shares->ServerName = L"\\\\SRV02";
    AddFile(L"SRV01", share_test::kFixUp, "#!/bin/sh\nexit 0\n");

    EXPECT_EQ(0, shares->Add());
    EXPECT_EQ(L"CShare::Add(Finance$)", shares->ErrorWin32API);
    EXPECT_EQ(5u, shares->LastErrorCode);
    CShare* finance = Find(*shares, L"Finance$");
    EXPECT_EQ(1u, finance->Restore);
    EXPECT_EQ(L"NetShareAdd(\\\\SRV02, Finance$)", finance->ErrorWin32API);
    EXPECT_EQ(0u, Find(*shares, L"Pub")->Restore);

    CObjectStore report;
    shares->ReportStatus(report);
    ASSERT_EQ(1u, report.GetEntryCount());
    EXPECT_EQ(L"Finance$", report.GetEntryAt(0).Key);
}

TEST_F(CompositeShareTest, NestedSetLoadsOnlyItsOwnSections) {
    CObjectStore store;
    auto section = [&](const std::wstring& cls, const std::wstring& parent, const std::wstring& name) {
        store.NewSection(L"class", cls);
        store.AddToSection(L"parent", parent);
        if (!name.empty()) store.AddToSection(L"NetName", L"\"" + name + L"\"");
    };
    section(L"CCompositeShare", L"NULL", L"");
    section(L"CShare", L"1", L"A");
    section(L"CCompositeShare", L"1", L"");
    section(L"CShare", L"3", L"B");
    section(L"CPrinter", L"3", L"");  // an unknown class of its own is passed over
    section(L"CShare", L"3", L"C");
    section(L"CShare", L"1", L"D");
    store.Rewind();
    ASSERT_EQ(1, store.Next());
    CCompositeShare shares;
    shares.LoadProperty(store);

    ASSERT_EQ((std::vector<std::wstring>{L"A", L"", L"D"}), Names(shares));
    auto* nested = dynamic_cast<CCompositeShare*>(shares.GetAt(1));
    ASSERT_NE(nullptr, nested);
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"C"}), Names(*nested));

    // Selections reach the shares inside the nested set.
    shares.SetRestoreByName(L"c", 0);
    EXPECT_EQ(0u, nested->GetAt(1)->Restore);
}

}  // namespace
