// What Windows does with SIDs, access lists and security descriptors, on
// hand-built bytes, and the lookups of the well-known accounts.
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/conformance/testing/conformance.h"
#include "platform/conformance/testing/sample_descriptors.h"

namespace {

using namespace conformance;
using win32_files::AceEntry;
using win32_files::EntriesOf;
using Bytes = std::vector<BYTE>;

const Bytes& kShareSd = kShareDescriptor;

// kShareSd with one byte changed.
Bytes Damaged(size_t offset, BYTE value) {
    Bytes sd = kShareSd;
    sd[offset] = value;
    return sd;
}

// Put into out-parameters to show what a call leaves alone.
void* const kUntouched = reinterpret_cast<void*>(0x1234);

// ACL storage with room past the list, pre-filled so stray writes show;
// initialised as a list of `capacity` bytes when a revision is given.
struct AclBuffer {
    explicit AclBuffer(size_t capacity, DWORD revision = 0) : bytes(capacity + 16, 0xCC) {
        if (revision) EXPECT_TRUE(InitializeAcl(acl(), static_cast<DWORD>(capacity), revision));
    }
    PACL acl() { return reinterpret_cast<PACL>(bytes.data()); }
    Bytes bytes;
};

SECURITY_DESCRIPTOR_CONTROL ControlOf(PSECURITY_DESCRIPTOR sd) {
    SECURITY_DESCRIPTOR_CONTROL control = 0xCCCC;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_EQ(revision, static_cast<DWORD>(SECURITY_DESCRIPTOR_REVISION));
    return control;
}

// What GetSecurityDescriptorDacl or ...Sacl report: present, the list and
// defaulted, the outputs pre-set to 7 and kUntouched.
using List = std::tuple<BOOL, const void*, BOOL>;
template <class Get>
List ListOf(Get get, PSECURITY_DESCRIPTOR sd) {
    BOOL present = 7, defaulted = 7;
    PACL acl = static_cast<PACL>(kUntouched);
    EXPECT_TRUE(get(sd, &present, &acl, &defaulted));
    return {present, acl, defaulted};
}

// The same for GetSecurityDescriptorOwner or ...Group: the SID and defaulted.
using Part = std::pair<const void*, BOOL>;
template <class Get>
Part PartOf(Get get, PSECURITY_DESCRIPTOR sd) {
    PSID sid = kUntouched;
    BOOL defaulted = 7;
    EXPECT_TRUE(get(sd, &sid, &defaulted));
    return {sid, defaulted};
}

// ---- SIDs ----------------------------------------------------------------

TEST(SidTest, LayoutCopyAndCompare) {
    EXPECT_EQ(GetLengthSid(Sid(kEveryone)), 12u);
    EXPECT_EQ(GetLengthSid(Sid(kAdmins)), 16u);
    Bytes sid(8 + 4 * 16, 0);
    sid[0] = SID_REVISION;
    sid[1] = SID_MAX_SUB_AUTHORITIES;
    EXPECT_TRUE(IsValidSid(sid.data()));
    EXPECT_EQ(GetLengthSid(sid.data()), 68u);
    EXPECT_EQ(SECURITY_MAX_SID_SIZE, 68u);
    sid[1] = 16;
    EXPECT_FALSE(IsValidSid(sid.data()));
    sid[1] = 1;
    sid[0] = 2;
    EXPECT_FALSE(IsValidSid(sid.data()));

    // Copying needs the whole length; comparing takes in the whole SID.
    Bytes dest(20, 0xCC);
    if (WineDeviates("CopySid leaves the last error as it was"))
        EXPECT_FALSE(CopySid(15, dest.data(), Sid(kAdmins)));
    else
        EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, CopySid(15, dest.data(), Sid(kAdmins)));
    EXPECT_EQ(dest, Bytes(20, 0xCC));
    ASSERT_TRUE(CopySid(16, dest.data(), Sid(kAdmins)));
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + 16), kAdmins);
    EXPECT_EQ(Bytes(dest.begin() + 16, dest.end()), Bytes(4, 0xCC));

    EXPECT_TRUE(EqualSid(dest.data(), Sid(kAdmins)));
    EXPECT_FALSE(EqualSid(Sid(kEveryone), Sid(kAdmins)));
    EXPECT_FALSE(EqualSid(Sid(kEveryone), Sid(kSystem)));  // same length, other authority
    dest[12] = 0x21;                                        // S-1-5-32-545
    EXPECT_FALSE(EqualSid(dest.data(), Sid(kAdmins)));
}

// ---- access lists --------------------------------------------------------

