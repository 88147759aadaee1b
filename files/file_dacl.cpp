#include "files/file_dacl.h"

#include <cwchar>

#include "core/server_name.h"
#include "core/store_value.h"
#include "platform/text.h"

namespace {

constexpr DWORD kAccountTextCapacity = 256;

LPCWSTR ServerArgument(const std::wstring& server) { return server.empty() ? nullptr : server.c_str(); }

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// "DOMAIN\name" of a SID as the machine names it; empty when it does not.
std::wstring AccountOf(PSID sid, const std::wstring& server) {
    WCHAR name[kAccountTextCapacity];
    WCHAR domain[kAccountTextCapacity];
    DWORD nameSize = kAccountTextCapacity;
    DWORD domainSize = kAccountTextCapacity;
    SID_NAME_USE use;
    if (!LookupAccountSidW(ServerArgument(server), sid, name, &nameSize, domain, &domainSize, &use)) return L"";
    return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

// The SID of an entry on the target: its account by name, else its SID text.
bool FindSid(const CFileDacl::Entry& entry, const std::wstring& server, std::vector<BYTE>& sid) {
    if (!entry.Account.empty()) {
        DWORD sidSize = SECURITY_MAX_SID_SIZE;
        WCHAR domain[kAccountTextCapacity];
        DWORD domainSize = kAccountTextCapacity;
        SID_NAME_USE use;
        sid.assign(sidSize, 0);
        if (LookupAccountNameW(ServerArgument(server), entry.Account.c_str(), sid.data(), &sidSize, domain,
                               &domainSize, &use)) {
            sid.resize(sidSize);
            return true;
        }
        if (entry.Moved) return false;
    }
    PSID parsed = nullptr;
    if (!ConvertStringSidToSidW(entry.Sid.c_str(), &parsed)) return false;
    const BYTE* bytes = static_cast<const BYTE*>(parsed);
    sid.assign(bytes, bytes + GetLengthSid(parsed));
    LocalFree(parsed);
    return true;
}

bool ReadHex(const std::wstring& text, size_t maxDigits, DWORD& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    for (wchar_t c : text)
        if (!std::iswxdigit(c)) return false;
    value = CStoreValue::HexNumber(text);
    return true;
}

}  // namespace

DWORD CFileDacl::Read(const std::wstring& longPath, const std::wstring& server, std::unique_ptr<CFileDacl>& own,
                      std::wstring& call) {
    own.reset();
    DWORD needed = 0;
    alignas(8) BYTE small[256];
    std::vector<BYTE> large;
    BYTE* sd = small;
    DWORD size = sizeof small;
    // Most lists fit the buffer on the stack; a longer one is asked for again.
    while (!GetFileSecurityW(longPath.c_str(), DACL_SECURITY_INFORMATION, sd, size, &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) {
            call = corvan::Format(L"GetFileSecurity(%ls)", longPath.c_str());
            return error ? error : static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR);
        }
        large.resize(needed);
        sd = large.data();
        size = needed;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    auto failed = [&](DWORD error) {
        call = corvan::Format(L"GetFileSecurity(%ls)", longPath.c_str());
        return error;
    };
    if (!GetSecurityDescriptorControl(sd, &control, &revision) ||
        !GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted))
        return failed(ERROR_INVALID_SECURITY_DESCR);

    auto dacl = std::make_unique<CFileDacl>();
    dacl->Protected = (control & SE_DACL_PROTECTED) ? 1 : 0;
    for (DWORD i = 0; present && acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) return failed(ERROR_INVALID_ACL);
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceFlags & INHERITED_ACE) continue;
        // Only the two kinds a file's list is made of can be set again.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            call = corvan::Format(L"GetAce(%ls, %lu)", longPath.c_str(), static_cast<unsigned long>(i));
            return ERROR_INVALID_ACL;
        }
        auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &entry->SidStart;
        dacl->Entries.push_back({header->AceType, header->AceFlags, entry->Mask, SidText(sid), AccountOf(sid, server)});
    }
    if (dacl->Protected || !dacl->Entries.empty()) own = std::move(dacl);
    return 0;
}

