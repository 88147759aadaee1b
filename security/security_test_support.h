// Helpers shared by the unit tests of security/ (test code only): SIDs and
// access lists in their binary layouts, and a world with a fixed local
// machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/test_support.h"
#include "platform/conformance/testing/sample_descriptors.h"
#include "platform/win32.h"

namespace security_test {

using conformance::kAdmins;    // S-1-5-32-544
using conformance::kEveryone;  // S-1-1-0
using conformance::kFullControl;
using conformance::kShareRead;
using conformance::Sid;

using Bytes = std::vector<BYTE>;

// A SID with a six-byte identifier authority given by its last byte.
inline Bytes MakeSid(BYTE authority, std::initializer_list<DWORD> subAuthorities) {
    Bytes sid = {SID_REVISION, static_cast<BYTE>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
    for (DWORD sub : subAuthorities) {
        BYTE bytes[4];
        std::memcpy(bytes, &sub, 4);
        sid.insert(sid.end(), bytes, bytes + 4);
    }
    return sid;
}

inline const Bytes kJdoe = MakeSid(5, {21, 1, 2, 3, 1107});  // S-1-5-21-1-2-3-1107

// An entry of a built list, as a test wants to compare it.
struct Entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    Bytes sid;
    bool operator==(const Entry&) const = default;
};

inline std::vector<Entry> Entries(PACL acl) {
    EXPECT_TRUE(IsValidAcl(acl));
    std::vector<Entry> entries;
    LPVOID ace = nullptr;
    for (DWORD i = 0; GetAce(acl, i, &ace); ++i) {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const BYTE* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
        entries.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                           Bytes(sid, sid + GetLengthSid(&allowed->SidStart))});
    }
    return entries;
}

// An entry in the common layout: header, mask, SID.
inline Bytes MakeEntry(BYTE type, BYTE flags, DWORD mask, const Bytes& sid) {
    Bytes entry(8 + sid.size());
    WORD size = static_cast<WORD>(entry.size());
    entry[0] = type;
    entry[1] = flags;
    std::memcpy(&entry[2], &size, 2);
    std::memcpy(&entry[4], &mask, 4);
    std::copy(sid.begin(), sid.end(), entry.begin() + 8);
    return entry;
}

// A list of the given entries in its binary layout.
inline Bytes MakeAcl(const std::vector<Entry>& entries) {
    Bytes acl(sizeof(ACL));
    for (const Entry& e : entries) {
        Bytes entry = MakeEntry(e.type, e.flags, e.mask, e.sid);
        acl.insert(acl.end(), entry.begin(), entry.end());
    }
    const ACL header{ACL_REVISION2, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(entries.size()), 0};
    std::memcpy(acl.data(), &header, sizeof header);
    return acl;
}

// A world whose local machine is SRV01 (with the local account jdoe) and a
// second machine SRV02.
class SecurityWorldTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddLocalAccount(L"SRV01", L"jdoe", L"S-1-5-21-1-2-3-1107");
    }
};

}  // namespace security_test
