#include "shares/share.h"

#include <gtest/gtest.h>

#include "core/object_store.h"
#include "shares/share_test_world.h"

namespace {

using share_test::kNullSessionShares;
using share_test::kParameters;

class CShareTest : public share_test::ShareWorldTest {
protected:
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

    static std::vector<std::pair<std::wstring, std::wstring>> Entries(const CObjectStore& store) {
        std::vector<std::pair<std::wstring, std::wstring>> entries;
        for (size_t i = 0; i < store.GetEntryCount(); ++i)
            entries.emplace_back(store.GetEntryAt(i).Key, store.GetEntryAt(i).Value);
        return entries;
    }
};

TEST_F(CShareTest, RecordIsCopiedAsTheSystemGaveIt) {
    WCHAR name[] = L"Pub", path[] = L"D:\\Data\\Pub";
    SHARE_INFO_502 info{};
    info.shi502_netname = name;
    info.shi502_type = STYPE_DISKTREE | STYPE_SPECIAL;
    info.shi502_permissions = 3;
    info.shi502_max_uses = 9;
    info.shi502_current_uses = 2;
    info.shi502_path = path;
    CShare share(L"\\\\SRV01", info);
    EXPECT_EQ(L"\\\\SRV01", share.ServerName);
    EXPECT_EQ(L"Pub", share.NetName);
    EXPECT_EQ(STYPE_DISKTREE | STYPE_SPECIAL, share.Type);
    EXPECT_EQ(3u, share.Permissions);
    EXPECT_EQ(9u, share.MaxUses);
    EXPECT_EQ(2u, share.CurrentUses);
    EXPECT_EQ(L"D:\\Data\\Pub", share.Path);
    EXPECT_EQ(L"", share.Remark);  // no text, not the text "(null)": it would be restored
    EXPECT_EQ(L"(null)", share.Passwd);
    EXPECT_EQ(1u, share.Restore);
    EXPECT_EQ(0u, share.NullSession);
    EXPECT_EQ(0, share.SecurityDescriptor.DiscretionaryAcl.GetCount());
}

TEST_F(CShareTest, SectionHoldsTheKeysInOrderThenTheDescriptor) {
    auto share = Restorable(L"\\\\SRV01", L"Pub", L"D:\\Data\\Pub", 1);
    share->Passwd = L"(null)";
    share->ErrorCode = L"5";
    CObjectStore store;
    share->SaveProperties(store);

    std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"class", L"CShare"},
        {L"parent", L"NULL"},
        {L"NetName", L"\"Pub\""},
        {L"Type", L"dword:00000000"},
        {L"Remark", L"\"Restored\""},
        {L"Permissions", L"dword:00000000"},
        {L"MaxUses", L"dword:ffffffff"},
        {L"CurrentUses", L"dword:00000000"},
        {L"Path", L"\"D:\\Data\\Pub\""},
        {L"Passwd", L"\"(null)\""},
        {L"UserorGroup", L"\"\""},
        {L"NullSession", L"dword:00000001"},
        {L"Restore", L"dword:00000001"},
        {L"ServerName", L"\"\\\\SRV01\""},
        {L"ErrorCode", L"\"5\""},
        {L"LastErrorCode", L"dword:00000000"},
        {L"class", L"CSecurityDescriptor"},
        {L"parent", L"1"},
    };
    auto entries = Entries(store);
    ASSERT_GT(entries.size(), expected.size());
    EXPECT_EQ(expected, decltype(entries)(entries.begin(), entries.begin() + expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(i < 16 ? L"1" : L"2", store.GetEntryAt(i).Section) << i;
}

TEST_F(CShareTest, LoadTakesItsOwnKeysExactlyAndStopsAtTheNextObject) {
    CObjectStore store;
    auto entry = [&](const wchar_t* section, const wchar_t* key, const wchar_t* value) {
        store.AddEntry(section, key, value);
    };
    entry(L"1", L"class", L"CShare");
    entry(L"1", L"parent", L"NULL");
    entry(L"1", L"NetName", L"\"Pub\"");
    entry(L"1", L"Type", L"dword:80000000");
    entry(L"1", L"path", L"\"ignored: wrong capitals\"");
    entry(L"1", L"Restore", L"dword:00000000");
    entry(L"1", L"servername", L"\"\\\\SRV02\"");
    entry(L"2", L"class", L"CSecurityDescriptor");
    entry(L"2", L"parent", L"1");
    entry(L"3", L"class", L"CAcl");
    entry(L"3", L"parent", L"2");
    entry(L"4", L"class", L"CAcl");
    entry(L"4", L"parent", L"2");
    entry(L"5", L"class", L"CAce");
    entry(L"5", L"parent", L"4");
    entry(L"5", L"Trustee", L"\"ann\"");
    entry(L"6", L"class", L"CShare");
    store.Rewind();
    ASSERT_EQ(1, store.Next());

    CShare share;
    share.LoadProperty(store);
    EXPECT_EQ(L"Pub", share.NetName);
    EXPECT_EQ(STYPE_SPECIAL, share.Type);
    EXPECT_EQ(L"", share.Path);
    EXPECT_EQ(0u, share.Restore);
    EXPECT_EQ(L"\\\\SRV02", share.ServerName);
    ASSERT_EQ(1, share.SecurityDescriptor.DiscretionaryAcl.GetCount());
    EXPECT_EQ(L"ann", share.SecurityDescriptor.DiscretionaryAcl.GetAt(0)->Trustee);
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"6", store.CurrentEntrySection());
}

