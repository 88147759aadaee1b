// Shares and sets of shares on a world with a source server SRV01 (the local
// machine, where the fix-up command lives), targets SRV02 (version 5) and
// SRV04 (version 4), an unreachable SRV03, and two domain accounts.
#include "shares/share.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <tuple>

#include "core/object_store.h"
#include "core/preview.h"
#include "core/test_support.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "registry/reg_value.h"
#include "shares/composite_share.h"
#include "tests/corvan_world_test.h"

namespace {

using corvan_test::kParameters;
using corvan_test::kSecurity;
using Texts = std::vector<std::wstring>;
const wchar_t kNullSessionShares[] = L"NullSessionShares";
const wchar_t kFixUp[] = L"D:\\kitbox\\toolsdir\\FixW2KShares.cmd";

class CShareTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02", 5, 2);
        AddMachine(L"SRV03", 5, 2, false);
        AddMachine(L"SRV04", 4, 0);
        AddDomainAccount(L"CORP\\jdoe", L"S-1-5-21-1000-2000-3000-1105");
        AddDomainAccount(L"CORP\\ann", L"S-1-5-21-1000-2000-3000-1106");
        for (const wchar_t* machine : {L"SRV01", L"SRV02", L"SRV04"}) {
            AddDirectory(machine, L"D:\\Data\\Pub");
            AddDirectory(machine, L"D:\\Data\\Finance");
            AddDirectory(machine, L"D:\\My Docs");
            AddDirectory(machine, L"E:\\Pub");
        }
    }

    // A script that appends its argument count and arguments, one a line.
    void InstallFixUpCommand() {
        AddFile(L"SRV01", kFixUp,
                "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } >> \"$(dirname \"$0\")/args.txt\"\n");
    }

    // Every line the fix-up command recorded; empty when it never ran.
    std::vector<std::string> FixUpRecord() {
        std::filesystem::path file = HostPathOf(L"SRV01", L"D:\\kitbox\\toolsdir\\args.txt");
        if (!std::filesystem::exists(file)) return {};
        return corvan_test::Lines(ReadHostFile(file));
    }

    // A disk share in the server service's keys, with a descriptor of the
    // given entries (none: no descriptor).
    void CreateShare(const std::wstring& machine, const std::wstring& name, const std::wstring& path,
                     const std::vector<sim::TestAce>& entries = {}) {
        SetRegistryMultiString(machine, corvan_test::kShares, name,
                               {L"MaxUses=7", L"Path=" + path, L"Permissions=0", L"Remark=Rem", L"Type=0"});
        if (!entries.empty()) SetRegistryValue(machine, kSecurity, name, REG_BINARY, sim::TestDescriptor(entries));
    }

    // SRV01: Pub (a null-session share, listed in lower case), the hidden
    // Finance$, and the administrative shares of its drives C, D and E.
    void SetUpSource() {
        AddDirectory(L"SRV01", L"C:\\Windows");
        SetRegistryMultiString(L"SRV01", kParameters, kNullSessionShares, {L"pub", L"COMCFG"});
        CreateShare(L"SRV01", L"Pub", L"D:\\Data\\Pub",
                    {{ACCESS_DENIED_ACE_TYPE, 0, 0x1F01FF, L"S-1-5-21-1000-2000-3000-1105"},
                     {ACCESS_ALLOWED_ACE_TYPE, 0, 0x1200A9, L"S-1-5-21-1000-2000-3000-1106"}});
        CreateShare(L"SRV01", L"Finance$", L"D:\\Data\\Finance");
    }

    // The shares of a server as a fresh enumeration sees them.
    static std::unique_ptr<CCompositeShare> Shares(const std::wstring& server) {
        auto shares = std::make_unique<CCompositeShare>(server);
        shares->Enum();
        return shares;
    }

    static CShare* Find(const CCompositeShare& shares, const std::wstring& name) {
        for (int i = 0; i < shares.GetCount(); ++i)
            if (shares.GetAt(i)->NetName == name) return shares.GetAt(i);
        return nullptr;
    }

    static Texts Names(const CCompositeShare& shares) {
        Texts names;
        for (int i = 0; i < shares.GetCount(); ++i) names.push_back(shares.GetAt(i)->NetName);
        return names;
    }

    // "type trustee mask" per entry, e.g. "0 ann 1200a9".
    static Texts Aces(const CShare& share) {
        Texts aces;
        const CAcl& acl = share.SecurityDescriptor.DiscretionaryAcl;
        for (int i = 0; i < acl.GetCount(); ++i)
            aces.push_back(corvan::Format(L"%u %ls %x", acl.GetAt(i)->AceType, acl.GetAt(i)->Trustee.c_str(),
                                          acl.GetAt(i)->AccessMask));
        return aces;
    }

    // A share to restore onto `server`, as a backup file would give it.
    static std::unique_ptr<CShare> Restorable(const std::wstring& server, const std::wstring& name,
                                              const std::wstring& path, DWORD nullSession = 0) {
        auto share = std::make_unique<CShare>(server);
        share->NetName = name;
        share->Path = path;
        share->Remark = L"Restored";
        share->MaxUses = SHI_USES_UNLIMITED;
        share->NullSession = nullSession;
        return share;
    }

    // The values of the status report's lines.
    static Texts Report(CBaseObject& object) {
        CObjectStore report;
        object.ReportStatus(report);
        Texts lines;
        for (size_t i = 0; i < report.GetEntryCount(); ++i) lines.push_back(report.GetEntryAt(i).Value);
        return lines;
    }

    std::optional<Texts> NullSessionList(const wchar_t* server = L"SRV02") {
        return ReadRegistryMultiString(server, kParameters, kNullSessionShares);
    }

    // A restore that failed: the share stays to restore and is reported as not done.
    static void ExpectFailed(CShare& share, const std::wstring& api, DWORD code) {
        EXPECT_EQ(0, share.Add());
        EXPECT_EQ(std::make_tuple(1u, api, code), std::tie(share.Restore, share.ErrorWin32API, share.LastErrorCode));
        Texts report = Report(share);
        ASSERT_EQ(1u, report.size());
        EXPECT_EQ(0u, report[0].find(L"Result: NOK;")) << corvan::ToUtf8(report[0]);
    }
};

