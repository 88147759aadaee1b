// What the server's share calls do, stated so that it holds on Windows too:
// error numbers, the more-data protocol, the administrative shares, and the
// registry layout the server keeps its shares in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using Bytes = std::vector<BYTE>;
using Names = std::vector<std::wstring>;

const std::wstring kShares = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
const std::wstring kSecurity = kShares + L"\\Security";
// The Pub share of Record() as the server stores it.
const Names kPubLines = {L"CSCFlags=0",    L"MaxUses=10",          L"Path=D:\\Data\\Pub",
                         L"Permissions=0", L"Remark=Public files", L"Type=0"};

// One record copied out of the returned buffer.
struct Listed {
    std::wstring name;
    DWORD type;
    std::wstring remark;
    DWORD maxUses, currentUses;
    std::wstring path;
    bool passwdNull;
    Bytes descriptor;
    bool operator==(const Listed&) const = default;
};

void PrintTo(const Listed& s, std::ostream* os) {
    *os << corvan::ToUtf8(s.name) << " type " << s.type << " remark '" << corvan::ToUtf8(s.remark) << "' path '"
        << corvan::ToUtf8(s.path) << "' uses " << s.currentUses << " of " << s.maxUses
        << (s.passwdNull ? "" : " password") << " descriptor " << testing::PrintToString(s.descriptor);
}

std::wstring Text(LPCWSTR text) { return text ? text : L"<null>"; }

std::vector<Listed> CopyRecords(LPBYTE buffer, DWORD count) {
    std::vector<Listed> out;
    for (const auto* r = reinterpret_cast<const SHARE_INFO_502*>(buffer); out.size() < count; ++r) {
        out.push_back({Text(r->shi502_netname), r->shi502_type, Text(r->shi502_remark), r->shi502_max_uses,
                       r->shi502_current_uses, Text(r->shi502_path), r->shi502_passwd == nullptr, {}});
        if (const auto* sd = static_cast<const BYTE*>(r->shi502_security_descriptor))
            out.back().descriptor.assign(sd, sd + GetSecurityDescriptorLength(r->shi502_security_descriptor));
    }
    return out;
}

Names NamesOf(const std::vector<Listed>& shares) {
    Names names;
    for (const auto& share : shares) names.push_back(share.name);
    return names;
}

// A descriptor granting Everyone full access, in absolute form, and its
// self-relative bytes as MakeSelfRelativeSD lays them out: the header, then
// the whole list, unused room and all.
struct EveryoneDescriptor {
    alignas(8) BYTE acl[64] = {2, 0, 64, 0, 1, 0, 0, 0,              // ACL: 64 bytes, one entry
                               0, 0, 20, 0, 0xFF, 0x01, 0x1F, 0x00,  // allowed, full control
                               1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};  // S-1-1-0
    SECURITY_DESCRIPTOR absolute = {SECURITY_DESCRIPTOR_REVISION, 0, SE_DACL_PRESENT, nullptr, nullptr, nullptr,
                                    reinterpret_cast<PACL>(acl)};
    Bytes SelfRelative() const {
        Bytes bytes = {1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0};
        bytes.insert(bytes.end(), acl, acl + sizeof acl);
        return bytes;
    }
};

// The calls' results come back as long, so that they compare with the
// NERR_ and ERROR_ numbers as written.
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
        return {.shi502_netname = const_cast<LMSTR>(name), .shi502_type = STYPE_DISKTREE,
                .shi502_remark = const_cast<LMSTR>(L"Public files"), .shi502_max_uses = 10,
                .shi502_path = const_cast<LMSTR>(path), .shi502_security_descriptor = sd};
    }

    static long Add(const wchar_t* server, SHARE_INFO_502 info, DWORD* parmErr = nullptr, DWORD level = 502) {
        auto* record = reinterpret_cast<LPBYTE>(&info);
        return static_cast<long>(NetShareAdd(const_cast<LMSTR>(server), level, record, parmErr));
    }

    static long Del(const wchar_t* server, const wchar_t* name) {
        return static_cast<long>(NetShareDel(const_cast<LMSTR>(server), const_cast<LMSTR>(name), 0));
    }

    static long Enum(const wchar_t* server, DWORD level, LPBYTE* buffer, DWORD prefmaxlen, DWORD* read, DWORD* total,
                     DWORD* resume) {
        return static_cast<long>(
            NetShareEnum(const_cast<LMSTR>(server), level, buffer, prefmaxlen, read, total, resume));
    }

    static std::vector<Listed> EnumAll(const wchar_t* server) {
        LPBYTE buffer = nullptr;
        DWORD read = 0xdeadbeef, total = 0xdeadbeef, resume = 0;
        long status = Enum(server, 502, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        EXPECT_EQ(NERR_Success, status);
        if (status != NERR_Success) return {};
        EXPECT_EQ(read, total);
        EXPECT_EQ(0u, resume);
        std::vector<Listed> shares = CopyRecords(buffer, read);
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), NetApiBufferFree(buffer));
        return shares;
    }
};

