#include "platform/sim/machine_registry.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/world.h"
#include "platform/text.h"

namespace sim {
namespace {

LSTATUS ConnectHklm(const std::wstring& machine, RegKey& hklm) {
    std::wstring remote = L"\\\\" + machine;
    bool local = corvan::EqualsNoCase(machine, LocalMachineName());
    return RegConnectRegistryW(local ? nullptr : remote.c_str(), HKEY_LOCAL_MACHINE, hklm.Put());
}

std::vector<BYTE> TextData(const std::wstring& text) {
    std::vector<BYTE> data((text.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(data.data(), text.c_str(), text.size() * sizeof(WCHAR));
    return data;
}

}  // namespace

void RegKey::Reset() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

LSTATUS OpenMachineKey(const std::wstring& machine, const wchar_t* path, REGSAM sam, RegKey& key) {
    RegKey hklm;
    LSTATUS status = ConnectHklm(machine, hklm);
    if (status != ERROR_SUCCESS) return status;
    return RegOpenKeyExW(hklm.Get(), path, 0, sam, key.Put());
}

LSTATUS CreateMachineKey(const std::wstring& machine, const wchar_t* path, REGSAM sam, RegKey& key) {
    RegKey hklm;
    LSTATUS status = ConnectHklm(machine, hklm);
    if (status != ERROR_SUCCESS) return status;
    return RegCreateKeyExW(hklm.Get(), path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key.Put(),
                           nullptr);
}

LSTATUS ReadValues(HKEY key, std::vector<RegValue>& values) {
    values.clear();
    DWORD maxName = 0, maxData = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &maxName, &maxData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::vector<WCHAR> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {
            // Changed since the size query: grow and read this index again.
            name.resize(name.size() * 2 + MAX_PATH);
            data.resize(std::max<size_t>(data.size() * 2, dataSize));
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        values.push_back({std::wstring(name.data(), nameLength), type,
                          std::vector<BYTE>(data.begin(), data.begin() + dataSize)});
    }
}

LSTATUS ReadSubKeyNames(HKEY key, std::vector<std::wstring>& names) {
    names.clear();
    DWORD maxName = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::vector<WCHAR> name(maxName + 1);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        status = RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2 + MAX_PATH);
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        names.emplace_back(name.data(), length);
    }
}

LSTATUS ReadValue(HKEY key, const wchar_t* name, RegValue& value) {
    DWORD size = 0;
    DWORD type = REG_NONE;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    while (status == ERROR_SUCCESS) {
        std::vector<BYTE> data(size);
        DWORD got = size;
        status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            status = ERROR_SUCCESS;
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        data.resize(got);
        value = {name ? name : L"", type, std::move(data)};
        return ERROR_SUCCESS;
    }
    return status;
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
    RegValue v;
    if (ReadValue(key, name, v) != ERROR_SUCCESS || v.type != REG_DWORD || v.data.size() != sizeof(DWORD))
        return false;
    std::memcpy(&value, v.data.data(), sizeof(DWORD));
    return true;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring& value) {
    RegValue v;
    if (ReadValue(key, name, v) != ERROR_SUCCESS || (v.type != REG_SZ && v.type != REG_EXPAND_SZ))
        return false;
    value = TextFromData(v.data);
    return true;
}

LSTATUS WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LSTATUS WriteText(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value) {
    std::vector<BYTE> data = TextData(value);
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

LSTATUS WriteMultiSz(HKEY key, const wchar_t* name, const std::vector<std::wstring>& lines) {
    std::wstring joined;
    for (const auto& line : lines) {
        joined += line;
        joined += L'\0';
    }
    std::vector<BYTE> data = TextData(joined);
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size()));
}

LSTATUS WriteBinary(HKEY key, const wchar_t* name, const void* data, DWORD size) {
    return RegSetValueExW(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

std::wstring TextFromData(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(WCHAR), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
    size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

std::vector<std::wstring> MultiSzFromData(const std::vector<BYTE>& data) {
    std::wstring all(data.size() / sizeof(WCHAR), L'\0');
    if (!all.empty()) std::memcpy(all.data(), data.data(), all.size() * sizeof(WCHAR));
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos) end = all.size();
        if (end == start) break;  // the empty string that ends the list
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace sim
