// What the server's share calls do, stated so that it holds on Windows too:
// error numbers, the more-data protocol, the administrative shares, and the
// registry layout the server keeps its shares in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

const std::wstring kShares = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
const std::wstring kSecurity = kShares + L"\\Security";

// One record copied out of the returned buffer.
struct Listed {
    std::wstring name;
    DWORD type;
    std::wstring remark;
    DWORD permissions;
    DWORD maxUses;
    DWORD currentUses;
    std::wstring path;
    bool passwdNull;
    std::vector<BYTE> descriptor;
};

std::vector<Listed> CopyRecords(LPBYTE buffer, DWORD count) {
    std::vector<Listed> out;
    const auto* records = reinterpret_cast<const SHARE_INFO_502*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        const SHARE_INFO_502& r = records[i];
        Listed item{r.shi502_netname ? r.shi502_netname : L"<null>",
                    r.shi502_type,
                    r.shi502_remark ? r.shi502_remark : L"<null>",
                    r.shi502_permissions,
                    r.shi502_max_uses,
                    r.shi502_current_uses,
                    r.shi502_path ? r.shi502_path : L"<null>",
                    r.shi502_passwd == nullptr,
                    {}};
        if (r.shi502_security_descriptor) {
            const auto* sd = static_cast<const BYTE*>(r.shi502_security_descriptor);
            item.descriptor.assign(sd, sd + GetSecurityDescriptorLength(r.shi502_security_descriptor));
        }
        out.push_back(std::move(item));
    }
    return out;
}

std::vector<std::wstring> Names(const std::vector<Listed>& shares) {
    std::vector<std::wstring> names;
    for (const auto& share : shares) names.push_back(share.name);
    return names;
}

// A descriptor granting Everyone full access, in absolute form, with its
// self-relative bytes as MakeSelfRelativeSD lays them out.
struct EveryoneDescriptor {
    BYTE everyone[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    alignas(8) BYTE acl[64];
    SECURITY_DESCRIPTOR absolute;
    std::vector<BYTE> selfRelative;

    EveryoneDescriptor() {
        EXPECT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl), sizeof(acl), ACL_REVISION));
        EXPECT_TRUE(AddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, 0x1F01FF, everyone));
        EXPECT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, reinterpret_cast<PACL>(acl), FALSE));
        DWORD size = 0;
        MakeSelfRelativeSD(&absolute, nullptr, &size);
        selfRelative.assign(size, 0);
        EXPECT_TRUE(MakeSelfRelativeSD(&absolute, selfRelative.data(), &size));
    }
};

class ShareTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\Data\\Pub");
        AddFile(L"SRV01", L"D:\\Data\\readme.txt", "text");
        AddMachine(L"SRV02");
        AddDirectory(L"SRV02", L"D:\\Tools");
        AddMachine(L"SRV03", 5, 2, false);
    }

    static SHARE_INFO_502 Record(const wchar_t* name, const wchar_t* path, PSECURITY_DESCRIPTOR sd = nullptr) {
        SHARE_INFO_502 info{};
        info.shi502_netname = const_cast<LMSTR>(name);
        info.shi502_type = STYPE_DISKTREE;
        info.shi502_remark = const_cast<LMSTR>(L"Public files");
        info.shi502_permissions = 0;
        info.shi502_max_uses = 10;
        info.shi502_path = const_cast<LMSTR>(path);
        info.shi502_security_descriptor = sd;
        return info;
    }

    static NET_API_STATUS Add(const wchar_t* server, SHARE_INFO_502 info, DWORD* parmErr = nullptr) {
        return NetShareAdd(const_cast<LMSTR>(server), 502, reinterpret_cast<LPBYTE>(&info), parmErr);
    }

    static std::vector<Listed> EnumAll(const wchar_t* server) {
        LPBYTE buffer = nullptr;
        DWORD read = 0xdeadbeef, total = 0xdeadbeef, resume = 0;
        NET_API_STATUS status = NetShareEnum(const_cast<LMSTR>(server), 502, &buffer, MAX_PREFERRED_LENGTH, &read,
                                             &total, &resume);
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), status);
        if (status != NERR_Success) return {};
        EXPECT_EQ(read, total);
        EXPECT_EQ(0u, resume);
        std::vector<Listed> shares = CopyRecords(buffer, read);
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), NetApiBufferFree(buffer));
        return shares;
    }
};

