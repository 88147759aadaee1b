// The registry calls of the simulated build, served from the machines' hives.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/sim/hive.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

struct OpenKey {
    std::shared_ptr<sim::Hive> hive;
    std::shared_ptr<sim::RegKey> key;
    std::wstring machine;
    std::wstring path;  // below HKEY_LOCAL_MACHINE, as the key names are spelt
    REGSAM access = 0;
    bool predefined = false;
};

struct HandleTable {
    std::unordered_map<uintptr_t, OpenKey> keys;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static auto* table = new HandleTable;
    return *table;
}

bool IsPredefined(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER ||
           key == HKEY_USERS;
}

// Only HKEY_LOCAL_MACHINE is simulated; the other predefined keys are not open.
// The key is handed out where it is kept, valid until the next lookup of
// HKEY_LOCAL_MACHINE or the handle's closing: a value read must not copy it.
LSTATUS Lookup(HKEY hKey, const OpenKey*& out) {
    if (hKey == HKEY_LOCAL_MACHINE) {
        static OpenKey local;
        std::wstring machine;
        if (DWORD error = sim::ResolveMachine(L"", machine, ERROR_BAD_NETPATH)) return error;
        DWORD error = 0;
        auto hive = sim::MachineHive(machine, error);
        if (!hive) return error;
        local = OpenKey{hive, hive->root, machine, L"", KEY_ALL_ACCESS, true};
        out = &local;
        return ERROR_SUCCESS;
    }
    auto& keys = Table().keys;
    auto it = keys.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == keys.end()) return ERROR_INVALID_HANDLE;
    if (it->second.hive->detached) {
        keys.erase(it);
        return ERROR_INVALID_HANDLE;
    }
    out = &it->second;
    return ERROR_SUCCESS;
}

LSTATUS Lookup(HKEY hKey, OpenKey& out) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    out = *found;
    return ERROR_SUCCESS;
}

HKEY NewHandle(OpenKey key) {
    HandleTable& table = Table();
    uintptr_t value = table.next;
    table.next += 4;
    table.keys.emplace(value, std::move(key));
    return reinterpret_cast<HKEY>(value);
}