TEST(AclTest, InitializeChecksSizeAndRevision) {
    AclBuffer buffer(64);
    struct { DWORD size, revision; long error; } refused[] = {
        {sizeof(ACL) - 1, ACL_REVISION, ERROR_INSUFFICIENT_BUFFER},
        {64, 0, ERROR_INVALID_PARAMETER},
        {64, 1, ERROR_INVALID_PARAMETER},
        {64, 5, ERROR_INVALID_PARAMETER},
        {0x10000, ACL_REVISION, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, revision " << c.revision);
        EXPECT_FAILS_WITH(c.error, InitializeAcl(buffer.acl(), c.size, c.revision));
    }
    EXPECT_EQ(buffer.bytes, Bytes(80, 0xCC));

    ASSERT_TRUE(InitializeAcl(buffer.acl(), 64, ACL_REVISION4));
    EXPECT_EQ(Bytes(buffer.bytes.begin(), buffer.bytes.begin() + 9),
              (Bytes{0x04, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0xCC}));
    EXPECT_TRUE(IsValidAcl(buffer.acl()));
    LPVOID entry = kUntouched;
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, GetAce(buffer.acl(), 0, &entry));  // room for one, but none there
    ACL_REVISION_INFORMATION revision{};
    ASSERT_TRUE(GetAclInformation(buffer.acl(), &revision, sizeof revision, AclRevisionInformation));
    EXPECT_EQ(revision.AclRevision, static_cast<DWORD>(ACL_REVISION4));

    // A list without room for one more entry refuses it and stays as it was.
    AclBuffer small(28);
    ASSERT_TRUE(InitializeAcl(small.acl(), 24, ACL_REVISION));
    const Bytes before = small.bytes;
    EXPECT_FAILS_WITH(ERROR_ALLOTTED_SPACE_EXCEEDED,
                      AddAccessAllowedAceEx(small.acl(), ACL_REVISION, 0, kShareRead, Sid(kEveryone)));
    EXPECT_EQ(before, small.bytes);
}

TEST(AclTest, ValidityWalksEveryEntryAndAddRefusesBadListsAndSids) {
    Bytes sd = kShareSd;
    EXPECT_TRUE(IsValidAcl(reinterpret_cast<PACL>(sd.data() + 20)));
    EXPECT_FALSE(IsValidAcl(nullptr));
    const bool fits = !WineDeviates("IsValidAcl does not check that each SID fits its entry");
    struct { size_t offset; BYTE value; const char* damage; bool wine; } cases[] = {
        {24, 3, "three entries claimed, two present, no room left", true},
        {48 + 2, 0x1C, "second entry claims 28 bytes, past the list's end", true},
        {56 + 1, 3, "second SID claims three sub-authorities: longer than its entry", fits},
        {20, 1, "list revision 1", true},
    };
    for (const auto& c : cases) {
        Bytes damaged = Damaged(c.offset, c.value);
        if (c.wine) EXPECT_FALSE(IsValidAcl(reinterpret_cast<PACL>(damaged.data() + 20))) << c.damage;
    }
    Bytes alarm = Damaged(56 + 1, 3);
    alarm[48] = SYSTEM_ALARM_ACE_TYPE;  // the last of the known types is checked like the others
    if (fits) EXPECT_FALSE(IsValidAcl(reinterpret_cast<PACL>(alarm.data() + 20)));

    // An object entry keeps its SID after its flags (and the GUIDs they announce).
    const Bytes objectAcl = {4, 0, 32, 0, 1, 0, 0, 0,                   // revision 4, 32 bytes, one entry
                             ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 24, 0,  // 24 bytes
                             0xFF, 0x01, 0x1F, 0x00, 0, 0, 0, 0,        // mask, no GUIDs
                             0x01, 0x01, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0};  // S-1-1-0
    EXPECT_TRUE(IsValidAcl(reinterpret_cast<PACL>(const_cast<BYTE*>(objectAcl.data()))));
    Bytes announcing = objectAcl, cut = objectAcl;
    announcing[16] = 1;  // flags announce a GUID there is no room for
    cut[10] = 8;         // the entry ends before its flags
    for (Bytes* list : {&announcing, &cut})
        if (fits) EXPECT_FALSE(IsValidAcl(reinterpret_cast<PACL>(list->data())));

    // The SID is checked first, then the revisions, then the list.
    AclBuffer buffer(64, ACL_REVISION);
    Bytes badSid = kEveryone;
    badSid[0] = 3;
    buffer.bytes[2] = 4;  // a list shorter than its header
    EXPECT_FAILS_WITH(ERROR_INVALID_SID, AddAccessAllowedAce(buffer.acl(), ACL_REVISION, kShareRead, badSid.data()));
    EXPECT_FAILS_WITH(ERROR_INVALID_ACL, AddAccessAllowedAce(buffer.acl(), ACL_REVISION, kShareRead, Sid(kEveryone)));
    buffer.bytes[0] = 9;  // list revision
    EXPECT_FAILS_WITH(ERROR_REVISION_MISMATCH,
                      AddAccessAllowedAce(buffer.acl(), ACL_REVISION, kShareRead, Sid(kEveryone)));
}

