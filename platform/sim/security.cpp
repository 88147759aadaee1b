// Security descriptors, access lists, entries and SIDs in their Windows
// binary layouts, and the account lookups against the simulated world.
// Descriptors may come from registry data at any alignment, so fields are
// read and written through memcpy.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sid_text.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

template <class T>
T Load(const void* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T>
void Store(void* p, const T& value) {
    std::memcpy(p, &value, sizeof value);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD RoundUp4(DWORD n) { return (n + 3) & ~3u; }

// ---- SIDs ----------------------------------------------------------------

constexpr DWORD kSidHeader = offsetof(SID, SubAuthority);

bool SidOk(const void* sid) {
    const BYTE* p = static_cast<const BYTE*>(sid);
    return p && p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD SidSize(const void* sid) { return kSidHeader + 4 * static_cast<const BYTE*>(sid)[1]; }

// ---- access lists ----------------------------------------------------------

// Header and mask; the SID follows at once in every entry of the common layout.
constexpr DWORD kKnownAceSid = offsetof(ACCESS_ALLOWED_ACE, SidStart);
// Object entries: header, mask, flags, then up to two GUIDs before the SID.
constexpr DWORD kObjectAceFixed = kKnownAceSid + sizeof(DWORD);
constexpr DWORD kObjectTypePresent = 0x1;
constexpr DWORD kInheritedObjectTypePresent = 0x2;
constexpr DWORD kGuidSize = 16;

// Whether the entry at `ace` (of `size` bytes) carries a SID that fits in it.
bool EntrySidFits(const BYTE* ace, DWORD size, DWORD sidOffset) {
    if (sidOffset + kSidHeader > size) return false;
    const BYTE* sid = ace + sidOffset;
    return SidOk(sid) && sidOffset + SidSize(sid) <= size;
}

bool EntryOk(const BYTE* ace, DWORD size) {
    BYTE type = ace[0];
    if (type <= ACCESS_MAX_MS_V2_ACE_TYPE) return size % 4 == 0 && EntrySidFits(ace, size, kKnownAceSid);
    if (type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE) {
        if (size % 4 != 0 || size < kObjectAceFixed) return false;
        DWORD flags = Load<DWORD>(ace + kKnownAceSid);
        DWORD sidOffset = kObjectAceFixed;
        if (flags & kObjectTypePresent) sidOffset += kGuidSize;
        if (flags & kInheritedObjectTypePresent) sidOffset += kGuidSize;
        return EntrySidFits(ace, size, sidOffset);
    }
    // Types this layer does not interpret only need to hold their header.
    return size >= sizeof(ACE_HEADER);
}

bool AclOk(const void* list) {
    if (!list) return false;
    const BYTE* acl = static_cast<const BYTE*>(list);
    ACL header = Load<ACL>(acl);
    if (header.AclRevision < MIN_ACL_REVISION || header.AclRevision > MAX_ACL_REVISION) return false;
    if (header.AclSize < sizeof(ACL) || header.AclSize % 2 != 0) return false;
    DWORD offset = sizeof(ACL);
    for (DWORD i = 0; i < header.AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > header.AclSize) return false;
        ACE_HEADER ace = Load<ACE_HEADER>(acl + offset);
        if (ace.AceSize < sizeof(ACE_HEADER) || ace.AceSize % 2 != 0) return false;
        if (offset + ace.AceSize > header.AclSize) return false;
        if (!EntryOk(acl + offset, ace.AceSize)) return false;
        offset += ace.AceSize;
    }
    return true;
}

// Offset of the first byte after the entries of a list that AclOk accepted.
DWORD EntriesEnd(const BYTE* acl) {
    ACL header = Load<ACL>(acl);
    DWORD offset = sizeof(ACL);
    for (DWORD i = 0; i < header.AceCount; ++i) offset += Load<ACE_HEADER>(acl + offset).AceSize;
    return offset;
}

BOOL AddKnownAce(PACL pAcl, DWORD revision, BYTE type, DWORD flags, DWORD validFlags, DWORD mask,
                 PSID pSid) {
    if (!AclOk(pAcl)) return Fail(ERROR_INVALID_ACL);
    if (!SidOk(pSid)) return Fail(ERROR_INVALID_SID);
    if (revision < MIN_ACL_REVISION || revision > MAX_ACL_REVISION) return Fail(ERROR_REVISION_MISMATCH);
    if (flags & ~validFlags) return Fail(ERROR_INVALID_FLAGS);

    BYTE* acl = reinterpret_cast<BYTE*>(pAcl);
    ACL header = Load<ACL>(acl);
    DWORD end = EntriesEnd(acl);
    DWORD sidSize = SidSize(pSid);
    DWORD aceSize = kKnownAceSid + sidSize;
    if (end + aceSize > header.AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);

    ACE_HEADER ace{type, static_cast<BYTE>(flags), static_cast<WORD>(aceSize)};
    Store(acl + end, ace);
    Store(acl + end + sizeof(ACE_HEADER), mask);
    std::memcpy(acl + end + kKnownAceSid, pSid, sidSize);
    header.AceCount++;
    // An entry of a later revision lifts the list to that revision.
    header.AclRevision = static_cast<BYTE>(std::max<DWORD>(header.AclRevision, revision));
    Store(acl, header);
    return TRUE;
}

// ---- security descriptors ------------------------------------------------

// The parts of a descriptor in either form.
struct SdParts {
    BYTE revision = 0;
    WORD control = 0;
    BYTE* owner = nullptr;
    BYTE* group = nullptr;
    BYTE* sacl = nullptr;
    BYTE* dacl = nullptr;
    bool offsetsOk = true;  // self-relative: no part points into the header
};

// Reads nothing past the revision byte of a descriptor of another revision:
// its length is unknown, and the header of either form may run past its end.
SdParts ReadSd(PSECURITY_DESCRIPTOR sd) {
    BYTE* p = static_cast<BYTE*>(sd);
    SdParts parts;
    parts.revision = p[0];
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return parts;
    parts.control = Load<WORD>(p + offsetof(SECURITY_DESCRIPTOR, Control));
    if (parts.control & SE_SELF_RELATIVE) {
        // Only the 20-byte header may be read: a self-relative block can be that short.
        auto rel = Load<SECURITY_DESCRIPTOR_RELATIVE>(p);
        auto at = [&](DWORD offset) -> BYTE* {
            if (offset == 0) return nullptr;
            if (offset < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) parts.offsetsOk = false;
            return p + offset;
        };
        parts.owner = at(rel.Owner);
        parts.group = at(rel.Group);
        parts.sacl = (parts.control & SE_SACL_PRESENT) ? at(rel.Sacl) : nullptr;
        parts.dacl = (parts.control & SE_DACL_PRESENT) ? at(rel.Dacl) : nullptr;
    } else {
        auto abs = Load<SECURITY_DESCRIPTOR>(p);
        parts.owner = static_cast<BYTE*>(abs.Owner);
        parts.group = static_cast<BYTE*>(abs.Group);
        parts.sacl = (parts.control & SE_SACL_PRESENT) ? reinterpret_cast<BYTE*>(abs.Sacl) : nullptr;
        parts.dacl = (parts.control & SE_DACL_PRESENT) ? reinterpret_cast<BYTE*>(abs.Dacl) : nullptr;
    }
    return parts;
}

DWORD AclSizeOf(const BYTE* acl) { return Load<ACL>(acl).AclSize; }

BOOL GetAcl(PSECURITY_DESCRIPTOR sd, WORD presentBit, WORD defaultedBit, bool dacl, LPBOOL present,
            PACL* list, LPBOOL defaulted) {
    if (!sd || !present || !list || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    SdParts parts = ReadSd(sd);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    *present = (parts.control & presentBit) ? TRUE : FALSE;
    // Windows stores the list and the defaulted flag only for a present list.
    if (*present) {
        *list = reinterpret_cast<PACL>(dacl ? parts.dacl : parts.sacl);
        *defaulted = (parts.control & defaultedBit) ? TRUE : FALSE;
    }
    return TRUE;
}

BOOL GetSid(PSECURITY_DESCRIPTOR sd, WORD defaultedBit, bool owner, PSID* sid, LPBOOL defaulted) {
    if (!sd || !sid || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    SdParts parts = ReadSd(sd);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    *sid = owner ? parts.owner : parts.group;
    *defaulted = (parts.control & defaultedBit) ? TRUE : FALSE;
    return TRUE;
}

BOOL SetAcl(PSECURITY_DESCRIPTOR sd, WORD presentBit, WORD defaultedBit, bool dacl, BOOL present,
            PACL list, BOOL defaulted) {
    if (!sd) return Fail(ERROR_INVALID_PARAMETER);
    SdParts parts = ReadSd(sd);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    if (parts.control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
    auto abs = Load<SECURITY_DESCRIPTOR>(sd);
    abs.Control &= static_cast<WORD>(~(presentBit | defaultedBit));
    PACL stored = nullptr;
    if (present) {
        abs.Control |= presentBit;
        if (defaulted) abs.Control |= defaultedBit;
        stored = list;
    }
    (dacl ? abs.Dacl : abs.Sacl) = stored;
    Store(sd, abs);
    return TRUE;
}

}  // namespace

// ---- descriptors -----------------------------------------------------------

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!pSecurityDescriptor) return Fail(ERROR_INVALID_SECURITY_DESCR);
    SdParts parts = ReadSd(pSecurityDescriptor);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION || !parts.offsetsOk)
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (parts.owner && !SidOk(parts.owner)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (parts.group && !SidOk(parts.group)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (parts.dacl && !AclOk(parts.dacl)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (parts.sacl && !AclOk(parts.sacl)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    return TRUE;
}

DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!pSecurityDescriptor) return 0;
    SdParts parts = ReadSd(pSecurityDescriptor);
    DWORD sids[] = {parts.owner ? RoundUp4(SidSize(parts.owner)) : 0,
                    parts.group ? RoundUp4(SidSize(parts.group)) : 0};
    DWORD acls[] = {parts.sacl ? RoundUp4(AclSizeOf(parts.sacl)) : 0,
                    parts.dacl ? RoundUp4(AclSizeOf(parts.dacl)) : 0};
    if (!(parts.control & SE_SELF_RELATIVE))
        return sizeof(SECURITY_DESCRIPTOR) + sids[0] + sids[1] + acls[0] + acls[1];
    // Measured to the end of the last part, so a block with gaps between its
    // parts is still copied whole.
    const BYTE* base = static_cast<const BYTE*>(pSecurityDescriptor);
    DWORD length = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
    const BYTE* starts[] = {parts.owner, parts.group, parts.sacl, parts.dacl};
    DWORD sizes[] = {sids[0], sids[1], acls[0], acls[1]};
    for (int i = 0; i < 4; ++i) {
        if (starts[i]) length = std::max(length, static_cast<DWORD>(starts[i] - base) + sizes[i]);
    }
    return length;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                                      PACL* pDacl, LPBOOL lpbDaclDefaulted) {
    return GetAcl(pSecurityDescriptor, SE_DACL_PRESENT, SE_DACL_DEFAULTED, true, lpbDaclPresent, pDacl,
                  lpbDaclDefaulted);
}

BOOL WINAPI GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbSaclPresent,
                                      PACL* pSacl, LPBOOL lpbSaclDefaulted) {
    return GetAcl(pSecurityDescriptor, SE_SACL_PRESENT, SE_SACL_DEFAULTED, false, lpbSaclPresent, pSacl,
                  lpbSaclDefaulted);
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                       LPBOOL lpbOwnerDefaulted) {
    return GetSid(pSecurityDescriptor, SE_OWNER_DEFAULTED, true, pOwner, lpbOwnerDefaulted);
}

BOOL WINAPI GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pGroup,
                                       LPBOOL lpbGroupDefaulted) {
    return GetSid(pSecurityDescriptor, SE_GROUP_DEFAULTED, false, pGroup, lpbGroupDefaulted);
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision) {
    if (!pSecurityDescriptor || !pControl || !lpdwRevision) return Fail(ERROR_INVALID_PARAMETER);
    SdParts parts = ReadSd(pSecurityDescriptor);
    *lpdwRevision = parts.revision;
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    *pControl = parts.control;
    return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
    if (!pSecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    SECURITY_DESCRIPTOR abs{};
    abs.Revision = SECURITY_DESCRIPTOR_REVISION;
    Store(pSecurityDescriptor, abs);
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted) {
    return SetAcl(pSecurityDescriptor, SE_DACL_PRESENT, SE_DACL_DEFAULTED, true, bDaclPresent, pDacl,
                  bDaclDefaulted);
}

BOOL WINAPI SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bSaclPresent,
                                      PACL pSacl, BOOL bSaclDefaulted) {
    return SetAcl(pSecurityDescriptor, SE_SACL_PRESENT, SE_SACL_DEFAULTED, false, bSaclPresent, pSacl,
                  bSaclDefaulted);
}

BOOL WINAPI MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                               PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                               LPDWORD lpdwBufferLength) {
    if (!pAbsoluteSecurityDescriptor || !lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
    SdParts parts = ReadSd(pAbsoluteSecurityDescriptor);
    if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    if (parts.control & SE_SELF_RELATIVE) return Fail(ERROR_BAD_DESCRIPTOR_FORMAT);

    // Windows lays the parts out in this order: SACL, DACL, owner, group.
    struct Part {
        const BYTE* data;
        DWORD size;
        DWORD SECURITY_DESCRIPTOR_RELATIVE::*offset;
    };
    Part layout[] = {
        {parts.sacl, parts.sacl ? AclSizeOf(parts.sacl) : 0, &SECURITY_DESCRIPTOR_RELATIVE::Sacl},
        {parts.dacl, parts.dacl ? AclSizeOf(parts.dacl) : 0, &SECURITY_DESCRIPTOR_RELATIVE::Dacl},
        {parts.owner, parts.owner ? SidSize(parts.owner) : 0, &SECURITY_DESCRIPTOR_RELATIVE::Owner},
        {parts.group, parts.group ? SidSize(parts.group) : 0, &SECURITY_DESCRIPTOR_RELATIVE::Group},
    };
    DWORD needed = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
    for (const Part& part : layout) needed += RoundUp4(part.size);
    if (!pSelfRelativeSecurityDescriptor || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }

    BYTE* out = static_cast<BYTE*>(pSelfRelativeSecurityDescriptor);
    std::memset(out, 0, needed);
    SECURITY_DESCRIPTOR_RELATIVE rel{};
    rel.Revision = parts.revision;
    rel.Sbz1 = static_cast<const BYTE*>(pAbsoluteSecurityDescriptor)[1];
    rel.Control = parts.control | SE_SELF_RELATIVE;
    DWORD next = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
    for (const Part& part : layout) {
        if (!part.data) continue;
        std::memcpy(out + next, part.data, part.size);
        rel.*part.offset = next;
        next += RoundUp4(part.size);
    }
    Store(out, rel);
    return TRUE;
}

// ---- access lists ----------------------------------------------------------

BOOL WINAPI IsValidAcl(PACL pAcl) { return AclOk(pAcl) ? TRUE : FALSE; }

BOOL WINAPI GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                              ACL_INFORMATION_CLASS dwAclInformationClass) {
    if (!pAclInformation) return Fail(ERROR_INVALID_PARAMETER);
    if (!AclOk(pAcl)) return Fail(ERROR_INVALID_ACL);
    const BYTE* acl = reinterpret_cast<const BYTE*>(pAcl);
    ACL header = Load<ACL>(acl);
    switch (dwAclInformationClass) {
    case AclRevisionInformation: {
        if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        ACL_REVISION_INFORMATION info{header.AclRevision};
        Store(pAclInformation, info);
        return TRUE;
    }
    case AclSizeInformation: {
        if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        DWORD used = EntriesEnd(acl);
        ACL_SIZE_INFORMATION info{header.AceCount, used, header.AclSize - used};
        Store(pAclInformation, info);
        return TRUE;
    }
    }
    return Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (!pAcl || !pAce) return Fail(ERROR_INVALID_PARAMETER);
    BYTE* acl = reinterpret_cast<BYTE*>(pAcl);
    ACL header = Load<ACL>(acl);
    if (header.AclRevision < MIN_ACL_REVISION || header.AclRevision > MAX_ACL_REVISION ||
        dwAceIndex >= header.AceCount)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD offset = sizeof(ACL);
    for (DWORD i = 0;; ++i) {
        if (offset + sizeof(ACE_HEADER) > header.AclSize) return Fail(ERROR_INVALID_PARAMETER);
        if (i == dwAceIndex) break;
        WORD size = Load<ACE_HEADER>(acl + offset).AceSize;
        if (size < sizeof(ACE_HEADER)) return Fail(ERROR_INVALID_PARAMETER);
        offset += size;
    }
    *pAce = acl + offset;
    return TRUE;
}

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    if (!pAcl) return Fail(ERROR_INVALID_PARAMETER);
    if (nAclLength < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (dwAclRevision < MIN_ACL_REVISION || dwAclRevision > MAX_ACL_REVISION || nAclLength > 0xFFFF)
        return Fail(ERROR_INVALID_PARAMETER);
    ACL header{};
    header.AclRevision = static_cast<BYTE>(dwAclRevision);
    // Entries are whole DWORDs; a ragged tail could never hold one and would
    // let a later copy of the list read past the caller's buffer.
    header.AclSize = static_cast<WORD>(nAclLength & ~3u);
    Store(pAcl, header);
    return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
    return AddKnownAce(pAcl, dwAceRevision, ACCESS_ALLOWED_ACE_TYPE, 0, 0, AccessMask, pSid);
}

