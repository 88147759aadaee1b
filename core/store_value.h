// Encodings of the values kept in a store file: quoted text, "dword:",
// "word:", "short:", "hex:" and lists of quoted texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

class CStoreValue {
public:
    CStoreValue() = default;

    // Each replaces the held text with the encoded property; all return 1.
    int SetString(const std::wstring& text);
    // The quoted form of a text, replacing what `out` held.
    static void EncodeString(std::wstring_view text, std::wstring& out);
    // The dword form of a number, replacing what `out` held.
    static void EncodeDword(DWORD value, std::wstring& out);
    int SetDword(DWORD value);
    int SetWord(WORD value);
    int SetShort(SHORT value);
    int SetMultiString(const std::vector<std::wstring>& items);
    int SetBinary(const BYTE* data, size_t count);
    int SetBinary(const std::vector<BYTE>& data);

    const std::wstring& GetEncoded() const { return encoded_; }
    void GetEncoded(std::wstring& out) const { out = encoded_; }

    // Decoders take an encoded text. All but GetBinary return 1.
    static int GetString(const std::wstring& encoded, std::wstring& out);
    static int GetDword(const std::wstring& encoded, DWORD& out);
    static int GetWord(const std::wstring& encoded, WORD& out);
    static int GetShort(const std::wstring& encoded, SHORT& out);
    // Appends to `out`; the list is not cleared first.
    static int GetMultiString(const std::wstring& encoded, std::vector<std::wstring>& out);
    // Decodes exactly `expectedCount` bytes into `buffer`. Returns 0 for an
    // empty text, a wrong length or a bad digit; the buffer is then untouched.
    static int GetBinary(const std::wstring& encoded, BYTE* buffer, size_t expectedCount);
    static int GetBinary(const std::wstring& encoded, std::vector<BYTE>& out, size_t expectedCount);

    // Hex digits read from the last one, weight kept in 32 bits; any other
    // character makes the result 0.
    static DWORD HexNumber(const std::wstring& digits);

private:
    std::wstring encoded_;
};

// The rules the store applies in GetValue/GetValues and GetDwordValues.
std::wstring StoreTextRule(const std::wstring& value);
DWORD StoreDwordRule(const std::wstring& value);
