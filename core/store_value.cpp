#include "core/store_value.h"

#include "platform/text.h"

namespace {

bool IsQuote(wchar_t c) { return c == L'"'; }

// Everything after the first occurrence of `marker`, or the whole text.
std::wstring AfterMarker(const std::wstring& text, const wchar_t* marker) {
    size_t pos = text.find(marker);
    if (pos == std::wstring::npos) return text;
    return text.substr(pos + std::char_traits<wchar_t>::length(marker));
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

int CStoreValue::SetString(const std::wstring& text) {
    EncodeString(text, encoded_);
    return 1;
}

void CStoreValue::EncodeString(std::wstring_view text, std::wstring& out) {
    out.clear();
    out.reserve(text.size() + 2);
    out.append(1, L'"').append(text).append(1, L'"');
}

int CStoreValue::SetDword(DWORD value) {
    EncodeDword(value, encoded_);
    return 1;
}

void CStoreValue::EncodeDword(DWORD value, std::wstring& out) {
    // Eight lower-case hex digits, as "%.8x" writes them, without a formatting call.
    out.assign(L"dword:");
    for (int shift = 28; shift >= 0; shift -= 4) out += L"0123456789abcdef"[(value >> shift) & 0xF];
}

int CStoreValue::SetWord(WORD value) {
    encoded_ = corvan::Format(L"word:%.4x", static_cast<unsigned>(value & 0xFFFFu));
    return 1;
}

int CStoreValue::SetShort(SHORT value) {
    encoded_ = corvan::Format(L"short:%d", static_cast<int>(value));
    return 1;
}

int CStoreValue::SetMultiString(const std::vector<std::wstring>& items) {
    encoded_.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) encoded_ += L',';
        encoded_ += L'"';
        encoded_ += items[i];
        encoded_ += L'"';
    }
    return 1;
}

int CStoreValue::SetBinary(const BYTE* data, size_t count) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    encoded_ = L"hex:";
    encoded_.reserve(4 + 2 * count);
    for (size_t i = 0; i < count; ++i) {
        encoded_ += kDigits[data[i] >> 4];
        encoded_ += kDigits[data[i] & 0x0F];
    }
    return 1;
}

int CStoreValue::SetBinary(const std::vector<BYTE>& data) { return SetBinary(data.data(), data.size()); }

DWORD CStoreValue::HexNumber(const std::wstring& digits) {
    DWORD result = 0;
    DWORD weight = 1;
    for (size_t i = digits.size(); i-- > 0;) {
        int d = HexDigit(digits[i]);
        if (d < 0) return 0;
        result += static_cast<DWORD>(d) * weight;
        weight *= 16;  // wraps to 0 after eight digits: earlier ones count for nothing
    }
    return result;
}

int CStoreValue::GetString(const std::wstring& encoded, std::wstring& out) {
    if (encoded.empty()) return 1;
    if (IsQuote(encoded.front()) && IsQuote(encoded.back())) {
        out = encoded.size() >= 2 ? encoded.substr(1, encoded.size() - 2) : std::wstring();
        return 1;
    }
    out = AfterMarker(encoded, L"sz:");
    return 1;
}

int CStoreValue::GetDword(const std::wstring& encoded, DWORD& out) {
    out = HexNumber(AfterMarker(encoded, L"dword:"));
    return 1;
}

int CStoreValue::GetWord(const std::wstring& encoded, WORD& out) {
    out = static_cast<WORD>(HexNumber(AfterMarker(encoded, L"word:")) & 0xFFFFu);
    return 1;
}

int CStoreValue::GetShort(const std::wstring& encoded, SHORT& out) {
    // Read as atoi reads 8-bit text; only the low 16 bits are kept, so the
    // digits are accumulated modulo 65536 and no length can overflow.
    std::wstring text = AfterMarker(encoded, L"short:");
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = (value * 10 + static_cast<uint32_t>(text[i] - L'0')) & 0xFFFFu;
    if (negative) value = (0x10000u - value) & 0xFFFFu;
    out = static_cast<SHORT>(static_cast<int16_t>(static_cast<uint16_t>(value)));
    return 1;
}

int CStoreValue::GetMultiString(const std::wstring& encoded, std::vector<std::wstring>& out) {
    std::wstring text = encoded;
    if (text.size() > 3 && text.compare(0, 2, L"\"\"") == 0 && text.compare(text.size() - 2, 2, L"\"\"") == 0)
        text = text.substr(2, text.size() - 4);
    size_t marker = text.find(L"multi_sz:");
    if (marker != std::wstring::npos) text = text.substr(marker + 9);

    size_t start = 0;  // the rest of the text begins here
    for (;;) {
        size_t sep = text.find(L"\",\"", start);
        if (sep == std::wstring::npos) break;
        // The item runs from the character after the opening quote up to the separator.
        out.push_back(sep > start ? text.substr(start + 1, sep - start - 1) : std::wstring());
        start = sep + 2;
    }
    std::wstring last;
    GetString(text.substr(start), last);
    out.push_back(last);
    return 1;
}

int CStoreValue::GetBinary(const std::wstring& encoded, BYTE* buffer, size_t expectedCount) {
    std::wstring digits = AfterMarker(encoded, L"hex:");
    if (digits.empty()) return 0;
    if (digits.size() % 2 != 0) digits += L'0';
    if (digits.size() / 2 != expectedCount) return 0;
    for (wchar_t c : digits)
        if (HexDigit(c) < 0) return 0;
    for (size_t i = 0; i < expectedCount; ++i)
        buffer[i] = static_cast<BYTE>((HexDigit(digits[2 * i]) << 4) | HexDigit(digits[2 * i + 1]));
    return 1;
}

int CStoreValue::GetBinary(const std::wstring& encoded, std::vector<BYTE>& out, size_t expectedCount) {
    std::vector<BYTE> bytes(expectedCount);
    if (!GetBinary(encoded, bytes.data(), expectedCount)) return 0;
    out = std::move(bytes);
    return 1;
}

std::wstring StoreTextRule(const std::wstring& value) {
    if (value.empty()) return value;
    size_t begin = 0;
    size_t end = value.size();
    if (IsQuote(value.front())) ++begin;
    if (end > begin && IsQuote(value.back())) --end;
    std::wstring text = value.substr(begin, end - begin);
    return AfterMarker(text, L"sz:");
}

DWORD StoreDwordRule(const std::wstring& value) {
    std::wstring text = value;
    if (!text.empty() && IsQuote(text.front()) && IsQuote(text.back()))
        text = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::wstring();
    return CStoreValue::HexNumber(AfterMarker(text, L"dword:"));
}