BOOL WINAPI AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                                  PSID pSid) {
    return AddKnownAce(pAcl, dwAceRevision, ACCESS_ALLOWED_ACE_TYPE, AceFlags, VALID_INHERIT_FLAGS,
                       AccessMask, pSid);
}

BOOL WINAPI AddAccessDeniedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                                 PSID pSid) {
    return AddKnownAce(pAcl, dwAceRevision, ACCESS_DENIED_ACE_TYPE, AceFlags, VALID_INHERIT_FLAGS,
                       AccessMask, pSid);
}

BOOL WINAPI AddAuditAccessAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD dwAccessMask,
                                PSID pSid, BOOL bAuditSuccess, BOOL bAuditFailure) {
    if (bAuditSuccess) AceFlags |= SUCCESSFUL_ACCESS_ACE_FLAG;
    if (bAuditFailure) AceFlags |= FAILED_ACCESS_ACE_FLAG;
    return AddKnownAce(pAcl, dwAceRevision, SYSTEM_AUDIT_ACE_TYPE, AceFlags,
                       VALID_INHERIT_FLAGS | SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG,
                       dwAccessMask, pSid);
}

// ---- SIDs ----------------------------------------------------------------

BOOL WINAPI IsValidSid(PSID pSid) { return SidOk(pSid) ? TRUE : FALSE; }