// ---- security descriptors ------------------------------------------------

TEST(SecurityDescriptorTest, ReadsStoredShareAndFileDescriptors) {
    Bytes sd = kShareSd;
    EXPECT_TRUE(IsValidSecurityDescriptor(sd.data()));
    EXPECT_EQ(GetSecurityDescriptorLength(sd.data()), 72u);
    EXPECT_EQ(GetSecurityDescriptorLength(nullptr), 0u);
    EXPECT_EQ(ControlOf(sd.data()), SE_SELF_RELATIVE | SE_DACL_PRESENT);
    EXPECT_EQ(ListOf(GetSecurityDescriptorDacl, sd.data()), List(TRUE, sd.data() + 20, FALSE));
    // An absent list leaves the pointer and the defaulted flag as they were.
    if (!WineDeviates("GetSecurityDescriptorSacl clears the defaulted flag of an absent list"))
        EXPECT_EQ(ListOf(GetSecurityDescriptorSacl, sd.data()), List(FALSE, kUntouched, 7));
    EXPECT_EQ(PartOf(GetSecurityDescriptorOwner, sd.data()), Part(nullptr, FALSE));
    EXPECT_EQ(PartOf(GetSecurityDescriptorGroup, sd.data()), Part(nullptr, FALSE));

    // The entries lie in the list, one after the other.
    PACL dacl = reinterpret_cast<PACL>(sd.data() + 20);
    EXPECT_EQ((std::vector<AceEntry>{{ACCESS_ALLOWED_ACE_TYPE, 0, kShareRead, L"S-1-1-0"},
                                     {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, L"S-1-5-32-544"}}),
              EntriesOf(dacl));
    for (DWORD index : {0u, 1u}) {
        LPVOID entry = nullptr;
        EXPECT_TRUE(GetAce(dacl, index, &entry));
        EXPECT_EQ(sd.data() + (index ? 48 : 28), entry);
    }
    LPVOID past = kUntouched;
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, GetAce(dacl, 2, &past));
    EXPECT_EQ(past, kUntouched);
    EXPECT_EQ(sd, kShareSd);

    // A file's: owner Administrators, group SYSTEM, both defaulted, then the share DACL.
    Bytes file = {0x01, 0x00, 0x07, 0x80, 0x14, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0, 0x30, 0, 0, 0};
    file.insert(file.end(), kAdmins.begin(), kAdmins.end());
    file.insert(file.end(), kSystem.begin(), kSystem.end());
    file.insert(file.end(), kShareSd.begin() + 20, kShareSd.end());
    EXPECT_TRUE(IsValidSecurityDescriptor(file.data()));
    EXPECT_EQ(GetSecurityDescriptorLength(file.data()), 0x30u + 52);
    EXPECT_EQ(PartOf(GetSecurityDescriptorOwner, file.data()), Part(file.data() + 0x14, TRUE));
    EXPECT_EQ(PartOf(GetSecurityDescriptorGroup, file.data()), Part(file.data() + 0x24, TRUE));
}

TEST(SecurityDescriptorTest, InitializedThenGivenANullListOrTheShareList) {
    SECURITY_DESCRIPTOR absolute;
    std::memset(&absolute, 0xCC, sizeof absolute);
    EXPECT_FAILS_WITH(ERROR_UNKNOWN_REVISION, InitializeSecurityDescriptor(&absolute, 2));
    ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(absolute.Revision, SECURITY_DESCRIPTOR_REVISION);
    EXPECT_EQ(absolute.Control, 0);
    EXPECT_TRUE(absolute.Owner == nullptr && absolute.Group == nullptr && absolute.Sacl == nullptr &&
                absolute.Dacl == nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(&absolute));
    EXPECT_EQ(GetSecurityDescriptorLength(&absolute), sizeof(SECURITY_DESCRIPTOR));

    // Present without a list (everyone may do anything) differs from absent.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, TRUE));
    EXPECT_EQ(ControlOf(&absolute), SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    EXPECT_EQ(ListOf(GetSecurityDescriptorDacl, &absolute), List(TRUE, nullptr, TRUE));
    Bytes out(80, 0xCC);
    DWORD length = 24;
    ASSERT_TRUE(MakeSelfRelativeSD(&absolute, out.data(), &length));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 24),
              (Bytes{0x01, 0x00, 0x0C, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // no DACL offset
                     0xCC, 0xCC, 0xCC, 0xCC}));
    // Taking the list away clears the present flag alone.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, FALSE, nullptr, FALSE));
    EXPECT_EQ(ControlOf(&absolute), SE_DACL_DEFAULTED);

    // The share's list built entry by entry gives the stored descriptor byte for byte.
    AclBuffer buffer(52, ACL_REVISION2);
    ASSERT_TRUE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION2, kShareRead, Sid(kEveryone)));
    ASSERT_TRUE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION2, kFullControl, Sid(kAdmins)));
    ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, buffer.acl(), FALSE));
    EXPECT_TRUE(IsValidSecurityDescriptor(&absolute));
    EXPECT_EQ(GetSecurityDescriptorLength(&absolute), sizeof(SECURITY_DESCRIPTOR) + 52);
    // No buffer or one too short: the length needed, and the buffer untouched.
    length = 0;
    EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, MakeSelfRelativeSD(&absolute, nullptr, &length));
    EXPECT_EQ(length, 72u);
    out.assign(80, 0xCC);
    length = 71;
    EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, MakeSelfRelativeSD(&absolute, out.data(), &length));
    EXPECT_EQ(length, 72u);
    EXPECT_EQ(out, Bytes(80, 0xCC));
    length = static_cast<DWORD>(out.size());
    ASSERT_TRUE(MakeSelfRelativeSD(&absolute, out.data(), &length));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 72), kShareSd);
    EXPECT_EQ(Bytes(out.begin() + 72, out.end()), Bytes(8, 0xCC));
}