TEST_F(CShareTest, RecordIsCopiedAsTheSystemGaveIt) {
    WCHAR name[] = L"Pub", path[] = L"D:\\Data\\Pub";
    SHARE_INFO_502 info{name, STYPE_DISKTREE | STYPE_SPECIAL, nullptr, 3, 9, 2, path, nullptr, 0, nullptr};
    CShare share(L"\\\\SRV01", info);
    // No remark is no text, not the text "(null)": that would be restored.
    EXPECT_EQ(std::make_tuple(L"\\\\SRV01", L"Pub", static_cast<DWORD>(STYPE_DISKTREE | STYPE_SPECIAL), 3u, 9u, 2u,
                              L"D:\\Data\\Pub", L"", L"(null)", 1u, 0u),
              std::tie(share.ServerName, share.NetName, share.Type, share.Permissions, share.MaxUses,
                       share.CurrentUses, share.Path, share.Remark, share.Passwd, share.Restore, share.NullSession));
    EXPECT_EQ(0, share.SecurityDescriptor.DiscretionaryAcl.GetCount());
}

TEST_F(CShareTest, SectionHoldsTheKeysThenTheDescriptorAndLoadTakesItsOwnKeysExactly) {
    auto saved = Restorable(L"\\\\SRV01", L"Pub", L"D:\\Data\\Pub", 1);
    saved->Passwd = L"(null)";
    saved->ErrorCode = L"5";
    EXPECT_EQ(corvan_test::Golden("shares/testdata/share_section.ini"),
              corvan_test::SavedBytes(*saved, WorldFile("share.ini")));

    // Keys in other capitals ("path", "servername"), two lists, the next share.
    CObjectStore store;
    ASSERT_EQ(1, store.LoadFromFile(corvan_test::TestData("shares/testdata/share_load.ini")));
    ASSERT_EQ(1, store.Next());
    CShare share;
    share.LoadProperty(store);
    EXPECT_EQ(std::make_tuple(L"Pub", static_cast<DWORD>(STYPE_SPECIAL), L"", 0u, L"\\\\SRV02"),
              std::tie(share.NetName, share.Type, share.Path, share.Restore, share.ServerName));
    EXPECT_EQ(Texts{L"0 ann 0"}, Aces(share));
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"6", store.CurrentEntrySection());

    // Loaded from a section without descriptor sections: restored as it was.
    EXPECT_EQ(1, corvan_test::LoadedFrom<CShare>(corvan_test::TestData("shares/testdata/share_plain.ini"))->Add());
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
}

