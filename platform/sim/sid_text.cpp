#include "platform/sim/sid_text.h"

#include <cstring>

#include "platform/text.h"

namespace sim {

namespace {

// Reads digits of the given base up to the next '-' or the end; false when
// there are none, one is not a digit, or the value passes `limit`.
bool ReadNumber(const std::wstring& text, size_t& pos, unsigned base, uint64_t limit, uint64_t& value) {
    size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] != L'-') {
        wchar_t c = text[pos];
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return false;
        if (digit >= base) return false;
        if (value > (limit - digit) / base) return false;
        value = value * base + digit;
        ++pos;
    }
    return pos > start;
}

}  // namespace

bool ParseSidText(const std::wstring& text, std::vector<BYTE>& sid) {
    if (text.size() < 2 || (text[0] != L'S' && text[0] != L's') || text[1] != L'-') return false;
    size_t pos = 2;
    uint64_t revision;
    if (!ReadNumber(text, pos, 10, 0xFF, revision) || revision != SID_REVISION) return false;
    if (pos == text.size()) return false;
    ++pos;

    uint64_t authority;
    bool hex = text.compare(pos, 2, L"0x") == 0 || text.compare(pos, 2, L"0X") == 0;
    if (hex) pos += 2;
    if (!ReadNumber(text, pos, hex ? 16 : 10, 0xFFFFFFFFFFFFULL, authority)) return false;

    std::vector<DWORD> subs;
    while (pos < text.size()) {
        ++pos;  // the '-'
        uint64_t sub;
        if (!ReadNumber(text, pos, 10, 0xFFFFFFFFULL, sub)) return false;
        if (subs.size() == SID_MAX_SUB_AUTHORITIES) return false;
        subs.push_back(static_cast<DWORD>(sub));
    }

    sid.assign(8 + 4 * subs.size(), 0);
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(subs.size());
    // The authority is stored big-endian; sub-authorities are plain DWORDs.
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
    if (!subs.empty()) std::memcpy(sid.data() + 8, subs.data(), 4 * subs.size());
    return true;
}

std::wstring SidToText(const void* sid) {
    const BYTE* p = static_cast<const BYTE*>(sid);
    if (!p || p[0] != SID_REVISION || p[1] > SID_MAX_SUB_AUTHORITIES) return std::wstring();
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | p[2 + i];
    std::wstring text = corvan::Format(L"S-%u-", static_cast<unsigned>(p[0]));
    if (authority <= 0xFFFFFFFFULL) {
        text += corvan::Format(L"%lu", static_cast<unsigned long>(authority));
    } else {
        text += L"0x";
        for (int i = 0; i < 6; ++i) text += corvan::Format(L"%02X", static_cast<unsigned>(p[2 + i]));
    }
    for (int i = 0; i < p[1]; ++i) {
        DWORD sub;
        std::memcpy(&sub, p + 8 + 4 * i, sizeof sub);
        text += corvan::Format(L"-%lu", static_cast<unsigned long>(sub));
    }
    return text;
}

}  // namespace sim
