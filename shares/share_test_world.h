// Test code only: a world with a source server SRV01 (the local machine,
// where the fix-up command lives), targets SRV02 (version 5) and SRV04
// (version 4), an unreachable SRV03, and two domain accounts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/test_support.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "shares/composite_share.h"
#include "tests/corvan_world_test.h"

namespace share_test {

using corvan_test::kParameters;
using corvan_test::kSecurity;
using corvan_test::kShares;
const wchar_t kJdoe[] = L"S-1-5-21-1000-2000-3000-1105";
const wchar_t kAnn[] = L"S-1-5-21-1000-2000-3000-1106";
const wchar_t kNullSessionShares[] = L"NullSessionShares";
const wchar_t kFixUp[] = L"D:\\kitbox\\toolsdir\\FixW2KShares.cmd";
const wchar_t kFixUpRecord[] = L"D:\\kitbox\\toolsdir\\args.txt";

class ShareWorldTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02", 5, 2);
        AddMachine(L"SRV03", 5, 2, false);
        AddMachine(L"SRV04", 4, 0);
        AddDomainAccount(L"CORP\\jdoe", kJdoe);
        AddDomainAccount(L"CORP\\ann", kAnn);
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
        if (!std::filesystem::exists(file)) return {};
        return corvan_test::Lines(ReadHostFile(file));
    }

    // A disk share in the server service's keys, with a descriptor of the
    // given entries (none: no descriptor).
    void CreateShare(const std::wstring& machine, const std::wstring& name, const std::wstring& path,
                     const std::vector<sim::TestAce>& entries = {}) {
        SetRegistryMultiString(machine, kShares, name,
                               {L"MaxUses=7", L"Path=" + path, L"Permissions=0", L"Remark=Rem", L"Type=0"});
        if (!entries.empty()) SetRegistryValue(machine, kSecurity, name, REG_BINARY, sim::TestDescriptor(entries));
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
