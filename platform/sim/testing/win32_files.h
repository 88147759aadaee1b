// Small helpers of the tests of the Win32 calls (the conformance tests and
// the simulated world's own), written against the Win32 API alone so the
// tests can run against Windows itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/win32.h"

// The call fails and leaves `error` in place of a sentinel last error.
#define EXPECT_FAILS_WITH(error, call)                                  \
    do {                                                                \
        SetLastError(0xdeadbeef);                                       \
        EXPECT_FALSE(call);                                             \
        EXPECT_EQ(static_cast<DWORD>(error), GetLastError()) << #call; \
    } while (0)

namespace win32_files {

inline bool WriteNewFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// The whole content, or "<unreadable>".
inline std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// Every name a search returns, in order, "." and ".." too; empty when the
// search fails.
inline std::vector<std::wstring> Names(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    FindClose(find);
    return names;
}

inline uint64_t Ticks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME FileTimeOf(uint64_t ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// The last error of a call that fails, with a sentinel in place before it.
template <class Call>
DWORD ErrorOf(Call call) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(call());
    return GetLastError();
}

// One entry of an access list, its SID as text.
struct AceEntry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
    bool operator==(const AceEntry& o) const {
        return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
    }
};

inline std::ostream& operator<<(std::ostream& out, const AceEntry& e) {
    out << int(e.type) << "/" << std::hex << int(e.flags) << "/" << e.mask << std::dec << "/";
    for (wchar_t c : e.sid) out << static_cast<char>(c);
    return out;
}

// The entries of an access list in order.
inline std::vector<AceEntry> EntriesOf(PACL acl) {
    std::vector<AceEntry> entries;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        LPWSTR text = nullptr;
        EXPECT_TRUE(ConvertSidToStringSidW(&allowed->SidStart, &text));
        entries.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask, text ? text : L""});
        LocalFree(text);
    }
    return entries;
}

// The entries of an object's list in order (the size asked first, as a
// caller must), and the descriptor's control bits.
inline std::vector<AceEntry> DaclOf(const std::wstring& path, SECURITY_DESCRIPTOR_CONTROL* control = nullptr) {
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::vector<BYTE> sd(needed);
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed)) {
        ADD_FAILURE() << "GetFileSecurityW: " << GetLastError();
        return {};
    }
    SECURITY_DESCRIPTOR_CONTROL bits = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd.data(), &bits, &revision);
    if (control) *control = bits;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &acl, &defaulted));
    return EntriesOf(acl);
}

// An access list of the given entries in order, no larger than they need;
// `buffer` holds it.
inline PACL BuildAcl(const std::vector<AceEntry>& entries, std::vector<BYTE>& buffer) {
    std::vector<PSID> sids(entries.size());
    DWORD size = sizeof(ACL);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(ConvertStringSidToSidW(entries[i].sid.c_str(), &sids[i])) << entries[i];
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + (sids[i] ? GetLengthSid(sids[i]) : 0);
    }
    buffer.assign(size, 0);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    EXPECT_TRUE(InitializeAcl(acl, size, ACL_REVISION));
    for (size_t i = 0; i < entries.size(); ++i) {
        const AceEntry& e = entries[i];
        if (e.type == ACCESS_DENIED_ACE_TYPE)
            EXPECT_TRUE(AddAccessDeniedAceEx(acl, ACL_REVISION, e.flags, e.mask, sids[i]));
        else if (e.type == SYSTEM_AUDIT_ACE_TYPE)
            EXPECT_TRUE(AddAuditAccessAceEx(acl, ACL_REVISION, e.flags & VALID_INHERIT_FLAGS, e.mask, sids[i],
                                            e.flags & SUCCESSFUL_ACCESS_ACE_FLAG, e.flags & FAILED_ACCESS_ACE_FLAG));
        else
            EXPECT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, e.flags, e.mask, sids[i]));
        LocalFree(sids[i]);
    }
    return acl;
}

// Sets a list of the given entries, in order, with the given control bits
// (SE_DACL_PROTECTED); the result and last error of SetFileSecurityW.
inline BOOL SetDacl(const std::wstring& path, const std::vector<AceEntry>& entries, WORD control) {
    std::vector<BYTE> buffer;
    SECURITY_DESCRIPTOR sd;
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, BuildAcl(entries, buffer), FALSE));
    if (control) EXPECT_TRUE(SetSecurityDescriptorControl(&sd, control, control));
    return SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, &sd);
}

}  // namespace win32_files
