// What Windows does with descriptors, access lists, SIDs and account lookups.
// The layout tests use only Win32 calls and hand-built bytes, so they also run
// against the real API; the lookups need a world of machines and accounts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/win32.h"

namespace {

using Bytes = std::vector<BYTE>;

const Bytes kEveryone = {0x01, 0x01, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0};                    // S-1-1-0
const Bytes kAdmins = {0x01, 0x02, 0, 0, 0, 0, 0, 0x05, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0};  // S-1-5-32-544
const Bytes kSystem = {0x01, 0x01, 0, 0, 0, 0, 0, 0x05, 0x12, 0, 0, 0};                    // S-1-5-18

constexpr DWORD kShareRead = 0x001200A9;
constexpr DWORD kFullControl = 0x001F01FF;

// A share's descriptor as the server stores it: self-relative, revision 1,
// control SE_SELF_RELATIVE | SE_DACL_PRESENT, no owner, group or SACL, the
// DACL right after the 20-byte header.
const Bytes kShareSd = {
    0x01, 0x00, 0x04, 0x80,                          // revision, Sbz1, control 0x8004
    0x00, 0x00, 0x00, 0x00,                          // owner: none
    0x00, 0x00, 0x00, 0x00,                          // group: none
    0x00, 0x00, 0x00, 0x00,                          // SACL: none
    0x14, 0x00, 0x00, 0x00,                          // DACL at 20
    0x02, 0x00, 0x34, 0x00, 0x02, 0x00, 0x00, 0x00,  // ACL: revision 2, 52 bytes, 2 entries
    0x00, 0x00, 0x14, 0x00,                          // allowed, no flags, 20 bytes
    0xA9, 0x00, 0x12, 0x00,                          // mask 0x001200A9
    0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // S-1-1-0
    0x00, 0x00, 0x18, 0x00,                          // allowed, no flags, 24 bytes
    0xFF, 0x01, 0x1F, 0x00,                          // mask 0x001F01FF
    0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,  // S-1-5-32-544
    0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00,
};

PSID Sid(const Bytes& sid) { return const_cast<BYTE*>(sid.data()); }

// ACL storage with room past the list, pre-filled so stray writes show.
struct AclBuffer {
    explicit AclBuffer(size_t capacity) : bytes(capacity + 16, 0xCC) {}
    PACL acl() { return reinterpret_cast<PACL>(bytes.data()); }
    Bytes bytes;
};

ACL_SIZE_INFORMATION SizeInfo(PACL acl) {
    ACL_SIZE_INFORMATION info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_TRUE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
    return info;
}

const ACCESS_ALLOWED_ACE* Entry(PACL acl, DWORD index) {
    LPVOID ace = nullptr;
    EXPECT_TRUE(GetAce(acl, index, &ace)) << "entry " << index << ", error " << GetLastError();
    return static_cast<const ACCESS_ALLOWED_ACE*>(ace);
}

// ---- SIDs ----------------------------------------------------------------

TEST(SidTest, LengthAndValidityFollowTheSubAuthorityCount) {
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
}

TEST(SidTest, CopyNeedsTheWholeLength) {
    Bytes dest(20, 0xCC);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopySid(15, dest.data(), Sid(kAdmins)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(dest, Bytes(20, 0xCC));

    ASSERT_TRUE(CopySid(16, dest.data(), Sid(kAdmins)));
    EXPECT_TRUE(std::equal(kAdmins.begin(), kAdmins.end(), dest.begin()));
    EXPECT_EQ(dest[16], 0xCC);
    EXPECT_EQ(dest[19], 0xCC);
}

TEST(SidTest, EqualComparesWholeSids) {
    Bytes copy = kAdmins;
    EXPECT_TRUE(EqualSid(copy.data(), Sid(kAdmins)));
    EXPECT_FALSE(EqualSid(Sid(kEveryone), Sid(kAdmins)));
    EXPECT_FALSE(EqualSid(Sid(kEveryone), Sid(kSystem)));  // same length, other authority
    copy[12] = 0x21;                                        // S-1-5-32-545
    EXPECT_FALSE(EqualSid(copy.data(), Sid(kAdmins)));
}

TEST(SidTest, PartsPointIntoTheSid) {
    PSID sid = Sid(kAdmins);
    PSID_IDENTIFIER_AUTHORITY authority = GetSidIdentifierAuthority(sid);
    ASSERT_NE(authority, nullptr);
    EXPECT_EQ(reinterpret_cast<BYTE*>(authority), static_cast<BYTE*>(sid) + 2);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    EXPECT_EQ(std::memcmp(authority->Value, nt.Value, 6), 0);

    PUCHAR count = GetSidSubAuthorityCount(sid);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(*count, 2);
    PDWORD second = GetSidSubAuthority(sid, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(reinterpret_cast<BYTE*>(second), static_cast<BYTE*>(sid) + 12);
    EXPECT_EQ(*GetSidSubAuthority(sid, 0), static_cast<DWORD>(SECURITY_BUILTIN_DOMAIN_RID));
    EXPECT_EQ(*second, static_cast<DWORD>(DOMAIN_ALIAS_RID_ADMINS));
}

// ---- access lists --------------------------------------------------------

TEST(AclTest, InitializeChecksSizeAndRevision) {
    AclBuffer buffer(64);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InitializeAcl(buffer.acl(), sizeof(ACL) - 1, ACL_REVISION));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    for (DWORD revision : {0u, 1u, 5u}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(InitializeAcl(buffer.acl(), 64, revision)) << revision;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << revision;
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InitializeAcl(buffer.acl(), 0x10000, ACL_REVISION));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(buffer.bytes, Bytes(80, 0xCC));

    ASSERT_TRUE(InitializeAcl(buffer.acl(), 64, ACL_REVISION4));
    EXPECT_EQ(Bytes(buffer.bytes.begin(), buffer.bytes.begin() + 9),
              (Bytes{0x04, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0xCC}));
    EXPECT_TRUE(IsValidAcl(buffer.acl()));
}

TEST(AclTest, SizeAccountingAndFullList) {
    AclBuffer buffer(52);
    ASSERT_TRUE(InitializeAcl(buffer.acl(), 52, ACL_REVISION2));
    ACL_SIZE_INFORMATION info = SizeInfo(buffer.acl());
    EXPECT_EQ(info.AceCount, 0u);
    EXPECT_EQ(info.AclBytesInUse, 8u);
    EXPECT_EQ(info.AclBytesFree, 44u);

    ASSERT_TRUE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION2, kShareRead, Sid(kEveryone)));
    info = SizeInfo(buffer.acl());
    EXPECT_EQ(info.AceCount, 1u);
    EXPECT_EQ(info.AclBytesInUse, 28u);
    EXPECT_EQ(info.AclBytesFree, 24u);