TEST_F(CShareTest, AddReplacesAnExistingShare) {
    CreateShare(L"\\\\SRV02", L"Pub", L"D:\\Data");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    share->SecurityDescriptor.DiscretionaryAcl.AddAce(new CAce());
    share->SecurityDescriptor.DiscretionaryAcl.GetAt(0)->Trustee = L"CORP\\ann";
    share->SecurityDescriptor.DiscretionaryAcl.GetAt(0)->AccessMask = 0x1F01FF;

    EXPECT_EQ(1, share->Add());
    EXPECT_EQ(0u, share->Restore);
    EXPECT_EQ(1, share->ReportFlag);
    EXPECT_EQ(L"Restore Share", share->Task);
    EXPECT_EQ(0u, share->LastErrorCode);

    auto target = Shares(L"\\\\SRV02");
    CShare* pub = Find(*target, L"Pub");
    ASSERT_NE(nullptr, pub);
    EXPECT_EQ(L"D:\\Data\\Pub", pub->Path);
    EXPECT_EQ(L"Restored", pub->Remark);
    ASSERT_EQ(1, pub->SecurityDescriptor.DiscretionaryAcl.GetCount());
    EXPECT_EQ(L"ann", pub->SecurityDescriptor.DiscretionaryAcl.GetAt(0)->Trustee);

    // Done: a second Add does nothing and nothing is reported.
    AddFault(L"NetShareAdd=5");
    EXPECT_EQ(1, share->Add());
    CObjectStore report;
    share->ReportStatus(report);
    EXPECT_EQ(0u, report.GetEntryCount());
}

TEST_F(CShareTest, FailedCreationKeepsTheShareToRestoreAndReportsIt) {
    AddFault(L"NetShareAdd@SRV02=2116");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    EXPECT_EQ(0, share->Add());
    EXPECT_EQ(1u, share->Restore);
    EXPECT_EQ(L"NetShareAdd(\\\\SRV02, Pub)", share->ErrorWin32API);
    EXPECT_EQ(L"CShare::Add()", share->ErrorFunction);
    EXPECT_EQ(2116u, share->LastErrorCode);
    EXPECT_EQ(L"The device or directory does not exist.  ", share->ErrorDescription);

    CObjectStore report;
    share->ReportStatus(report);
    ASSERT_EQ(1u, report.GetEntryCount());
    EXPECT_EQ(L"Result: NOK;Type: Share;Name: Pub;Prediction: Path=D:\\Data\\Pub ;State: ;Task: Restore Share ",
              report.GetEntryAt(0).Value);
}

