// SIDs in their text form ("S-1-5-32-544"), for the simulated services that
// keep accounts as text and build descriptors from them.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/wintypes.h"

namespace sim {

// Parses "S-1-<authority>-<sub>..." into the binary SID layout. The authority
// is decimal or 0x followed by up to twelve hex digits; at most 15
// sub-authorities, each an unsigned 32-bit decimal. False on anything else.
bool ParseSidText(const std::wstring& text, std::vector<BYTE>& sid);

// The text form as Windows writes it: the authority in decimal when it fits
// in 32 bits, otherwise 0x and twelve hex digits. Empty for an invalid SID.
std::wstring SidToText(const void* sid);

}  // namespace sim
