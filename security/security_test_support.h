// Helpers shared by the unit tests of security/ (test code only): SIDs and
// entries in their binary layouts, and a world with a fixed local machine.
// Access lists are built and read by the Win32 helpers of
// platform/sim/testing/win32_files.h.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/test_support.h"
#include "platform/conformance/testing/sample_descriptors.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/win32.h"

namespace security_test {

using conformance::kAdmins;    // S-1-5-32-544
using conformance::kEveryone;  // S-1-1-0
using conformance::kFullControl;
using conformance::kShareRead;
using conformance::Sid;
using win32_files::AceEntry;

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

// A world whose local machine is SRV01 (with the local account jdoe,
// S-1-5-21-1-2-3-1107) and a second machine SRV02.
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