REGSAM MapAccess(REGSAM desired) {
    REGSAM access = desired & ~static_cast<REGSAM>(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
    if (access & GENERIC_READ) access |= KEY_READ;
    if (access & GENERIC_WRITE) access |= KEY_WRITE;
    if (access & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    return access;
}

std::wstring Text(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

std::wstring Join(const std::wstring& path, const std::wstring& name) {
    return path.empty() ? name : name.empty() ? path : path + L"\\" + name;
}

// Walks from base along sub, creating missing keys when asked. A key that
// would lie deeper than Windows keeps keys is refused before any is made.
LSTATUS Walk(const OpenKey& base, const std::wstring& sub, bool create, OpenKey& out, bool* created) {
    out = base;
    out.predefined = false;
    if (created) *created = false;
    std::vector<std::wstring> parts = sim::SplitKeyPath(sub);
    if (create && sim::SplitKeyPath(base.path).size() + parts.size() > sim::kMaxKeyLevels)
        return ERROR_INVALID_PARAMETER;
    for (const auto& part : parts) {
        std::shared_ptr<sim::RegKey> next = out.key->Subkey(part);
        if (!next) {
            if (!create) return ERROR_FILE_NOT_FOUND;
            next = out.key->AddSubkey(part);
            if (created) *created = true;
        }
        out.key = next;
        out.path = Join(out.path, next->Name());
    }
    return ERROR_SUCCESS;
}

// Copies name with its NUL when it fits into capacity characters.
bool CopyName(const std::wstring& name, LPWSTR buffer, DWORD capacity) {
    if (name.size() >= capacity) return false;
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return true;
}

}  // namespace

LSTATUS WINAPI RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::wstring machine;
    DWORD unreachable = sim::ResolveMachine(lpMachineName, machine, ERROR_BAD_NETPATH);
    if (unreachable) {
        machine = Text(lpMachineName);
        machine.erase(0, machine.find_first_not_of(L'\\'));
    }
    if (DWORD fault = sim::InjectedFault("RegConnectRegistryW", machine, {Text(lpMachineName)})) return fault;
    if (unreachable) return unreachable;
    if (hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    DWORD error = 0;
    auto hive = sim::MachineHive(machine, error);
    if (!hive) return error;
    if (sim::IsLocalMachine(machine)) {
        *phkResult = HKEY_LOCAL_MACHINE;
        return ERROR_SUCCESS;
    }
    *phkResult = NewHandle(OpenKey{hive, hive->root, machine, L"", KEY_ALL_ACCESS, false});
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    (void)ulOptions;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (LSTATUS error = Lookup(hKey, base)) {
        *phkResult = nullptr;
        return error;
    }
    std::wstring sub = Text(lpSubKey);
    if (DWORD fault = sim::InjectedFault("RegOpenKeyExW", base.machine, {sub, Join(base.path, sub)})) {
        *phkResult = nullptr;
        return static_cast<LSTATUS>(fault);
    }
    if (!sub.empty() && sub[0] == L'\\') {
        *phkResult = nullptr;
        return ERROR_BAD_PATHNAME;
    }
    if (base.key->Deleted()) {
        *phkResult = nullptr;
        return ERROR_KEY_DELETED;
    }
    if (sub.empty() && base.predefined) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    OpenKey found;
    if (LSTATUS error = Walk(base, sub, false, found, nullptr)) {
        *phkResult = nullptr;
        return error;
    }
    found.access = MapAccess(samDesired);
    *phkResult = NewHandle(std::move(found));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (!phkResult) return ERROR_BADKEY;
    OpenKey base;
    if (LSTATUS error = Lookup(hKey, base)) return error;
    std::wstring sub = Text(lpSubKey);
    if (DWORD fault = sim::InjectedFault("RegCreateKeyExW", base.machine, {sub, Join(base.path, sub)}))
        return static_cast<LSTATUS>(fault);
    if (!sub.empty() && sub[0] == L'\\') return ERROR_BAD_PATHNAME;
    if (base.key->Deleted()) return ERROR_KEY_DELETED;
    // Windows ignores the parent handle's access rights here.
    OpenKey found;
    bool created = false;
    if (LSTATUS error = Walk(base, sub, true, found, &created)) return error;
    if (created) base.hive->dirty = true;
    found.access = MapAccess(samDesired);
    *phkResult = NewHandle(std::move(found));
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    if (DWORD fault = sim::InjectedFault("RegQueryInfoKeyW", open.machine, {open.path}))
        return static_cast<LSTATUS>(fault);
    if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    // Keys carry no class here.
    if (lpcchClass) {
        if (lpClass) {
            if (*lpcchClass < 1) return ERROR_MORE_DATA;
            lpClass[0] = L'\0';
        }
        *lpcchClass = 0;
    }
    size_t maxSubKey = 0, maxValueName = 0, maxValue = 0;
    for (const auto& subkey : open.key->Subkeys()) maxSubKey = std::max(maxSubKey, subkey->Name().size());
    for (const auto& value : open.key->Values()) {
        maxValueName = std::max(maxValueName, value.name.size());
        maxValue = std::max(maxValue, value.data.size());
    }
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(open.key->Subkeys().size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(maxSubKey);
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = static_cast<DWORD>(open.key->Values().size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(maxValueName);
    if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(maxValue);
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = open.key->LastWrite();
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    if (DWORD fault = sim::InjectedFault("RegEnumKeyExW", open.machine, {open.path}))
        return static_cast<LSTATUS>(fault);
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    if (!(open.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    const auto& subkeys = open.key->Subkeys();
    if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const sim::RegKey& subkey = *subkeys[dwIndex];
    if (lpClass && *lpcchClass < 1) return ERROR_MORE_DATA;
    if (!CopyName(subkey.Name(), lpName, *lpcchName)) return ERROR_MORE_DATA;
    *lpcchName = static_cast<DWORD>(subkey.Name().size());
    if (lpClass) {
        lpClass[0] = L'\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = subkey.LastWrite();
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    if (DWORD fault = sim::InjectedFault("RegEnumValueW", open.machine, {open.path}))
        return static_cast<LSTATUS>(fault);
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    const auto& values = open.key->Values();
    if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
    const sim::RegValue& value = values[dwIndex];
    auto size = static_cast<DWORD>(value.data.size());
    // As on Windows: type and needed size are reported even when a buffer is short;
    // a short name buffer leaves both buffers untouched, a short data buffer the data only.
    if (lpType) *lpType = value.type;
    if (!CopyName(value.name, lpValueName, *lpcchValueName)) {
        if (lpcbData) *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    *lpcchValueName = static_cast<DWORD>(value.name.size());
    if (lpData) {
        if (size > *lpcbData) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(lpData, value.data.data(), size);
    }
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    // Kept for its memory: a value is queried twice, for its size and its data.
    thread_local std::wstring name;
    name.assign(lpValueName ? lpValueName : L"");
    if (DWORD fault = sim::InjectedFault("RegQueryValueExW", open.machine, {name, open.path}))
        return static_cast<LSTATUS>(fault);
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    const sim::RegValue* value = open.key->Value(name);
    if (!value) {
        if (lpcbData && !lpData) *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    auto size = static_cast<DWORD>(value->data.size());
    if (lpType) *lpType = value->type;
    if (lpData) {
        if (size > *lpcbData) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(lpData, value->data.data(), size);
    }
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    (void)Reserved;
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    std::wstring name = Text(lpValueName);
    if (DWORD fault = sim::InjectedFault("RegSetValueExW", open.machine, {name, open.path}))
        return static_cast<LSTATUS>(fault);
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpData && cbData) return ERROR_NOACCESS;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    if (lpData && cbData >= sizeof(WCHAR) &&
        (dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ)) {
        // A text given without its NUL gets it when the next character in
        // memory is one, as Windows does.
        const auto* text = reinterpret_cast<const WCHAR*>(lpData);
        size_t last = cbData / sizeof(WCHAR) - 1;
        if (text[last] && !text[last + 1]) cbData = static_cast<DWORD>((last + 2) * sizeof(WCHAR));
    }
    std::vector<BYTE> data(lpData, lpData + (lpData ? cbData : 0));
    open.key->SetValue(name, dwType, std::move(data));
    open.hive->dirty = true;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    const OpenKey* found = nullptr;
    if (LSTATUS error = Lookup(hKey, found)) return error;
    const OpenKey& open = *found;
    std::wstring name = Text(lpValueName);
    if (DWORD fault = sim::InjectedFault("RegDeleteValueW", open.machine, {name, open.path}))
        return static_cast<LSTATUS>(fault);
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (open.key->Deleted()) return ERROR_KEY_DELETED;
    if (!open.key->DeleteValue(name)) return ERROR_FILE_NOT_FOUND;
    open.hive->dirty = true;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (LSTATUS error = Lookup(hKey, base)) return error;
    std::wstring sub = lpSubKey;
    if (DWORD fault = sim::InjectedFault("RegDeleteKeyW", base.machine, {sub, Join(base.path, sub)}))
        return static_cast<LSTATUS>(fault);
    if (!sub.empty() && sub[0] == L'\\') return ERROR_BAD_PATHNAME;
    if (base.key->Deleted()) return ERROR_KEY_DELETED;
    OpenKey target;
    if (LSTATUS error = Walk(base, sub, false, target, nullptr)) return error;
    std::vector<std::wstring> parts = sim::SplitKeyPath(target.path);
    // The root cannot go, nor a key that still has subkeys.
    if (parts.empty() || !target.key->Subkeys().empty()) return ERROR_ACCESS_DENIED;
    std::wstring parentPath = target.path.substr(0, target.path.size() - parts.back().size());
    std::shared_ptr<sim::RegKey> parent = sim::FindKey(base.hive->root, parentPath);
    if (!parent || !parent->RemoveSubkey(parts.back())) return ERROR_FILE_NOT_FOUND;
    base.hive->dirty = true;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey)) return ERROR_SUCCESS;
    auto& keys = Table().keys;
    auto it = keys.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == keys.end()) return ERROR_INVALID_HANDLE;
    if (it->second.hive->detached) {
        keys.erase(it);
        return ERROR_INVALID_HANDLE;
    }
    if (DWORD fault = sim::InjectedFault("RegCloseKey", it->second.machine, {it->second.path}))
        return static_cast<LSTATUS>(fault);
    keys.erase(it);
    return ERROR_SUCCESS;
}