// ---- account lookups -------------------------------------------------------

class WellKnownAccountTest : public ConformanceTest {};

TEST_F(WellKnownAccountTest, NamesAndSidsFollowTheBufferProtocol) {
    // LookupAccountSidW with buffers of the given sizes (none when 0): its
    // error (0 for success) and the sizes it reports.
    std::vector<WCHAR> name(20, L'#'), domain(20, L'#');
    SID_NAME_USE use = SidTypeInvalid;
    using Result = std::tuple<DWORD, DWORD, DWORD>;
    auto lookupSid = [&](LPCWSTR system, const Bytes& sid, DWORD cchName, DWORD cchDomain) {
        SetLastError(0xdeadbeef);
        BOOL found = LookupAccountSidW(system, Sid(sid), cchName ? name.data() : nullptr, &cchName,
                                       cchDomain ? domain.data() : nullptr, &cchDomain, &use);
        return Result(found ? 0 : GetLastError(), cchName, cchDomain);
    };
    // Asking for the sizes alone; an empty domain still needs room for its NUL.
    EXPECT_EQ(Result(ERROR_INSUFFICIENT_BUFFER, 9, 1), lookupSid(L"", kEveryone, 0, 0));
    // One character short in the name alone still reports both sizes, and
    // so does a domain buffer one short with a name buffer large enough.
    if (!WineDeviates("LookupAccountSidW takes buffers without room for the NUL")) {
        EXPECT_EQ(Result(ERROR_INSUFFICIENT_BUFFER, 15, 8), lookupSid(nullptr, kAdmins, 14, 20));
        const Result domainShort = lookupSid(nullptr, kAdmins, 20, 7);
        EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, std::get<0>(domainShort));
        EXPECT_EQ(8u, std::get<2>(domainShort));
    }
    // Exactly the sizes reported are enough; success reports the lengths without NUL.
    EXPECT_EQ(Result(0, 14, 7), lookupSid(nullptr, kAdmins, 15, 8));
    EXPECT_EQ(std::wstring(L"Administrators\0#", 16), std::wstring(name.data(), 16));
    EXPECT_EQ(std::wstring(L"BUILTIN\0#", 9), std::wstring(domain.data(), 9));

    // The same for a name: the SID's bytes, the domain's characters with its NUL.
    DWORD cbSid = 0, cchDomain = 0;
    EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, LookupAccountNameW(nullptr, L"builtin\\ADMINISTRATORS", nullptr,
                                                                    &cbSid, nullptr, &cchDomain, &use));
    EXPECT_EQ((std::pair<DWORD, DWORD>(16, 8)), std::make_pair(cbSid, cchDomain));
    Bytes sid(20, 0xCC);
    ASSERT_TRUE(LookupAccountNameW(nullptr, L"BUILTIN\\Administrators", sid.data(), &cbSid, domain.data(),
                                   &cchDomain, &use));
    EXPECT_EQ((std::pair<DWORD, DWORD>(16, 7)), std::make_pair(cbSid, cchDomain));
    EXPECT_EQ(Bytes(sid.begin() + 16, sid.end()), Bytes(4, 0xCC));

    // Not mapped wins over the buffers being too small.
    for (LPCWSTR account : {L"NoSuchAccount4711", L"NOSUCHDOMAIN\\Administrators"}) {
        cbSid = cchDomain = 0;
        EXPECT_FAILS_WITH(ERROR_NONE_MAPPED, LookupAccountNameW(nullptr, account, nullptr, &cbSid, nullptr, &cchDomain, &use));
    }
}

}  // namespace
