// Test code only: a world with a source server SRV01 (the local machine,
// where the fix-up command lives), targets SRV02 (version 5) and SRV04
// (version 4), an unreachable SRV03, and two domain accounts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "diagnostics/log_setup.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "shares/composite_share.h"

namespace share_test {

const wchar_t kParameters[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
const wchar_t kNullSessionShares[] = L"NullSessionShares";
const wchar_t kFixUp[] = L"D:\\kitbox\\toolsdir\\FixW2KShares.cmd";
const wchar_t kFixUpRecord[] = L"D:\\kitbox\\toolsdir\\args.txt";

// An access entry for a test descriptor.
struct Entry {
    BYTE type;  // ACCESS_ALLOWED_ACE_TYPE or ACCESS_DENIED_ACE_TYPE
    std::wstring account;
    DWORD mask;
};

class ShareWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        std::filesystem::create_directories(WorldRoot() / "logs");
        CLogSetup::Instance().SetLogFolder(corvan::FromUtf8((WorldRoot() / "logs").string()));
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
        std::filesystem::path file = HostPathOf(L"SRV01", kFixUpRecord);
        std::vector<std::string> lines;
        if (!std::filesystem::exists(file)) return lines;
        std::string text = ReadHostFile(file), line;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        return lines;
    }

    static std::vector<BYTE> SidOf(const std::wstring& account) {
        DWORD sidSize = 0, domainSize = 0;
        SID_NAME_USE use;
        LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
        std::vector<BYTE> sid(sidSize);
        std::vector<WCHAR> domain(domainSize + 1);
        EXPECT_TRUE(LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                                       &use))
            << corvan::ToUtf8(account);
        return sid;
    }

    // Creates a disk share through the system, with a descriptor made of
    // `entries` (none: no descriptor).
    static void CreateShare(const std::wstring& server, const std::wstring& name, const std::wstring& path,
                            const std::vector<Entry>& entries = {}, DWORD type = STYPE_DISKTREE) {
        std::vector<std::vector<BYTE>> sids;
        DWORD aclSize = sizeof(ACL);
        for (const auto& e : entries) {
            sids.push_back(SidOf(e.account));
            aclSize += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) + sids.back().size());
        }
        std::vector<BYTE> acl(aclSize + 8);
        SECURITY_DESCRIPTOR descriptor;
        ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl.data()), static_cast<DWORD>(acl.size()), ACL_REVISION));
        for (size_t i = 0; i < entries.size(); ++i) {
            BOOL added = entries[i].type == ACCESS_DENIED_ACE_TYPE
                             ? AddAccessDeniedAceEx(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, 0,
                                                    entries[i].mask, sids[i].data())
                             : AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, 0,
                                                     entries[i].mask, sids[i].data());
            ASSERT_TRUE(added);
        }
        ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE));

        std::vector<WCHAR> serverText(server.begin(), server.end()), nameText(name.begin(), name.end()),
            pathText(path.begin(), path.end()), remark{L'R', L'e', L'm', L'\0'};
        serverText.push_back(0);
        nameText.push_back(0);
        pathText.push_back(0);
        SHARE_INFO_502 info{};
        info.shi502_netname = nameText.data();
        info.shi502_type = type;
        info.shi502_remark = remark.data();
        info.shi502_max_uses = 7;
        info.shi502_path = pathText.data();
        info.shi502_security_descriptor = entries.empty() ? nullptr : &descriptor;
        ASSERT_EQ(0u, NetShareAdd(serverText.data(), 502, reinterpret_cast<LPBYTE>(&info), nullptr))
            << corvan::ToUtf8(name);
    }

    // The target's shares as a fresh enumeration sees them.
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

    static std::vector<std::wstring> Names(const CCompositeShare& shares) {
        std::vector<std::wstring> names;
        for (int i = 0; i < shares.GetCount(); ++i) names.push_back(shares.GetAt(i)->NetName);
        return names;
    }
};

}  // namespace share_test