TEST_F(CShareTest, ExistingShareThatCannotBeDeletedIsLeftAlone) {
    CreateShare(L"\\\\SRV02", L"Pub", L"D:\\Data");
    AddFault(L"NetShareDel@SRV02=5");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    EXPECT_EQ(0, share->Add());
    EXPECT_EQ(L"CShare::Delete(\\\\SRV02)", share->ErrorWin32API);
    EXPECT_EQ(2118u, share->LastErrorCode);
    EXPECT_EQ(1u, share->Restore);
    EXPECT_EQ(L"D:\\Data", Find(*Shares(L"\\\\SRV02"), L"Pub")->Path);
}

TEST_F(CShareTest, ShareWhosePermissionsCannotBeRebuiltIsNotCreated) {
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    for (const wchar_t* trustee : {L"ann", L"ghost"}) {
        share->SecurityDescriptor.DiscretionaryAcl.AddAce(new CAce());
        share->SecurityDescriptor.DiscretionaryAcl.GetAt(share->SecurityDescriptor.DiscretionaryAcl.GetCount() - 1)
            ->Trustee = trustee;
    }

    EXPECT_EQ(0, share->Add());
    EXPECT_EQ(L"CSecurityDescriptor::Get(Pub)", share->ErrorWin32API);
    EXPECT_EQ(1332u, share->LastErrorCode);
    EXPECT_EQ(1u, share->Restore);
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
    CObjectStore report;
    share->ReportStatus(report);
    ASSERT_EQ(1u, report.GetEntryCount());
    EXPECT_EQ(0u, report.GetEntryAt(0).Value.find(L"Result: NOK;"));

    // Once the account exists the next restore creates it.
    AddDomainAccount(L"CORP\\ghost", L"S-1-5-21-1000-2000-3000-1107");
    EXPECT_EQ(1, share->Add());
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
}

TEST_F(CShareTest, ShareWithoutPermissionsOrNotSelectedNeedsNothingMore) {
    // Loaded from a section without descriptor sections: restored as it was.
    CObjectStore store;
    store.AddEntry(L"1", L"class", L"CShare");
    store.AddEntry(L"1", L"NetName", L"\"Pub\"");
    store.AddEntry(L"1", L"Path", L"\"D:\\Data\\Pub\"");
    store.AddEntry(L"1", L"Restore", L"dword:00000001");
    store.Rewind();
    store.Next();
    CShare share(L"\\\\SRV02");
    share.LoadProperty(store);
    EXPECT_EQ(1, share.Add());
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));

    auto skipped = Restorable(L"\\\\SRV02", L"Finance", L"D:\\Data\\Finance");
    skipped->Restore = 0;
    EXPECT_EQ(1, skipped->Add());
    EXPECT_EQ(0, skipped->ReportFlag);
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Finance"));
}