namespace {

std::wstring UnmappedCall(const CFileDacl::Entry& entry) {
    return corvan::Format(L"LookupAccountName(%ls)", entry.Account.empty() ? entry.Sid.c_str() : entry.Account.c_str());
}

}  // namespace

DWORD CFileDacl::Check(const std::wstring& server, std::wstring& call) const {
    std::vector<BYTE> sid;
    for (const Entry& entry : Entries) {
        if (FindSid(entry, server, sid)) continue;
        call = UnmappedCall(entry);
        return ERROR_NONE_MAPPED;
    }
    return 0;
}

int CFileDacl::ReplaceServerName(const std::wstring& oldServer, const std::wstring& newServer) {
    int count = 0;
    for (Entry& entry : Entries) {
        size_t slash = entry.Account.find(L'\\');
        if (slash == std::wstring::npos) continue;
        std::wstring domain = entry.Account.substr(0, slash);
        if (!ReplaceServerWord(domain, oldServer, newServer)) continue;
        entry.Account = domain + entry.Account.substr(slash);
        entry.Moved = true;
        ++count;
    }
    return count;
}

DWORD CFileDacl::Apply(const std::wstring& longPath, const std::wstring& server, std::wstring& call) const {
    std::vector<std::vector<BYTE>> sids;
    DWORD size = sizeof(ACL);
    for (const Entry& entry : Entries) {
        sids.emplace_back();
        if (!FindSid(entry, server, sids.back())) {
            call = UnmappedCall(entry);
            return ERROR_NONE_MAPPED;
        }
        size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sids.back().size());
    }
    std::vector<BYTE> aclBytes(size);
    auto* acl = reinterpret_cast<PACL>(aclBytes.data());
    call = corvan::Format(L"SetFileSecurity(%ls)", longPath.c_str());
    if (!InitializeAcl(acl, size, ACL_REVISION)) return GetLastError();
    for (size_t i = 0; i < Entries.size(); ++i) {
        const Entry& entry = Entries[i];
        BOOL added = entry.Type == ACCESS_DENIED_ACE_TYPE
                         ? AddAccessDeniedAceEx(acl, ACL_REVISION, entry.Flags, entry.Mask, sids[i].data())
                         : AddAccessAllowedAceEx(acl, ACL_REVISION, entry.Flags, entry.Mask, sids[i].data());
        if (!added) return GetLastError();
    }
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE))
        return GetLastError();
    // Unprotected, the list is merged with what the folders above pass on.
    SECURITY_DESCRIPTOR_CONTROL bit = Protected ? SE_DACL_PROTECTED : SE_DACL_AUTO_INHERIT_REQ;
    if (!SetSecurityDescriptorControl(&sd, bit, bit)) return GetLastError();
    if (!SetFileSecurityW(longPath.c_str(), DACL_SECURITY_INFORMATION, &sd)) return GetLastError();
    return 0;
}

std::vector<std::wstring> CFileDacl::Encode() const {
    std::vector<std::wstring> texts;
    for (const Entry& e : Entries)
        texts.push_back(corvan::Format(L"%.2x,%.2x,%.8x,%ls,%ls", static_cast<unsigned>(e.Type),
                                       static_cast<unsigned>(e.Flags), static_cast<unsigned>(e.Mask), e.Sid.c_str(),
                                       e.Account.c_str()));
    return texts;
}

bool CFileDacl::Decode(const std::vector<std::wstring>& texts) {
    Entries.clear();
    for (const std::wstring& text : texts) {
        std::vector<std::wstring> fields;
        size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            size_t comma = text.find(L',', start);
            if (comma == std::wstring::npos) return false;
            fields.push_back(text.substr(start, comma - start));
            start = comma + 1;
        }
        fields.push_back(text.substr(start));
        Entry entry;
        DWORD type = 0, flags = 0;
        if (!ReadHex(fields[0], 2, type) || !ReadHex(fields[1], 2, flags) || !ReadHex(fields[2], 8, entry.Mask))
            return false;
        if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE) return false;
        if (fields[3].compare(0, 2, L"S-") != 0) return false;
        entry.Type = static_cast<BYTE>(type);
        entry.Flags = static_cast<BYTE>(flags);
        entry.Sid = fields[3];
        entry.Account = fields[4];
        Entries.push_back(std::move(entry));
    }
    return true;
}
