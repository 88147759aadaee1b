#include "shares/share.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <tuple>

#include "core/object_store.h"
#include "core/preview.h"
#include "core/test_support.h"
#include "shares/share_test_world.h"

namespace {

using share_test::kNullSessionShares;
using share_test::kParameters;
using Texts = std::vector<std::wstring>;

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

    static Texts Report(CShare& share) {
        CObjectStore report;
        share.ReportStatus(report);
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
        EXPECT_EQ(1u, share.Restore);
        EXPECT_EQ(api, share.ErrorWin32API);
        EXPECT_EQ(code, share.LastErrorCode);
        Texts report = Report(share);
        ASSERT_EQ(1u, report.size());
        EXPECT_EQ(0u, report[0].find(L"Result: NOK;")) << corvan::ToUtf8(report[0]);
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
    ASSERT_EQ(1, share.SecurityDescriptor.DiscretionaryAcl.GetCount());
    EXPECT_EQ(L"ann", share.SecurityDescriptor.DiscretionaryAcl.GetAt(0)->Trustee);
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
    EXPECT_EQ(Texts{L"Result: NOK;Type: Share;Name: Pub;Prediction: Path=D:\\Data\\Pub ;State: ;Task: Restore Share "},
              Report(*share));
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
    const std::wstring prefix = std::wstring(share_test::kFixUp) + L" ";
    const size_t room = CShare::kMaxCommandLine - prefix.size();
    const std::wstring longest = prefix + std::wstring(room, L'x');
    CShare share(L"\\\\SRV02");
    EXPECT_EQ(0u, share.ExecuteCommand(longest));
    EXPECT_EQ((std::vector<std::string>{"1", std::string(room, 'x')}), FixUpRecord());

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), share.ExecuteCommand(longest + L"y"));
    EXPECT_EQ(L"CShare::ExecuteCommand()", share.ErrorFunction);
    EXPECT_EQ(0u, share.ErrorWin32API.find(L"CreateProcess(" + longest + L"y) failed."));
    EXPECT_NE(std::wstring::npos, share.ErrorWin32API.find(L"too long"));
    EXPECT_EQ(2u, FixUpRecord().size());
}

}  // namespace