    ASSERT_TRUE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION2, kFullControl, Sid(kAdmins)));
    info = SizeInfo(buffer.acl());
    EXPECT_EQ(info.AceCount, 2u);
    EXPECT_EQ(info.AclBytesInUse, 52u);
    EXPECT_EQ(info.AclBytesFree, 0u);

    Bytes full = buffer.bytes;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION2, kShareRead, Sid(kEveryone)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
    EXPECT_EQ(buffer.bytes, full);
}

TEST(AclTest, ListTooSmallForAnEntryIsFull) {
    AclBuffer buffer(28);
    ASSERT_TRUE(InitializeAcl(buffer.acl(), 24, ACL_REVISION));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAccessAllowedAceEx(buffer.acl(), ACL_REVISION, 0, kShareRead, Sid(kEveryone)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
    EXPECT_EQ(SizeInfo(buffer.acl()).AceCount, 0u);
}

TEST(AclTest, InformationNeedsWholeStructures) {
    AclBuffer buffer(52);
    ASSERT_TRUE(InitializeAcl(buffer.acl(), 52, ACL_REVISION2));

    BYTE sizeInfo[sizeof(ACL_SIZE_INFORMATION)];
    std::memset(sizeInfo, 0xCC, sizeof sizeInfo);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAclInformation(buffer.acl(), sizeInfo, 11, AclSizeInformation));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Bytes(sizeInfo, sizeInfo + 12), Bytes(12, 0xCC));

    BYTE revisionInfo[8];
    std::memset(revisionInfo, 0xCC, sizeof revisionInfo);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAclInformation(buffer.acl(), revisionInfo, 3, AclRevisionInformation));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Bytes(revisionInfo, revisionInfo + 8), Bytes(8, 0xCC));

    ASSERT_TRUE(GetAclInformation(buffer.acl(), revisionInfo, 4, AclRevisionInformation));
    EXPECT_EQ(Bytes(revisionInfo, revisionInfo + 8), (Bytes{2, 0, 0, 0, 0xCC, 0xCC, 0xCC, 0xCC}));
    EXPECT_EQ(sizeof(ACL_SIZE_INFORMATION), 12u);
    EXPECT_EQ(sizeof(ACL_REVISION_INFORMATION), 4u);
}