TEST_F(ShareTest, FreshServerReportsOneAdministrativeShareEachAsWindowsDoes) {
    std::vector<Listed> shares = EnumAll(nullptr);
    ASSERT_EQ((std::vector<std::wstring>{L"C$", L"D$", L"ADMIN$", L"IPC$"}), Names(shares));

    struct Expected {
        DWORD type;
        const wchar_t* remark;
        const wchar_t* path;
    } expected[] = {
        {STYPE_DISKTREE | STYPE_SPECIAL, L"Default share", L"C:\\"},
        {STYPE_DISKTREE | STYPE_SPECIAL, L"Default share", L"D:\\"},
        {STYPE_DISKTREE | STYPE_SPECIAL, L"Remote Admin", L"C:\\Windows"},
        {STYPE_IPC | STYPE_SPECIAL, L"Remote IPC", L""},
    };
    for (size_t i = 0; i < shares.size(); ++i) {
        SCOPED_TRACE(corvan::ToUtf8(shares[i].name));
        EXPECT_EQ(expected[i].type, shares[i].type);
        EXPECT_EQ(expected[i].remark, shares[i].remark);
        EXPECT_EQ(expected[i].path, shares[i].path);
        EXPECT_EQ(SHI_USES_UNLIMITED, shares[i].maxUses);
        EXPECT_EQ(0u, shares[i].currentUses);
        EXPECT_TRUE(shares[i].passwdNull);
        EXPECT_TRUE(shares[i].descriptor.empty());
    }
    // Administrative shares are the server's own, not part of its share list.
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kShares));
}

TEST_F(ShareTest, AddedShareIsStoredWhereTheServerKeepsIt) {
    EveryoneDescriptor sd;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Pub", L"D:\\Data\\Pub", &sd.absolute)));

    EXPECT_EQ((std::vector<std::wstring>{L"CSCFlags=0", L"MaxUses=10", L"Path=D:\\Data\\Pub", L"Permissions=0",
                                         L"Remark=Public files", L"Type=0"}),
              ReadRegistryMultiString(L"SRV01", kShares, L"Pub"));
    DWORD type = 0;
    std::vector<BYTE> stored;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kSecurity, L"Pub", &type, &stored));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(sd.selfRelative, stored);

    std::vector<Listed> shares = EnumAll(L"\\\\SRV01");
    ASSERT_EQ((std::vector<std::wstring>{L"Pub", L"C$", L"D$", L"ADMIN$", L"IPC$"}), Names(shares));
    EXPECT_EQ(static_cast<DWORD>(STYPE_DISKTREE), shares[0].type);
    EXPECT_EQ(L"Public files", shares[0].remark);
    EXPECT_EQ(L"D:\\Data\\Pub", shares[0].path);
    EXPECT_EQ(10u, shares[0].maxUses);
    EXPECT_EQ(sd.selfRelative, shares[0].descriptor);

    // Without a descriptor nothing is stored under Security.
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Open", L"D:\\Data")));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kSecurity, L"Open", nullptr, nullptr));
    EXPECT_TRUE(EnumAll(nullptr)[1].descriptor.empty());
}

TEST_F(ShareTest, SelfRelativeDescriptorIsKeptByteExact) {
    // Owner first, then the access list: not the layout MakeSelfRelativeSD
    // would choose, so a re-encoding would show.
    std::vector<BYTE> sd = {
        1, 0, 0x04, 0x80,  // revision, control: DACL present, self-relative
        20, 0, 0, 0,       // owner at 20
        0, 0, 0, 0,        // no group
        0, 0, 0, 0,        // no SACL
        36, 0, 0, 0,       // DACL at 36
        1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,  // S-1-5-32-544
        2, 0, 28, 0, 1, 0, 0, 0,                              // ACL: one entry
        0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0x00,                  // allow, inherit, full
        1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,                   // S-1-1-0
    };
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Exact", L"D:\\Data", sd.data())));
    std::vector<BYTE> stored;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kSecurity, L"Exact", nullptr, &stored));
    EXPECT_EQ(sd, stored);
    EXPECT_EQ(sd, EnumAll(nullptr)[0].descriptor);
}

