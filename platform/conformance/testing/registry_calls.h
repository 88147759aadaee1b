// The registry calls that the registry tests of both builds make again and
// again, each checked where it must succeed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace conformance {

inline HKEY CreateKey(HKEY parent, const wchar_t* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition))
        << path;
    return key;
}
inline HKEY OpenKey(HKEY parent, const wchar_t* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, path, 0, access, &key)) << path;
    return key;
}
// The open fails and clears the handle.
inline void ExpectOpenFails(HKEY parent, const wchar_t* path, LSTATUS status = ERROR_FILE_NOT_FOUND) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(status, RegOpenKeyExW(parent, path, 0, KEY_READ, &key)) << path;
    EXPECT_EQ(nullptr, key);
}
inline LSTATUS SetText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}
inline LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}
inline DWORD QueryDword(HKEY key, const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    return value;
}

}  // namespace conformance