TEST(AclTest, DeniedAndAuditEntriesKeepTypeAndFlags) {
    AclBuffer buffer(256);
    PACL acl = buffer.acl();
    ASSERT_TRUE(InitializeAcl(acl, 256, ACL_REVISION));
    ASSERT_TRUE(AddAccessDeniedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, DELETE,
                                     Sid(kEveryone)));
    ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE,
                                      GENERIC_ALL, Sid(kAdmins)));
    ASSERT_TRUE(AddAuditAccessAceEx(acl, ACL_REVISION, 0, kFullControl, Sid(kEveryone), TRUE, FALSE));
    ASSERT_TRUE(AddAuditAccessAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE, kShareRead, Sid(kSystem), FALSE,
                                    TRUE));
    ASSERT_TRUE(AddAuditAccessAceEx(acl, ACL_REVISION, 0, kShareRead, Sid(kAdmins), TRUE, TRUE));
    EXPECT_TRUE(IsValidAcl(acl));

    struct Expected {
        BYTE type, flags;
        WORD size;
        DWORD mask;
        const Bytes* sid;
    } expected[] = {
        {ACCESS_DENIED_ACE_TYPE, 0x03, 20, DELETE, &kEveryone},
        {ACCESS_ALLOWED_ACE_TYPE, 0x0A, 24, GENERIC_ALL, &kAdmins},
        {SYSTEM_AUDIT_ACE_TYPE, SUCCESSFUL_ACCESS_ACE_FLAG, 20, kFullControl, &kEveryone},
        {SYSTEM_AUDIT_ACE_TYPE, FAILED_ACCESS_ACE_FLAG | OBJECT_INHERIT_ACE, 20, kShareRead, &kSystem},
        {SYSTEM_AUDIT_ACE_TYPE, SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG, 24, kShareRead, &kAdmins},
    };
    const BYTE* previous = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (DWORD i = 0; i < 5; ++i) {
        const ACCESS_ALLOWED_ACE* ace = Entry(acl, i);
        ASSERT_NE(ace, nullptr);
        EXPECT_EQ(reinterpret_cast<const BYTE*>(ace), previous) << i;  // entries follow each other
        EXPECT_EQ(ace->Header.AceType, expected[i].type) << i;
        EXPECT_EQ(ace->Header.AceFlags, expected[i].flags) << i;
        EXPECT_EQ(ace->Header.AceSize, expected[i].size) << i;
        EXPECT_EQ(ace->Mask, expected[i].mask) << i;
        EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&ace->SidStart), Sid(*expected[i].sid))) << i;
        previous += ace->Header.AceSize;
    }
    ACL_SIZE_INFORMATION info = SizeInfo(acl);
    EXPECT_EQ(info.AceCount, 5u);
    EXPECT_EQ(info.AclBytesInUse, 8u + 20 + 24 + 20 + 20 + 24);
    EXPECT_EQ(info.AclBytesFree, 256u - info.AclBytesInUse);
}

TEST(AclTest, AddRejectsBadListsAndSids) {
    AclBuffer buffer(64);
    ASSERT_TRUE(InitializeAcl(buffer.acl(), 64, ACL_REVISION));
    Bytes badSid = kEveryone;
    badSid[0] = 3;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION, kShareRead, badSid.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));

    buffer.bytes[0] = 9;  // list revision
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAccessAllowedAce(buffer.acl(), ACL_REVISION, kShareRead, Sid(kEveryone)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACL));
}

TEST(AclTest, ValidityWalksEveryEntry) {
    auto dacl = [](Bytes& sd) { return reinterpret_cast<PACL>(sd.data() + 20); };
    Bytes sd = kShareSd;
    EXPECT_TRUE(IsValidAcl(dacl(sd)));

    Bytes extraCount = kShareSd;
    extraCount[24] = 3;  // three entries claimed, two present, no room left
    EXPECT_FALSE(IsValidAcl(dacl(extraCount)));

    Bytes entryTooLong = kShareSd;
    entryTooLong[48 + 2] = 0x1C;  // second entry claims 28 bytes, past the list's end
    EXPECT_FALSE(IsValidAcl(dacl(entryTooLong)));

    Bytes sidTooLong = kShareSd;
    sidTooLong[56 + 1] = 3;  // second SID claims three sub-authorities: longer than its entry
    EXPECT_FALSE(IsValidAcl(dacl(sidTooLong)));

    Bytes badRevision = kShareSd;
    badRevision[20] = 1;
    EXPECT_FALSE(IsValidAcl(dacl(badRevision)));
}

// ---- security descriptors ------------------------------------------------