TEST_F(CShareTest, DeleteRemovesTheShareOrRecordsWhyNot) {
    CreateShare(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub");
    auto share = Restorable(L"\\\\SRV02", L"pub", L"");
    EXPECT_EQ(1, share->Delete());
    EXPECT_EQ(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
    EXPECT_EQ(0, share->Delete());
    EXPECT_EQ(L"NetShareDel(\\\\SRV02)", share->ErrorWin32API);
    EXPECT_EQ(static_cast<DWORD>(NERR_NetNameNotFound), share->LastErrorCode);
}

TEST_F(CShareTest, NullSessionShareJoinsTheListAndRunsTheFixUpOnVersionFive) {
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS"});
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1);
    EXPECT_EQ(1, share->Add());
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"PUB"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data"}), FixUpRecord());

    // Already listed in other capitals: not listed twice, but the command
    // still runs. A folder at the top of a drive has the drive as parent; a
    // blank does not split an argument.
    auto top = Restorable(L"\\\\SRV02", L"tools", L"E:\\Pub", 1);
    EXPECT_EQ(1, top->Add());
    auto spaced = Restorable(L"\\\\SRV02", L"My Docs", L"D:\\My Docs", 1);
    EXPECT_EQ(1, spaced->Add());
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS", L"PUB", L"MY DOCS"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
    EXPECT_EQ((std::vector<std::string>{"3", "PUB", "D:\\Data\\Pub", "D:\\Data", "3", "TOOLS", "E:\\Pub", "E:", "3",
                                        "MY DOCS", "D:\\My Docs", "D:"}),
              FixUpRecord());
}

TEST_F(CShareTest, NoFixUpOnVersionFourNorWithoutVersion) {
    InstallFixUpCommand();
    auto share = Restorable(L"\\\\SRV04", L"Pub", L"D:\\Data\\Pub", 1);
    EXPECT_EQ(1, share->Add());
    EXPECT_EQ((std::vector<std::wstring>{L"PUB"}), ReadRegistryMultiString(L"SRV04", kParameters, kNullSessionShares));

    AddFault(L"NetServerGetInfo@SRV02=5");
    auto other = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1);
    EXPECT_EQ(1, other->Add());
    EXPECT_TRUE(FixUpRecord().empty());
}

TEST_F(CShareTest, MissingFixUpCommandFailsTheRestoreOfThatShare) {
    AddDirectory(L"SRV01", L"D:\\kitbox\\toolsdir");
    auto share = Restorable(L"\\\\SRV02", L"Pub", L"D:\\Data\\Pub", 1);
    EXPECT_EQ(0, share->Add());
    EXPECT_EQ(L"AddNullSessionShare(\\\\SRV02, Pub)", share->ErrorWin32API);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), share->LastErrorCode);
    EXPECT_EQ(1u, share->Restore);
    // The share itself and its list entry are there.
    EXPECT_NE(nullptr, Find(*Shares(L"\\\\SRV02"), L"Pub"));
    EXPECT_EQ((std::vector<std::wstring>{L"PUB"}), ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
}

TEST_F(CShareTest, FailedListUpdateIsNotHiddenByTheFixUp) {
    InstallFixUpCommand();
    SetRegistryMultiString(L"SRV02", kParameters, kNullSessionShares, {L"TOOLS"});
    AddFault(L"RegSetValueExW@SRV02:NullSessionShares=5");
    CShare share(L"\\\\SRV02");
    EXPECT_EQ(5u, share.AddNullSessionShare(L"Pub", L"D:\\Data\\Pub"));
    EXPECT_EQ(4u, FixUpRecord().size());
    EXPECT_EQ((std::vector<std::wstring>{L"TOOLS"}),
              ReadRegistryMultiString(L"SRV02", kParameters, kNullSessionShares));
}

TEST_F(CShareTest, CommandLineLongerThanTheBufferIsRefusedNotCut) {
    InstallFixUpCommand();
    const std::wstring prefix = std::wstring(share_test::kFixUp) + L" ";
    CShare share(L"\\\\SRV02");

    const std::wstring longest = prefix + std::wstring(CShare::kMaxCommandLine - prefix.size(), L'x');
    EXPECT_EQ(0u, share.ExecuteCommand(longest));
    EXPECT_EQ((std::vector<std::string>{"1", std::string(CShare::kMaxCommandLine - prefix.size(), 'x')}),
              FixUpRecord());

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), share.ExecuteCommand(longest + L"y"));
    EXPECT_EQ(L"CShare::ExecuteCommand()", share.ErrorFunction);
    EXPECT_EQ(0u, share.ErrorWin32API.find(L"CreateProcess(" + longest + L"y) failed."));
    EXPECT_NE(std::wstring::npos, share.ErrorWin32API.find(L"too long"));
    EXPECT_EQ(2u, FixUpRecord().size());
}

}  // namespace