// An injected failure fires on the named call and machine, before the server is looked for.
TEST_F(ShareTest, UnknownOrUnreachableServersAndInjectedFailuresAreReportedByEveryCall) {
    AddFault(L"NetShareEnum@SRV01=5,1");
    AddFault(L"NetShareDel@NOSUCH=2310");
    struct {
        const wchar_t* server;
        long enumStatus, addStatus, delStatus;
    } cases[] = {
        {L"\\\\NOSUCH", ERROR_BAD_NETPATH, ERROR_BAD_NETPATH, NERR_NetNameNotFound},
        {L"\\\\SRV03", ERROR_BAD_NETPATH, ERROR_BAD_NETPATH, ERROR_BAD_NETPATH},
        {nullptr, ERROR_ACCESS_DENIED, NERR_Success, NERR_Success},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server ? corvan::ToUtf8(c.server) : "local");
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        EXPECT_EQ(c.enumStatus, Enum(c.server, 502, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr));
        EXPECT_EQ(c.addStatus, Add(c.server, Record(L"Pub", L"D:\\Data")));
        EXPECT_EQ(c.delStatus, Del(c.server, L"Pub"));
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    EXPECT_EQ(ERROR_INVALID_LEVEL, Enum(nullptr, 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr));
}

TEST_F(ShareTest, AddedSharesAndTheirDescriptorsAreStoredWhereTheServerKeepsThemUntilDeleted) {
    // A fresh server reports one administrative share each, as Windows does.
    const DWORD disk = STYPE_DISKTREE | STYPE_SPECIAL, unlimited = SHI_USES_UNLIMITED;
    EXPECT_EQ(EnumAll(nullptr), (std::vector<Listed>{
                                    {L"C$", disk, L"Default share", unlimited, 0, L"C:\\", true, {}},
                                    {L"D$", disk, L"Default share", unlimited, 0, L"D:\\", true, {}},
                                    {L"ADMIN$", disk, L"Remote Admin", unlimited, 0, L"C:\\Windows", true, {}},
                                    {L"IPC$", STYPE_IPC | STYPE_SPECIAL, L"Remote IPC", unlimited, 0, L"", true, {}},
                                }));
    // They are the server's own, not part of its share list.
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kShares));

    EveryoneDescriptor sd;
    ASSERT_EQ(NERR_Success, Add(nullptr, Record(L"Pub", L"D:\\Data\\Pub", &sd.absolute)));
    EXPECT_EQ(kPubLines, ReadRegistryMultiString(L"SRV01", kShares, L"Pub"));
    DWORD type = 0;
    Bytes stored;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kSecurity, L"Pub", &type, &stored));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(sd.SelfRelative(), stored);
    // Listed ahead of the administrative shares.
    EXPECT_EQ(EnumAll(L"\\\\SRV01").front(),
              (Listed{L"Pub", STYPE_DISKTREE, L"Public files", 10, 0, L"D:\\Data\\Pub", true, sd.SelfRelative()}));

    // Without a descriptor nothing is stored under Security, and what an
    // earlier share of the name left there goes.
    SetRegistryValue(L"SRV01", kSecurity, L"Open", REG_BINARY, sd.SelfRelative());
    ASSERT_EQ(NERR_Success, Add(nullptr, Record(L"Open", L"D:\\Data")));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kSecurity, L"Open", nullptr, nullptr));

    // A self-relative descriptor is kept byte for byte. Owner first, then the
    // access list: not the layout MakeSelfRelativeSD would choose, so a
    // re-encoding would show.
    Bytes exact = {1, 0, 0x04, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0,  // owner at 20, DACL at 36
                   1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,                    // S-1-5-32-544
                   2, 0, 28, 0, 1, 0, 0, 0,                                               // ACL: one entry,
                   0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0x00,                                   // allowed, inherited, full
                   1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};                                   // S-1-1-0
    ASSERT_EQ(NERR_Success, Add(nullptr, Record(L"Exact", L"D:\\Data", exact.data())));
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kSecurity, L"Exact", nullptr, &stored));
    EXPECT_EQ(exact, stored);

    std::vector<Listed> shares = EnumAll(nullptr);
    ASSERT_EQ((Names{L"Pub", L"Open", L"Exact", L"C$", L"D$", L"ADMIN$", L"IPC$"}), NamesOf(shares));
    EXPECT_TRUE(shares[1].descriptor.empty());
    EXPECT_EQ(exact, shares[2].descriptor);

    // Deleting takes the share and its security away, by name ignoring case.
    EXPECT_EQ(NERR_Success, Del(nullptr, L"PUB"));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kShares, L"Pub", nullptr, nullptr));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kSecurity, L"Pub", nullptr, nullptr));
    EXPECT_TRUE(ReadRegistryValue(L"SRV01", kShares, L"Open", nullptr, nullptr));
    EXPECT_EQ(NERR_NetNameNotFound, Del(nullptr, L"Pub"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Del(nullptr, nullptr));
    // The administrative shares are reported but cannot be taken away.
    EXPECT_EQ(ERROR_ACCESS_DENIED, Del(nullptr, L"C$"));
    EXPECT_EQ((Names{L"Open", L"Exact", L"C$", L"D$", L"ADMIN$", L"IPC$"}), NamesOf(EnumAll(nullptr)));
}