TEST(SecurityDescriptorTest, ReadsAStoredShareDescriptor) {
    Bytes sd = kShareSd;
    PSECURITY_DESCRIPTOR psd = sd.data();
    ASSERT_EQ(sd.size(), 72u);
    EXPECT_TRUE(IsValidSecurityDescriptor(psd));
    EXPECT_EQ(GetSecurityDescriptorLength(psd), 72u);

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(psd, &control, &revision));
    EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT);
    EXPECT_EQ(revision, static_cast<DWORD>(SECURITY_DESCRIPTOR_REVISION));

    BOOL present = 7, defaulted = 7;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(psd, &present, &dacl, &defaulted));
    EXPECT_EQ(present, TRUE);
    EXPECT_EQ(defaulted, FALSE);
    EXPECT_EQ(reinterpret_cast<BYTE*>(dacl), sd.data() + 20);

    // An absent list leaves the pointer and the defaulted flag as they were.
    PACL sacl = reinterpret_cast<PACL>(0x1234);
    present = 7;
    defaulted = 7;
    ASSERT_TRUE(GetSecurityDescriptorSacl(psd, &present, &sacl, &defaulted));
    EXPECT_EQ(present, FALSE);
    EXPECT_EQ(sacl, reinterpret_cast<PACL>(0x1234));
    EXPECT_EQ(defaulted, 7);

    PSID owner = reinterpret_cast<PSID>(0x1234), group = reinterpret_cast<PSID>(0x1234);
    ASSERT_TRUE(GetSecurityDescriptorOwner(psd, &owner, &defaulted));
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(defaulted, FALSE);
    ASSERT_TRUE(GetSecurityDescriptorGroup(psd, &group, &defaulted));
    EXPECT_EQ(group, nullptr);

    ASSERT_TRUE(IsValidAcl(dacl));
    ACL_SIZE_INFORMATION info = SizeInfo(dacl);
    EXPECT_EQ(info.AceCount, 2u);
    EXPECT_EQ(info.AclBytesInUse, 52u);
    EXPECT_EQ(info.AclBytesFree, 0u);

    const ACCESS_ALLOWED_ACE* everyone = Entry(dacl, 0);
    ASSERT_NE(everyone, nullptr);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(everyone), sd.data() + 28);
    EXPECT_EQ(everyone->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(everyone->Header.AceSize, 20);
    EXPECT_EQ(everyone->Mask, kShareRead);
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&everyone->SidStart), Sid(kEveryone)));

    const ACCESS_ALLOWED_ACE* admins = Entry(dacl, 1);
    ASSERT_NE(admins, nullptr);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(admins), sd.data() + 48);
    EXPECT_EQ(admins->Header.AceSize, 24);
    EXPECT_EQ(admins->Mask, kFullControl);
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&admins->SidStart), Sid(kAdmins)));

    LPVOID past = reinterpret_cast<LPVOID>(0x1234);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAce(dacl, 2, &past));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(past, reinterpret_cast<LPVOID>(0x1234));
    EXPECT_EQ(sd, kShareSd);
}

TEST(SecurityDescriptorTest, BuildsTheShareDescriptorByteForByte) {
    AclBuffer buffer(52);
    PACL dacl = buffer.acl();
    ASSERT_TRUE(InitializeAcl(dacl, 52, ACL_REVISION2));
    ASSERT_TRUE(AddAccessAllowedAce(dacl, ACL_REVISION2, kShareRead, Sid(kEveryone)));
    ASSERT_TRUE(AddAccessAllowedAce(dacl, ACL_REVISION2, kFullControl, Sid(kAdmins)));
    ASSERT_TRUE(IsValidAcl(dacl));

    SECURITY_DESCRIPTOR absolute;
    std::memset(&absolute, 0xCC, sizeof absolute);
    ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE));
    EXPECT_TRUE(IsValidSecurityDescriptor(&absolute));
    EXPECT_EQ(GetSecurityDescriptorLength(&absolute), sizeof(SECURITY_DESCRIPTOR) + 52);

    DWORD length = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MakeSelfRelativeSD(&absolute, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 72u);

    Bytes out(80, 0xCC);
    length = 71;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MakeSelfRelativeSD(&absolute, out.data(), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 72u);
    EXPECT_EQ(out, Bytes(80, 0xCC));

    length = static_cast<DWORD>(out.size());
    ASSERT_TRUE(MakeSelfRelativeSD(&absolute, out.data(), &length));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 72), kShareSd);
    EXPECT_EQ(Bytes(out.begin() + 72, out.end()), Bytes(8, 0xCC));
    EXPECT_TRUE(IsValidSecurityDescriptor(out.data()));
    EXPECT_EQ(GetSecurityDescriptorLength(out.data()), 72u);
}