TEST_F(CShareTest, AddReplacesAnExistingShareOnceAndDeleteRemovesIt) {
    CreateShare(L"SRV02", L"Pub", L"D:\\Data");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    EXPECT_EQ(1, share->Add());
    EXPECT_EQ(std::make_tuple(0u, 1, L"Restore Share", 0u),
              std::tie(share->Restore, share->ReportFlag, share->Task, share->LastErrorCode));
    EXPECT_EQ(L"Restored", Find(*Shares(L"\\\\SRV02"), L"Pub")->Remark);

    AddFault(L"NetShareAdd=5");
    EXPECT_EQ(1, share->Add());
    EXPECT_TRUE(Report(*share).empty());

    // Delete removes the share, found in any capitals, or records why not.
    auto lower = Restorable(L"\\\\SRV02", L"pub", L"");
    EXPECT_EQ(1, lower->Delete());
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
    EXPECT_EQ(0, lower->Delete());
    EXPECT_EQ(std::make_tuple(L"NetShareDel(\\\\SRV02)", static_cast<DWORD>(NERR_NetNameNotFound)),
              std::tie(lower->ErrorWin32API, lower->LastErrorCode));
}

TEST_F(CShareTest, FailedCreationReplacementOrPermissionsKeepTheShareToRestore) {
    AddFault(L"NetShareAdd@SRV02=2116,1");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    ExpectFailed(*share, L"NetShareAdd(\\\\SRV02, Pub)", 2116);
    EXPECT_EQ(std::make_tuple(L"CShare::Add()", L"The device or directory does not exist.  "),
              std::tie(share->ErrorFunction, share->ErrorDescription));
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));

    // An existing share that cannot be deleted is left alone.
    CreateShare(L"SRV02", L"Pub", L"D:\\Data");
    AddFault(L"NetShareDel@SRV02=5");
    share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    ExpectFailed(*share, L"CShare::Delete(\\\\SRV02)", 2118);
    EXPECT_EQ(L"D:\\Data", Find(*Shares(L"\\\\SRV02"), L"Pub")->Path);

    // A preview looks for the folder, a drive's root too.
    {
        corvan::PreviewScope preview(true);
        ExpectFailed(*Restorable(L"\\\\SRV02", L"Root", L"Z:\\"), L"NetShareAdd(\\\\SRV02, Root)", NERR_UnknownDevDir);
    }

    // Permissions that cannot be rebuilt: not created until the account exists.
    share = Restorable(L"\\\\SRV02", L"Fin", L"D:\\Data\\Finance");
    CAcl& acl = share->SecurityDescriptor.DiscretionaryAcl;
    for (const wchar_t* trustee : {L"ann", L"ghost"}) {
        acl.AddAce(new CAce());
        acl.GetAt(acl.GetCount() - 1)->Trustee = trustee;
    }
    ExpectFailed(*share, L"CSecurityDescriptor::Get(Fin)", 1332);
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Fin"));
    AddDomainAccount(L"CORP\\ghost", L"S-1-5-21-1000-2000-3000-1107");
    EXPECT_EQ(1, share->Add());
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Fin"));
}

TEST_F(CShareTest, NullSessionShareJoinsTheListAndRunsTheFixUpOnVersionFiveOnly) {
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS"});
    EXPECT_EQ(1, Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1)->Add());
    EXPECT_EQ((Texts{L"TOOLS", L"PUB"}), NullSessionList());
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data"}), FixUpRecord());

    // Already listed in other capitals: not listed twice, but the command
    // still runs. A folder at the top of a drive has the drive as parent; a
    // blank does not split an argument.
    EXPECT_EQ(1, Restorable(L"\\\\SRV02", L"tools", L"E:\\Pub", 1)->Add());
    EXPECT_EQ(1, Restorable(L"\\\\SRV02", L"My Docs", L"D:\\My Docs", 1)->Add());
    EXPECT_EQ((Texts{L"TOOLS", L"PUB", L"MY DOCS"}), NullSessionList());
    const std::vector<std::string> record = {"3", "PUB",     "D:\\Data\\Pub", "D:\\Data", "3", "TOOLS", "E:\\Pub",
                                             "E:", "3", "MY DOCS", "D:\\My Docs",  "D:"};
    EXPECT_EQ(record, FixUpRecord());

    // Version 4, or a version that cannot be read: listed, but no command runs.
    EXPECT_EQ(1, Restorable(L"\\\\SRV04", L"Pub", L"D:\\Data\\Pub", 1)->Add());
    EXPECT_EQ(Texts{L"PUB"}, NullSessionList(L"SRV04"));
    AddFault(L"NetServerGetInfo@SRV02=5");
    EXPECT_EQ(1, Restorable(L"\\\\SRV02", L"Fin", L"D:\\Data\\Finance", 1)->Add());
    EXPECT_EQ((Texts{L"TOOLS", L"PUB", L"MY DOCS", L"FIN"}), NullSessionList());
    EXPECT_EQ(record, FixUpRecord());
}

