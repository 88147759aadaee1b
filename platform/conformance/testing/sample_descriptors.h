// SIDs and security descriptors as Windows stores them, shared by the
// conformance tests of the security calls, the simulated account lookups and
// the tests of the descriptor classes.
#pragma once

#include <vector>

#include "platform/win32.h"

namespace conformance {

inline const std::vector<BYTE> kEveryone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};                  // S-1-1-0
inline const std::vector<BYTE> kAdmins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
inline const std::vector<BYTE> kSystem = {1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0};                 // S-1-5-18
inline PSID Sid(const std::vector<BYTE>& sid) { return const_cast<BYTE*>(sid.data()); }

constexpr DWORD kShareRead = 0x001200A9;  // read and execute, as a share grants it
constexpr DWORD kFullControl = 0x001F01FF;

// A share's descriptor as the server keeps it in the registry: self-relative,
// revision 1, control SE_SELF_RELATIVE | SE_DACL_PRESENT, no owner, group or
// SACL, the DACL right after the 20-byte header. Everyone (S-1-1-0) may read
// (0x001200A9), BUILTIN\Administrators (S-1-5-32-544) have full control.
inline const std::vector<BYTE> kShareDescriptor = {
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

}  // namespace conformance