TEST(SecurityDescriptorTest, InitializeThenSetANullDacl) {
    SECURITY_DESCRIPTOR sd;
    std::memset(&sd, 0xCC, sizeof sd);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));

    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(sd.Revision, SECURITY_DESCRIPTOR_REVISION);
    EXPECT_EQ(sd.Control, 0);
    EXPECT_TRUE(sd.Owner == nullptr && sd.Group == nullptr && sd.Sacl == nullptr && sd.Dacl == nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(&sd));
    EXPECT_EQ(GetSecurityDescriptorLength(&sd), sizeof(SECURITY_DESCRIPTOR));

    // Present without a list (everyone may do anything) differs from absent.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, TRUE));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(&sd, &control, &revision));
    EXPECT_EQ(control, SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = reinterpret_cast<PACL>(0x1234);
    ASSERT_TRUE(GetSecurityDescriptorDacl(&sd, &present, &dacl, &defaulted));
    EXPECT_EQ(present, TRUE);
    EXPECT_EQ(dacl, nullptr);
    EXPECT_EQ(defaulted, TRUE);

    Bytes out(24, 0xCC);
    DWORD length = static_cast<DWORD>(out.size());
    ASSERT_TRUE(MakeSelfRelativeSD(&sd, out.data(), &length));
    Bytes expected(24, 0);
    expected[0] = 0x01;
    expected[2] = 0x0C;
    expected[3] = 0x80;
    std::fill(expected.begin() + 20, expected.end(), 0xCC);
    EXPECT_EQ(out, expected);

    // Taking the list away clears both flags.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, FALSE, nullptr, FALSE));
    ASSERT_TRUE(GetSecurityDescriptorControl(&sd, &control, &revision));
    EXPECT_EQ(control, 0);
}

TEST(SecurityDescriptorTest, SelfRelativeCannotBeChangedInPlace) {
    Bytes sd = kShareSd;
    AclBuffer buffer(8);
    ASSERT_TRUE(InitializeAcl(buffer.acl(), 8, ACL_REVISION));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetSecurityDescriptorDacl(sd.data(), TRUE, buffer.acl(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetSecurityDescriptorSacl(sd.data(), TRUE, buffer.acl(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    EXPECT_EQ(sd, kShareSd);
}

TEST(SecurityDescriptorTest, SaclComesBeforeDaclInTheSelfRelativeForm) {
    AclBuffer saclBuffer(28), daclBuffer(28);
    PACL sacl = saclBuffer.acl(), dacl = daclBuffer.acl();
    ASSERT_TRUE(InitializeAcl(sacl, 28, ACL_REVISION));
    ASSERT_TRUE(AddAuditAccessAceEx(sacl, ACL_REVISION, 0, kFullControl, Sid(kEveryone), TRUE, TRUE));
    ASSERT_TRUE(InitializeAcl(dacl, 28, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(dacl, ACL_REVISION, kFullControl, Sid(kEveryone)));

    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorSacl(&sd, TRUE, sacl, FALSE));

    DWORD length = 0;
    EXPECT_FALSE(MakeSelfRelativeSD(&sd, nullptr, &length));
    ASSERT_EQ(length, 20u + 28 + 28);
    Bytes out(length);
    ASSERT_TRUE(MakeSelfRelativeSD(&sd, out.data(), &length));
    SECURITY_DESCRIPTOR_RELATIVE header;
    std::memcpy(&header, out.data(), sizeof header);
    EXPECT_EQ(header.Control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_SACL_PRESENT);
    EXPECT_EQ(header.Sacl, 20u);
    EXPECT_EQ(header.Dacl, 48u);
    EXPECT_EQ(std::memcmp(out.data() + 20, sacl, 28), 0);
    EXPECT_EQ(std::memcmp(out.data() + 48, dacl, 28), 0);

    BOOL present = FALSE, defaulted = TRUE;
    PACL read = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorSacl(out.data(), &present, &read, &defaulted));
    EXPECT_TRUE(present && !defaulted);
    EXPECT_EQ(reinterpret_cast<BYTE*>(read), out.data() + 20);
}

TEST(SecurityDescriptorTest, ReadsOwnerAndGroupOfAFileDescriptor) {
    // Owner Administrators, group SYSTEM, both defaulted, then the share DACL.
    Bytes sd = {0x01, 0x00, 0x07, 0x80, 0x14, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0, 0x30, 0, 0, 0};
    sd.insert(sd.end(), kAdmins.begin(), kAdmins.end());
    sd.insert(sd.end(), kSystem.begin(), kSystem.end());
    sd.insert(sd.end(), kShareSd.begin() + 20, kShareSd.end());
    ASSERT_EQ(sd.size(), 0x30u + 52);
    EXPECT_TRUE(IsValidSecurityDescriptor(sd.data()));
    EXPECT_EQ(GetSecurityDescriptorLength(sd.data()), 0x30u + 52);

    PSID owner = nullptr, group = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted));
    EXPECT_EQ(static_cast<BYTE*>(owner), sd.data() + 0x14);
    EXPECT_EQ(defaulted, TRUE);
    EXPECT_TRUE(EqualSid(owner, Sid(kAdmins)));
    defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorGroup(sd.data(), &group, &defaulted));
    EXPECT_EQ(static_cast<BYTE*>(group), sd.data() + 0x24);
    EXPECT_EQ(defaulted, TRUE);
    EXPECT_TRUE(EqualSid(group, Sid(kSystem)));
}