DWORD WINAPI GetLengthSid(PSID pSid) { return pSid ? SidSize(pSid) : 0; }

BOOL WINAPI CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid) {
    if (!SidOk(pSourceSid)) return Fail(ERROR_INVALID_SID);
    DWORD size = SidSize(pSourceSid);
    if (!pDestinationSid || nDestinationSidLength < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memmove(pDestinationSid, pSourceSid, size);
    return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    SetLastError(ERROR_SUCCESS);
    if (!SidOk(pSid1) || !SidOk(pSid2)) return FALSE;
    DWORD size = SidSize(pSid1);
    return size == SidSize(pSid2) && std::memcmp(pSid1, pSid2, size) == 0 ? TRUE : FALSE;
}

PSID_IDENTIFIER_AUTHORITY WINAPI GetSidIdentifierAuthority(PSID pSid) {
    if (!SidOk(pSid)) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return &static_cast<PISID>(pSid)->IdentifierAuthority;
}

PUCHAR WINAPI GetSidSubAuthorityCount(PSID pSid) {
    if (!SidOk(pSid)) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return &static_cast<PISID>(pSid)->SubAuthorityCount;
}

PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
    if (!SidOk(pSid)) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    if (nSubAuthority >= static_cast<PISID>(pSid)->SubAuthorityCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<PDWORD>(static_cast<BYTE*>(pSid) + kSidHeader + 4 * nSubAuthority);
}

// ---- account lookups -------------------------------------------------------

namespace {

// The machine name as fault rules see it: the argument without its leading
// backslashes, or the local machine for none.
std::wstring NamedMachine(LPCWSTR system) {
    std::wstring name = system ? system : L"";
    size_t start = name.find_first_not_of(L'\\');
    name = start == std::wstring::npos ? std::wstring() : name.substr(start);
    return name.empty() ? sim::LocalMachineName() : name;
}

DWORD OpenLookup(const char* function, LPCWSTR system, const std::wstring& argument,
                 std::wstring& machine) {
    if (DWORD fault = sim::InjectedFault(function, NamedMachine(system), {argument})) return fault;
    // The account service is reached by RPC, so a machine that cannot be
    // reached reports the RPC server as unavailable.
    return sim::ResolveMachine(system, machine, RPC_S_SERVER_UNAVAILABLE);
}

struct Match {
    const sim::Account* account = nullptr;
    std::vector<BYTE> sid;
};

// The world lists well-known accounts, then the machine's own, then the
// domain's: the order in which Windows searches for a bare name.
template <class Accept>
Match FindAccount(const std::vector<sim::Account>& accounts, Accept accept) {
    for (const sim::Account& account : accounts) {
        std::vector<BYTE> sid;
        if (sim::ParseSidText(account.sid, sid) && accept(account, sid)) return Match{&account, std::move(sid)};
    }
    return Match{};
}

void CopyText(const std::wstring& text, LPWSTR buffer) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
}

}  // namespace

BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                              LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse) {
    if (!SidOk(Sid)) return Fail(ERROR_INVALID_SID);
    if (!cchName || !cchReferencedDomainName || !peUse) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring machine;
    if (DWORD error = OpenLookup("LookupAccountSidW", lpSystemName, sim::SidToText(Sid), machine))
        return Fail(error);

    std::vector<sim::Account> accounts = sim::AccountsSeenFrom(machine);
    DWORD size = SidSize(Sid);
    Match match = FindAccount(accounts, [&](const sim::Account&, const std::vector<BYTE>& sid) {
        return sid.size() == size && std::memcmp(sid.data(), Sid, size) == 0;
    });
    if (!match.account) return Fail(ERROR_NONE_MAPPED);

    const sim::Account& account = *match.account;
    DWORD nameNeeded = static_cast<DWORD>(account.name.size() + 1);
    DWORD domainNeeded = static_cast<DWORD>(account.domain.size() + 1);
    if (!Name || *cchName < nameNeeded || !ReferencedDomainName || *cchReferencedDomainName < domainNeeded) {
        *cchName = nameNeeded;
        *cchReferencedDomainName = domainNeeded;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    CopyText(account.name, Name);
    CopyText(account.domain, ReferencedDomainName);
    *cchName = nameNeeded - 1;
    *cchReferencedDomainName = domainNeeded - 1;
    *peUse = account.use;
    return TRUE;
}

BOOL WINAPI LookupAccountNameW(LPCWSTR lpSystemName, LPCWSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                               LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                               PSID_NAME_USE peUse) {
    if (!lpAccountName || !cbSid || !cchReferencedDomainName || !peUse) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring given = lpAccountName;
    std::wstring machine;
    if (DWORD error = OpenLookup("LookupAccountNameW", lpSystemName, given, machine)) return Fail(error);

    size_t slash = given.find(L'\\');
    bool qualified = slash != std::wstring::npos;
    std::wstring domain = qualified ? given.substr(0, slash) : std::wstring();
    std::wstring name = qualified ? given.substr(slash + 1) : given;
    if (name.empty()) return Fail(ERROR_NONE_MAPPED);

    std::vector<sim::Account> accounts = sim::AccountsSeenFrom(machine);
    Match match = FindAccount(accounts, [&](const sim::Account& account, const std::vector<BYTE>&) {
        return corvan::EqualsNoCase(account.name, name) &&
               (!qualified || corvan::EqualsNoCase(account.domain, domain));
    });
    if (!match.account) return Fail(ERROR_NONE_MAPPED);

    const sim::Account& account = *match.account;
    DWORD sidNeeded = static_cast<DWORD>(match.sid.size());
    DWORD domainNeeded = static_cast<DWORD>(account.domain.size() + 1);
    if (!Sid || *cbSid < sidNeeded || !ReferencedDomainName || *cchReferencedDomainName < domainNeeded) {
        *cbSid = sidNeeded;
        *cchReferencedDomainName = domainNeeded;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(Sid, match.sid.data(), sidNeeded);
    CopyText(account.domain, ReferencedDomainName);
    *cbSid = sidNeeded;
    *cchReferencedDomainName = domainNeeded - 1;
    *peUse = account.use;
    return TRUE;
}