TEST_F(CShareTest, MissingFixUpCommandOrFailedListUpdateFailsTheShare) {
    AddDirectory(L"SRV01", L"D:\\kitbox\\toolsdir");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1);
    EXPECT_EQ(0, share->Add());
    EXPECT_EQ(std::make_tuple(L"AddNullSessionShare(\\\\SRV02, Pub)", static_cast<DWORD>(ERROR_FILE_NOT_FOUND), 1u),
              std::tie(share->ErrorWin32API, share->LastErrorCode, share->Restore));
    // The share itself and its list entry are there.
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
    EXPECT_EQ(Texts{L"PUB"}, NullSessionList());

    // A failed list update is not hidden by the fix-up that runs after it.
    InstallFixUpCommand();
    AddFault(L"RegSetValueExW@SRV02:NullSessionShares=5");
    EXPECT_EQ(5u, share->AddNullSessionShare(L"Fin", L"D:\\Data\\Finance"));
    EXPECT_EQ(4u, FixUpRecord().size());
    EXPECT_EQ(Texts{L"PUB"}, NullSessionList());
}

TEST_F(CShareTest, CommandLineLongerThanTheBufferIsRefusedNotCut) {
    InstallFixUpCommand();
    const std::wstring prefix = std::wstring(kFixUp) + L" ";
    const size_t room = CShare::kMaxCommandLine - prefix.size();
    const std::wstring longest = prefix + std::wstring(room, L'x');
    CShare share(L"\\\\SRV02");
    EXPECT_EQ(0u, share.ExecuteCommand(longest));
    EXPECT_EQ((std::vector<std::string>{"1", std::string(room, 'x')}), FixUpRecord());

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), share.ExecuteCommand(longest + L"y"));
    const std::wstring call =
        L"CreateProcess(" + longest + L"y) failed. Command line too long (256 characters, at most 255).";
    EXPECT_EQ(std::make_tuple(L"CShare::ExecuteCommand()", call), std::tie(share.ErrorFunction, share.ErrorWin32API));
    EXPECT_EQ(2u, FixUpRecord().size());
}