TEST_F(ShareTest, ShareWrittenIntoTheRegistryIsListed) {
    SetRegistryMultiString(L"SRV02", kShares, L"Tools",
                           {L"MaxUses=4294967295", L"Path=D:\\Tools", L"Permissions=0", L"Remark=Admin tools",
                            L"Type=0"});
    SetRegistryMultiString(L"SRV02", kShares, L"Old", {L"Path=D:\\Old", L"Type=0"});
    SetRegistryString(L"SRV02", kShares, L"NotAShare", L"Path=D:\\Tools");  // wrong type
    EveryoneDescriptor sd;
    SetRegistryValue(L"SRV02", kSecurity, L"Tools", REG_BINARY, sd.selfRelative);
    // A descriptor cut short is not handed out.
    SetRegistryValue(L"SRV02", kSecurity, L"Old", REG_BINARY,
                     std::vector<BYTE>(sd.selfRelative.begin(), sd.selfRelative.end() - 4));

    std::vector<Listed> shares = EnumAll(L"\\\\srv02");
    ASSERT_EQ((std::vector<std::wstring>{L"Tools", L"Old", L"C$", L"D$", L"ADMIN$", L"IPC$"}), Names(shares));
    EXPECT_EQ(L"Admin tools", shares[0].remark);
    EXPECT_EQ(L"D:\\Tools", shares[0].path);
    EXPECT_EQ(SHI_USES_UNLIMITED, shares[0].maxUses);
    EXPECT_EQ(sd.selfRelative, shares[0].descriptor);
    EXPECT_EQ(L"", shares[1].remark);
    EXPECT_EQ(SHI_USES_UNLIMITED, shares[1].maxUses);  // the server's default for a missing line
    EXPECT_TRUE(shares[1].descriptor.empty());
}

TEST_F(ShareTest, NamesInUseAreDuplicatesIgnoringCase) {
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Pub", L"D:\\Data\\Pub")));
    for (const wchar_t* name : {L"PUB", L"c$", L"Admin$", L"ipc$"}) {
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_DuplicateShare), Add(nullptr, Record(name, L"D:\\Data")))
            << corvan::ToUtf8(name);
    }
    EXPECT_EQ(std::optional<std::vector<std::wstring>>(
                  {L"CSCFlags=0", L"MaxUses=10", L"Path=D:\\Data\\Pub", L"Permissions=0", L"Remark=Public files",
                   L"Type=0"}),
              ReadRegistryMultiString(L"SRV01", kShares, L"Pub"));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kShares, L"c$", nullptr, nullptr));
}

TEST_F(ShareTest, PathMustBeAFolderOfThatMachine) {
    for (const wchar_t* path : {L"D:\\NoSuch", L"D:\\Data\\readme.txt", L"E:\\", L"Data\\Pub"}) {
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UnknownDevDir), Add(nullptr, Record(L"Bad", path)))
            << corvan::ToUtf8(path);
    }
    // The folder exists on SRV01 only.
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UnknownDevDir), Add(L"\\\\SRV02", Record(L"Pub", L"D:\\Data\\Pub")));
    EXPECT_FALSE(RegistryKeyExists(L"SRV02", kShares));
    // Folder names match ignoring case, as on NTFS.
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Pub", L"d:\\DATA\\pub")));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Root", L"D:\\")));
}

TEST_F(ShareTest, BadRecordNamesTheParameter) {
    auto check = [&](SHARE_INFO_502 info, DWORD expectedParameter) {
        DWORD parmErr = 0xdeadbeef;
        EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER), Add(nullptr, info, &parmErr));
        EXPECT_EQ(expectedParameter, parmErr);
    };
    check(Record(nullptr, L"D:\\Data"), SHARE_NETNAME_PARMNUM);
    SHARE_INFO_502 ipc = Record(L"Pipe", L"D:\\Data");
    ipc.shi502_type = STYPE_IPC;
    check(ipc, SHARE_TYPE_PARMNUM);
    std::wstring longRemark(MAXCOMMENTSZ + 1, L'r');
    SHARE_INFO_502 remark = Record(L"Long", L"D:\\Data");
    remark.shi502_remark = longRemark.data();
    check(remark, SHARE_REMARK_PARMNUM);
    check(Record(L"NoPath", nullptr), SHARE_PATH_PARMNUM);
    BYTE broken[32] = {9};  // revision 9
    check(Record(L"Broken", L"D:\\Data", broken), SHARE_FILE_SD_PARMNUM);

    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_NAME), Add(nullptr, Record(L"a\\b", L"D:\\Data")));
    SHARE_INFO_502 info = Record(L"Pub", L"D:\\Data");
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL),
              NetShareAdd(nullptr, 2, reinterpret_cast<LPBYTE>(&info), nullptr));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kShares));
}