TEST_F(ShareTest, ShareWrittenIntoTheRegistryIsListed) {
    SetRegistryMultiString(L"SRV02", kShares, L"Tools",
                           {L"MaxUses=4294967295", L"Path=D:\\Tools", L"Permissions=0", L"Remark=Admin tools",
                            L"Type=0"});
    SetRegistryMultiString(L"SRV02", kShares, L"Old", {L"Path=D:\\Old", L"Type=0"});
    SetRegistryString(L"SRV02", kShares, L"NotAShare", L"Path=D:\\Tools");  // wrong type
    Bytes sd = EveryoneDescriptor().SelfRelative();
    SetRegistryValue(L"SRV02", kSecurity, L"Tools", REG_BINARY, sd);
    // Not handed out: a descriptor cut short. Handed out: the header alone (everyone) and an empty list (no one).
    SetRegistryValue(L"SRV02", kSecurity, L"Old", REG_BINARY, Bytes(sd.begin(), sd.end() - 4));
    SetRegistryMultiString(L"SRV02", kShares, L"Bare", {L"Path=D:\\Tools", L"Type=0"});
    const Bytes bare = {1, 0, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    SetRegistryValue(L"SRV02", kSecurity, L"Bare", REG_BINARY, bare);
    SetRegistryMultiString(L"SRV02", kShares, L"Closed", {L"Path=D:\\Tools", L"Type=0"});
    const Bytes closed = {1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 2, 0, 8, 0, 0, 0, 0, 0};
    SetRegistryValue(L"SRV02", kSecurity, L"Closed", REG_BINARY, closed);

    AddDirectory(L"SRV02", L"Z:\\");  // the last letter is a drive too

    std::vector<Listed> shares = EnumAll(L"\\\\srv02");
    ASSERT_EQ((Names{L"Tools", L"Old", L"Bare", L"Closed", L"C$", L"D$", L"Z$", L"ADMIN$", L"IPC$"}), NamesOf(shares));
    EXPECT_EQ(shares[0], (Listed{L"Tools", 0, L"Admin tools", SHI_USES_UNLIMITED, 0, L"D:\\Tools", true, sd}));
    // Unlimited uses is the server's default for a missing line.
    EXPECT_EQ(shares[1], (Listed{L"Old", 0, L"", SHI_USES_UNLIMITED, 0, L"D:\\Old", true, {}}));
    EXPECT_EQ(std::make_pair(bare, closed), std::make_pair(shares[2].descriptor, shares[3].descriptor));
}

TEST_F(ShareTest, AddRefusesBadRecordsAndNamesInUse) {
    std::wstring longRemark(MAXCOMMENTSZ + 1, L'r');
    BYTE broken[32] = {9};  // descriptor revision 9
    SHARE_INFO_502 ipc = Record(L"Pipe", L"D:\\Data"), remark = Record(L"Long", L"D:\\Data");
    ipc.shi502_type = STYPE_IPC;
    remark.shi502_remark = longRemark.data();
    // An invalid parameter is named; the path must be a folder of that machine.
    struct { const wchar_t* server; SHARE_INFO_502 info; long status; DWORD parameter; } refused[] = {
        {nullptr, Record(nullptr, L"D:\\Data"), ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
        {nullptr, ipc, ERROR_INVALID_PARAMETER, SHARE_TYPE_PARMNUM},
        {nullptr, remark, ERROR_INVALID_PARAMETER, SHARE_REMARK_PARMNUM},
        {nullptr, Record(L"NoPath", nullptr), ERROR_INVALID_PARAMETER, SHARE_PATH_PARMNUM},
        {nullptr, Record(L"Broken", L"D:\\Data", broken), ERROR_INVALID_PARAMETER, SHARE_FILE_SD_PARMNUM},
        {nullptr, Record(L"a\\b", L"D:\\Data"), ERROR_INVALID_NAME, 0},
        {nullptr, Record(L"Bad", L"D:\\NoSuch"), NERR_UnknownDevDir, 0},
        {nullptr, Record(L"Bad", L"D:\\Data\\readme.txt"), NERR_UnknownDevDir, 0},
        {nullptr, Record(L"Bad", L"E:\\"), NERR_UnknownDevDir, 0},
        {nullptr, Record(L"Bad", L"Data\\Pub"), NERR_UnknownDevDir, 0},
        {L"\\\\SRV02", Record(L"Pub", L"D:\\Data\\Pub"), NERR_UnknownDevDir, 0},  // the folder is SRV01's
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(corvan::ToUtf8(Text(c.info.shi502_netname) + L" " + Text(c.info.shi502_path)));
        DWORD parmErr = 0xdeadbeef;
        EXPECT_EQ(c.status, Add(c.server, c.info, c.parameter ? &parmErr : nullptr));
        if (c.parameter) EXPECT_EQ(c.parameter, parmErr);
    }
    SHARE_INFO_502 info = Record(L"Pub", L"D:\\Data");
    EXPECT_EQ(ERROR_INVALID_LEVEL, Add(nullptr, info, nullptr, 2));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kShares));
    EXPECT_FALSE(RegistryKeyExists(L"SRV02", kShares));

    // Names in use are duplicates ignoring case, the administrative ones too.
    ASSERT_EQ(NERR_Success, Add(nullptr, Record(L"Pub", L"D:\\Data\\Pub")));
    for (const wchar_t* name : {L"PUB", L"c$", L"Admin$", L"ipc$"})
        EXPECT_EQ(NERR_DuplicateShare, Add(nullptr, Record(name, L"D:\\Data"))) << corvan::ToUtf8(name);
    EXPECT_EQ(kPubLines, ReadRegistryMultiString(L"SRV01", kShares, L"Pub"));
    EXPECT_FALSE(ReadRegistryValue(L"SRV01", kShares, L"c$", nullptr, nullptr));

    // Folder names match ignoring case, as on NTFS; a drive's root will do.
    EXPECT_EQ(NERR_Success, Add(nullptr, Record(L"Lower", L"d:\\DATA\\pub")));
    EXPECT_EQ(NERR_Success, Add(nullptr, Record(L"Root", L"D:\\")));

    // The name alone finds a share: only a REG_MULTI_SZ entry is one, and only
    // the drives the machine has make administrative names.
    SetRegistryString(L"SRV01", kShares, L"Text", L"Path=D:\\Data");  // a value, but not a share
    EXPECT_EQ(NERR_NetNameNotFound, Del(nullptr, L"text"));
    EXPECT_EQ(NERR_Success, Add(nullptr, Record(L"TEXT", L"D:\\Data")));  // takes the stray value's place
    DWORD type = 0;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kShares, L"Text", &type, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(NERR_Success, Del(nullptr, L"tExT"));
    EXPECT_EQ(NERR_NetNameNotFound, Del(nullptr, L"Text"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Del(nullptr, L"D$"));
    EXPECT_EQ(NERR_Success, Add(nullptr, Record(L"Q$", L"D:\\Data")));  // no Q: drive, so a name like any other
    EXPECT_EQ(NERR_Success, Del(nullptr, L"q$"));
}

TEST_F(ShareTest, SmallPreferredLengthHandsOutTheListInPiecesWithResumeHandle) {
    for (const wchar_t* name : {L"S1", L"S2", L"S3", L"S4", L"S5"})
        ASSERT_EQ(NERR_Success, Add(nullptr, Record(name, L"D:\\Data")));
    Names all = NamesOf(EnumAll(nullptr));
    ASSERT_EQ(9u, all.size());

    for (DWORD prefmaxlen : {1u, 300u, 1000u}) {
        SCOPED_TRACE(prefmaxlen);
        Names collected;
        DWORD resume = 0;
        long status = ERROR_MORE_DATA;
        int calls = 0;
        while (status == ERROR_MORE_DATA && ++calls < 20) {
            LPBYTE buffer = nullptr;
            DWORD read = 0xdeadbeef, total = 0xdeadbeef;
            status = Enum(nullptr, 502, &buffer, prefmaxlen, &read, &total, &resume);
            ASSERT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << status;
            ASSERT_GE(read, 1u);  // at least one record, however small the length
            if (prefmaxlen == 1) EXPECT_EQ(1u, read);
            EXPECT_EQ(9u, total);
            for (const auto& share : CopyRecords(buffer, read)) collected.push_back(share.name);
            EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), NetApiBufferFree(buffer));
            if (status == ERROR_MORE_DATA) EXPECT_EQ(collected.size(), resume);
        }
        EXPECT_EQ(NERR_Success, status);
        EXPECT_EQ(all, collected);
        if (prefmaxlen == 1) EXPECT_EQ(9, calls);
        if (prefmaxlen == 1000) EXPECT_LT(calls, 9);  // as many records a call as the length holds
    }
}

}  // namespace