TEST_F(CShareTest, EnumListsEveryShareWithItsNullSessionFlagAndSelectsThem) {
    SetUpSource();
    auto shares = std::make_unique<CCompositeShare>(L"\\\\SRV01");
    ASSERT_EQ(1, shares->Enum());

    EXPECT_EQ((Texts{L"Pub", L"Finance$", L"C$", L"D$", L"E$", L"ADMIN$", L"IPC$"}), Names(*shares));
    CShare* pub = Find(*shares, L"Pub");
    EXPECT_EQ(std::make_tuple(1u, L"D:\\Data\\Pub", L"Rem", 7u, L"(null)"),
              std::tie(pub->NullSession, pub->Path, pub->Remark, pub->MaxUses, pub->Passwd));
    EXPECT_EQ((Texts{L"1 jdoe 1f01ff", L"0 ann 1200a9"}), Aces(*pub));
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
    EXPECT_EQ((Texts{L"pub", L"COMCFG"}), shares->GetNullSessionList()->saValue);
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

TEST_F(CShareTest, EnumWithoutAListReadsAnEmptyListAndFailuresAreRecorded) {
    CreateShare(L"SRV02", L"Pub", L"D:\\Data\\Pub");
    auto shares = Shares(L"\\\\SRV02");
    EXPECT_EQ(0u, Find(*shares, L"Pub")->NullSession);
    ASSERT_NE(nullptr, shares->GetNullSessionList());
    EXPECT_TRUE(shares->GetNullSessionList()->saValue.empty());

    CCompositeShare unreachable(L"\\\\SRV03");
    EXPECT_EQ(0, unreachable.Enum());
    EXPECT_EQ(std::make_tuple(0, L"NetShareEnum(\\\\SRV03)", L"CCompositeShare::Enum()", 53u),
              std::make_tuple(unreachable.GetCount(), unreachable.ErrorWin32API, unreachable.ErrorFunction,
                              unreachable.LastErrorCode));

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

TEST_F(CShareTest, RestoreOntoAnotherServerRecreatesSharesPermissionsAndListAfterAFailingChild) {
    SetUpSource();
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS", L"comcfg"});
    CreateShare(L"SRV02", L"Pub", L"D:\\Data");  // replaced by the restore
    // The administrative shares switched off, as a control file would.
    CCompositeShare backup(L"\\\\SRV01");
    ASSERT_EQ(1, backup.Enum());
    backup.SetRestoreByType(STYPE_DISKTREE | STYPE_SPECIAL, 0);
    backup.SetRestoreByType(STYPE_IPC | STYPE_SPECIAL, 0);
    Find(backup, L"Finance$")->Migration = L"moved";

    // Saved and loaded back as a restore reads it. Every field is saved, so
    // equal entries when saved again mean equal shares.
    const std::wstring file = WorldFile("shares_backup.dat");
    corvan_test::SavedBytes(backup, file);
    auto shares = corvan_test::LoadedFrom<CCompositeShare>(file);
    auto entries = [](CCompositeShare& set) {
        CObjectStore store;
        set.SaveProperties(store);
        return corvan_test::EntryLines(store);
    };
    EXPECT_EQ(entries(backup), entries(*shares));
    EXPECT_EQ(std::make_tuple(L"\\\\SRV01", L"moved"),
              std::tie(shares->ServerName, Find(*shares, L"Finance$")->Migration));
    shares->ReplaceServerName(L"SRV01", L"SRV02");  // the set's shares too

    // A failing child fails the set and keeps its own outcome; the next run restores it.
    AddFault(L"NetShareAdd@SRV02:Finance=5,1");
    EXPECT_EQ(0, shares->Add());
    EXPECT_EQ(std::make_tuple(L"CShare::Add(Finance$)", 5u), std::tie(shares->ErrorWin32API, shares->LastErrorCode));
    CShare* finance = Find(*shares, L"Finance$");
    EXPECT_EQ(std::make_tuple(1u, L"NetShareAdd(\\\\SRV02, Finance$)", 0u),
              std::tie(finance->Restore, finance->ErrorWin32API, Find(*shares, L"Pub")->Restore));
    EXPECT_EQ(1u, Report(*shares).size());

    EXPECT_EQ(1, shares->Add());
    EXPECT_EQ(std::make_tuple(L"Restore Share", 0u), std::tie(shares->Task, finance->Restore));
    EXPECT_EQ(0, Find(*shares, L"C$")->ReportFlag);  // switched off on backup: not touched
    EXPECT_TRUE(Report(*shares).empty());

    auto target = Shares(L"\\\\SRV02");
    EXPECT_EQ(L"D:\\Data\\Pub", Find(*target, L"Pub")->Path);
    ASSERT_NE(nullptr, Find(*target, L"Finance$"));
    EXPECT_TRUE(Aces(*Find(*target, L"Finance$")).empty());

    // The target's own names, Pub (upper-cased by its own step) and the
    // source's list; Finance$ was never a null-session share.
    EXPECT_EQ((Texts{L"TOOLS", L"comcfg", L"PUB"}), NullSessionList());
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data"}), FixUpRecord());
}

TEST_F(CShareTest, NothingToRestoreLeavesTheListAloneAndSourceNamesAreMergedOnceEach) {
    // A null-session share not to restore: neither the share nor the list is touched.
    CCompositeShare shares(L"\\\\SRV02");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1);
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
    EXPECT_EQ((Texts{L"TOOLS", L"Alpha", L"Beta"}), NullSessionList());
}

TEST_F(CShareTest, NestedSetLoadsOnlyItsOwnSections) {
    // A set holding A, a nested set (B, a printer of its own to pass over, C), E and D.
    auto shares = corvan_test::LoadedFrom<CCompositeShare>(corvan_test::TestData("shares/testdata/nested_sets.ini"));
    ASSERT_EQ((Texts{L"A", L"", L"E", L"D"}), Names(*shares));
    auto* nested = dynamic_cast<CCompositeShare*>(shares->GetAt(1));
    ASSERT_NE(nullptr, nested);
    EXPECT_EQ((Texts{L"B", L"C"}), Names(*nested));

    // Selections reach the shares inside the nested set.
    shares->SetRestoreByName(L"c", 0);
    EXPECT_EQ(0u, nested->GetAt(1)->Restore);
}

}  // namespace