TEST(SecurityDescriptorTest, DamagedDescriptorsAreRejected) {
    Bytes badRevision = kShareSd;
    badRevision[0] = 2;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(IsValidSecurityDescriptor(badRevision.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));

    BOOL present = 7, defaulted = 7;
    PACL dacl = reinterpret_cast<PACL>(0x1234);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetSecurityDescriptorDacl(badRevision.data(), &present, &dacl, &defaulted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    EXPECT_EQ(dacl, reinterpret_cast<PACL>(0x1234));

    Bytes badList = kShareSd;
    badList[24] = 3;  // entry count past the list
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(IsValidSecurityDescriptor(badList.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
}

// ---- account lookups -------------------------------------------------------

const Bytes kLocalAdmin = {0x01, 0x05, 0, 0, 0, 0, 0, 0x05, 0x15, 0, 0, 0, 1, 0, 0, 0,
                           2,    0,    0, 0, 3, 0, 0, 0,    0xF4, 0x01, 0, 0};  // S-1-5-21-1-2-3-500
const Bytes kLocalJdoe = {0x01, 0x05, 0, 0, 0, 0, 0, 0x05, 0x15, 0, 0, 0, 1, 0, 0, 0,
                          2,    0,    0, 0, 3, 0, 0, 0,    0xE9, 0x03, 0, 0};  // S-1-5-21-1-2-3-1001
const Bytes kCorpJdoe = {0x01, 0x05, 0, 0, 0, 0, 0, 0x05, 0x15, 0, 0, 0, 7, 0, 0, 0,
                         8,    0,    0, 0, 9, 0, 0, 0,    0x51, 0x04, 0, 0};  // S-1-5-21-7-8-9-1105

class AccountLookupTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddMachine(L"DOWN", 5, 2, false);
        AddLocalAccount(L"SRV01", L"Administrator", L"S-1-5-21-1-2-3-500");
        AddLocalAccount(L"SRV01", L"jdoe", L"S-1-5-21-1-2-3-1001");
        AddDomainAccount(L"CORP\\jdoe", L"S-1-5-21-7-8-9-1105");
    }

    struct SidName {
        BOOL ok;
        DWORD error;
        std::wstring name, domain;
        SID_NAME_USE use;
    };
    // Lookups with ample buffers.
    static SidName NameOf(LPCWSTR system, const Bytes& sid) {
        SidName result{};
        WCHAR name[64], domain[64];
        DWORD cchName = 64, cchDomain = 64;
        SetLastError(0xdeadbeef);
        result.ok = LookupAccountSidW(system, Sid(sid), name, &cchName, domain, &cchDomain, &result.use);
        result.error = GetLastError();
        if (result.ok) {
            result.name.assign(name, cchName);
            result.domain.assign(domain, cchDomain);
        }
        return result;
    }

    struct NameSid {
        BOOL ok;
        DWORD error;
        Bytes sid;
        std::wstring domain;
        SID_NAME_USE use;
    };
    static NameSid SidOf(LPCWSTR system, LPCWSTR account) {
        NameSid result{};
        BYTE sid[SECURITY_MAX_SID_SIZE];
        WCHAR domain[64];
        DWORD cbSid = sizeof sid, cchDomain = 64;
        SetLastError(0xdeadbeef);
        result.ok = LookupAccountNameW(system, account, sid, &cbSid, domain, &cchDomain, &result.use);
        result.error = GetLastError();
        if (result.ok) {
            result.sid.assign(sid, sid + cbSid);
            result.domain.assign(domain, cchDomain);
        }
        return result;
    }
};

TEST_F(AccountLookupTest, SidLookupReportsSizesWithTheTerminator) {
    DWORD cchName = 0, cchDomain = 0;
    SID_NAME_USE use = SidTypeInvalid;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(LookupAccountSidW(nullptr, Sid(kAdmins), nullptr, &cchName, nullptr, &cchDomain, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cchName, 15u);   // "Administrators" and NUL
    EXPECT_EQ(cchDomain, 8u);  // "BUILTIN" and NUL

    // One character short in the name alone still reports both sizes.
    std::vector<WCHAR> name(20, L'#'), domain(20, L'#');
    cchName = 14;
    cchDomain = 20;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(LookupAccountSidW(nullptr, Sid(kAdmins), name.data(), &cchName, domain.data(), &cchDomain, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cchName, 15u);
    EXPECT_EQ(cchDomain, 8u);

    cchName = 15;
    cchDomain = 8;
    ASSERT_TRUE(LookupAccountSidW(nullptr, Sid(kAdmins), name.data(), &cchName, domain.data(), &cchDomain, &use));
    EXPECT_EQ(cchName, 14u);  // on success: the length without NUL
    EXPECT_EQ(cchDomain, 7u);
    EXPECT_EQ(std::wstring(name.data()), L"Administrators");
    EXPECT_EQ(std::wstring(domain.data()), L"BUILTIN");
    EXPECT_EQ(name[15], L'#');
    EXPECT_EQ(domain[8], L'#');
    EXPECT_EQ(use, SidTypeAlias);
}

TEST_F(AccountLookupTest, EveryoneHasAnEmptyDomain) {
    DWORD cchName = 0, cchDomain = 0;
    SID_NAME_USE use = SidTypeInvalid;
    EXPECT_FALSE(LookupAccountSidW(L"", Sid(kEveryone), nullptr, &cchName, nullptr, &cchDomain, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cchName, 9u);
    EXPECT_EQ(cchDomain, 1u);

    SidName everyone = NameOf(L"", kEveryone);
    ASSERT_TRUE(everyone.ok) << everyone.error;
    EXPECT_EQ(everyone.name, L"Everyone");
    EXPECT_EQ(everyone.domain, L"");
    EXPECT_EQ(everyone.use, SidTypeWellKnownGroup);

    SidName system = NameOf(nullptr, kSystem);
    ASSERT_TRUE(system.ok) << system.error;
    EXPECT_EQ(system.name, L"SYSTEM");
    EXPECT_EQ(system.domain, L"NT AUTHORITY");
}

TEST_F(AccountLookupTest, SidLookupFindsMachineAndDomainAccounts) {
    for (LPCWSTR system : {L"", L"\\\\SRV01", L"srv01"}) {
        SidName admin = NameOf(system, kLocalAdmin);
        ASSERT_TRUE(admin.ok) << admin.error;
        EXPECT_EQ(admin.name, L"Administrator");
        EXPECT_EQ(admin.domain, L"SRV01");
        EXPECT_EQ(admin.use, SidTypeUser);
    }
    // SRV01's own accounts are unknown to SRV02; the domain's are known to both.
    EXPECT_EQ(NameOf(L"\\\\SRV02", kLocalAdmin).error, static_cast<DWORD>(ERROR_NONE_MAPPED));
    SidName jdoe = NameOf(L"\\\\SRV02", kCorpJdoe);
    ASSERT_TRUE(jdoe.ok) << jdoe.error;
    EXPECT_EQ(jdoe.name, L"jdoe");
    EXPECT_EQ(jdoe.domain, L"CORP");

    Bytes unknown = kLocalAdmin;
    unknown[24] = 0xF5;  // S-1-5-21-1-2-3-501
    EXPECT_EQ(NameOf(nullptr, unknown).error, static_cast<DWORD>(ERROR_NONE_MAPPED));
}

TEST_F(AccountLookupTest, NameLookupReportsSidBytesAndDomainWithTerminator) {
    DWORD cbSid = 0, cchDomain = 0;
    SID_NAME_USE use = SidTypeInvalid;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(LookupAccountNameW(nullptr, L"BUILTIN\\Administrators", nullptr, &cbSid, nullptr, &cchDomain, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cbSid, 16u);
    EXPECT_EQ(cchDomain, 8u);

    Bytes sid(20, 0xCC);
    std::vector<WCHAR> domain(12, L'#');
    ASSERT_TRUE(LookupAccountNameW(nullptr, L"BUILTIN\\Administrators", sid.data(), &cbSid, domain.data(),
                                   &cchDomain, &use));
    EXPECT_EQ(cbSid, 16u);
    EXPECT_EQ(cchDomain, 7u);
    EXPECT_EQ(Bytes(sid.begin(), sid.begin() + 16), kAdmins);
    EXPECT_EQ(Bytes(sid.begin() + 16, sid.end()), Bytes(4, 0xCC));
    EXPECT_EQ(std::wstring(domain.data()), L"BUILTIN");
    EXPECT_EQ(domain[8], L'#');
    EXPECT_EQ(use, SidTypeAlias);

    // A SID buffer one byte short fails although the domain fits.
    cbSid = 27;
    cchDomain = 12;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(LookupAccountNameW(L"SRV01", L"Administrator", sid.data(), &cbSid, domain.data(), &cchDomain, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cbSid, 28u);
    EXPECT_EQ(cchDomain, 6u);  // "SRV01" and NUL
}

TEST_F(AccountLookupTest, NamesMatchIgnoringCase) {
    NameSid admins = SidOf(nullptr, L"builtin\\ADMINISTRATORS");
    ASSERT_TRUE(admins.ok) << admins.error;
    EXPECT_EQ(admins.sid, kAdmins);
    EXPECT_EQ(admins.domain, L"BUILTIN");

    NameSid everyone = SidOf(nullptr, L"EVERYONE");
    ASSERT_TRUE(everyone.ok) << everyone.error;
    EXPECT_EQ(everyone.sid, kEveryone);
    EXPECT_EQ(everyone.domain, L"");
    EXPECT_EQ(everyone.use, SidTypeWellKnownGroup);

    NameSid system = SidOf(L"\\\\srv02", L"nt authority\\system");
    ASSERT_TRUE(system.ok) << system.error;
    EXPECT_EQ(system.sid, kSystem);
    EXPECT_EQ(system.domain, L"NT AUTHORITY");

    NameSid admin = SidOf(nullptr, L"srv01\\administrator");
    ASSERT_TRUE(admin.ok) << admin.error;
    EXPECT_EQ(admin.sid, kLocalAdmin);
    EXPECT_EQ(admin.domain, L"SRV01");
    EXPECT_EQ(admin.use, SidTypeUser);
}

TEST_F(AccountLookupTest, BareNamesPreferWellKnownThenLocalThenDomain) {
    NameSid local = SidOf(L"SRV01", L"jdoe");
    ASSERT_TRUE(local.ok) << local.error;
    EXPECT_EQ(local.sid, kLocalJdoe);
    EXPECT_EQ(local.domain, L"SRV01");

    NameSid domain = SidOf(L"SRV02", L"JDOE");
    ASSERT_TRUE(domain.ok) << domain.error;
    EXPECT_EQ(domain.sid, kCorpJdoe);
    EXPECT_EQ(domain.domain, L"CORP");

    NameSid qualified = SidOf(L"SRV01", L"CORP\\jdoe");
    ASSERT_TRUE(qualified.ok) << qualified.error;
    EXPECT_EQ(qualified.sid, kCorpJdoe);

    // A machine group named like a built-in one loses to it unless qualified.
    AddLocalAccount(L"SRV01", L"Users", L"S-1-5-21-1-2-3-1002,Alias");
    NameSid users = SidOf(L"SRV01", L"users");
    ASSERT_TRUE(users.ok) << users.error;
    EXPECT_EQ(users.domain, L"BUILTIN");
    NameSid localUsers = SidOf(L"SRV01", L"SRV01\\Users");
    ASSERT_TRUE(localUsers.ok) << localUsers.error;
    EXPECT_EQ(localUsers.domain, L"SRV01");
    EXPECT_EQ(localUsers.use, SidTypeAlias);
}

TEST_F(AccountLookupTest, UnknownNamesAreNotMapped) {
    for (LPCWSTR account : {L"nosuch", L"NOSUCH\\Administrators", L"CORP\\Administrator", L"", L"BUILTIN\\"}) {
        DWORD cbSid = 0, cchDomain = 0;
        SID_NAME_USE use;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(LookupAccountNameW(L"SRV01", account, nullptr, &cbSid, nullptr, &cchDomain, &use)) << account;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED)) << account;
    }
    // SRV01's own account is not known on SRV02.
    EXPECT_EQ(SidOf(L"SRV02", L"Administrator").error, static_cast<DWORD>(ERROR_NONE_MAPPED));
}

TEST_F(AccountLookupTest, UnreachableSystemsFailBothLookups) {
    for (LPCWSTR system : {L"\\\\NOSUCH", L"\\\\DOWN"}) {
        EXPECT_EQ(NameOf(system, kAdmins).error, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << system;
        EXPECT_EQ(SidOf(system, L"Administrators").error, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << system;
    }
}

TEST_F(AccountLookupTest, InjectedFaultsFireBeforeTheLookup) {
    AddFault(L"LookupAccountNameW@SRV02=1789,1");
    AddFault(L"LookupAccountSidW:S-1-1-0=5");
    EXPECT_TRUE(SidOf(L"SRV01", L"Administrators").ok);
    EXPECT_EQ(SidOf(L"\\\\srv02", L"Administrators").error, 1789u);
    EXPECT_TRUE(SidOf(L"\\\\srv02", L"Administrators").ok);

    EXPECT_EQ(NameOf(nullptr, kEveryone).error, 5u);
    EXPECT_EQ(NameOf(L"SRV02", kEveryone).error, 5u);
    EXPECT_TRUE(NameOf(nullptr, kAdmins).ok);
}

}  // namespace