TEST_F(ShareTest, SmallPreferredLengthHandsOutTheListInPiecesWithResumeHandle) {
    for (const wchar_t* name : {L"S1", L"S2", L"S3", L"S4", L"S5"})
        ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(name, L"D:\\Data")));
    std::vector<std::wstring> all = Names(EnumAll(nullptr));
    ASSERT_EQ(9u, all.size());

    for (DWORD prefmaxlen : {1u, 300u, 1000u}) {
        SCOPED_TRACE(prefmaxlen);
        std::vector<std::wstring> collected;
        DWORD resume = 0;
        NET_API_STATUS status = ERROR_MORE_DATA;
        int calls = 0;
        DWORD mostRead = 0;
        while (status == ERROR_MORE_DATA && ++calls < 20) {
            LPBYTE buffer = nullptr;
            DWORD read = 0xdeadbeef, total = 0xdeadbeef;
            status = NetShareEnum(nullptr, 502, &buffer, prefmaxlen, &read, &total, &resume);
            ASSERT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << status;
            ASSERT_GE(read, 1u);  // at least one record, however small the length
            if (prefmaxlen == 1) EXPECT_EQ(1u, read);
            mostRead = std::max(mostRead, read);
            EXPECT_EQ(9u, total);
            for (const auto& share : CopyRecords(buffer, read)) collected.push_back(share.name);
            EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), NetApiBufferFree(buffer));
            if (status == ERROR_MORE_DATA) EXPECT_EQ(collected.size(), resume);
        }
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), status);
        EXPECT_EQ(all, collected);
        if (prefmaxlen == 1) EXPECT_EQ(9, calls);
        if (prefmaxlen == 1000) EXPECT_GT(mostRead, 1u);  // as many records as the length holds
    }
}

TEST_F(ShareTest, DeleteRemovesTheShareAndItsSecurity) {
    EveryoneDescriptor sd;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Pub", L"D:\\Data\\Pub", &sd.absolute)));
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(nullptr, Record(L"Keep", L"D:\\Data")));

    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), NetShareDel(nullptr, const_cast<LMSTR>(L"PUB"), 0));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kShares, L"Pub", nullptr, nullptr));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kSecurity, L"Pub", nullptr, nullptr));
    EXPECT_TRUE(ReadRegistryValue(L"SRV01", kShares, L"Keep", nullptr, nullptr));
    EXPECT_EQ(L"Keep", EnumAll(nullptr).front().name);

    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_NetNameNotFound), NetShareDel(nullptr, const_cast<LMSTR>(L"Pub"), 0));
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER), NetShareDel(nullptr, nullptr, 0));
    // The administrative shares are reported but cannot be taken away.
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED), NetShareDel(nullptr, const_cast<LMSTR>(L"C$"), 0));
    EXPECT_EQ(5u, EnumAll(nullptr).size());
}

TEST_F(ShareTest, UnknownOrUnreachableServerIsBadNetpath) {
    for (const wchar_t* server : {L"\\\\NOSUCH", L"\\\\SRV03"}) {
        LPBYTE buffer = reinterpret_cast<LPBYTE>(0x1);
        DWORD read = 0, total = 0, resume = 0;
        EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH),
                  NetShareEnum(const_cast<LMSTR>(server), 502, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume));
        EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH), Add(server, Record(L"Pub", L"D:\\Data")));
        EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH),
                  NetShareDel(const_cast<LMSTR>(server), const_cast<LMSTR>(L"Pub"), 0));
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL),
              NetShareEnum(nullptr, 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr));
}

TEST_F(ShareTest, InjectedFailuresFireOnTheNamedCallAndMachine) {
    AddFault(L"NetShareAdd@SRV02=2118,1");
    AddFault(L"NetShareEnum@SRV01=5");
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_DuplicateShare), Add(L"\\\\SRV02", Record(L"Tools", L"D:\\Tools")));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Add(L"\\\\SRV02", Record(L"Tools", L"D:\\Tools")));

    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED),
              NetShareEnum(nullptr, 502, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr));

    // The caller's registry calls failing does not stop the server.
    AddFault(L"RegOpenKeyExW=5");
    AddFault(L"RegConnectRegistryW=53");
    EXPECT_EQ(L"Tools", EnumAll(L"\\\\SRV02").front().name);
}

}  // namespace
