#include "registry/reg_obj.h"

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

using corvan::Format;

int CRegObj::LoadKeyNames(const std::wstring& key, const std::wstring& value) {
    if (key == L"KeyName") return CStoreValue::GetString(value, KeyName);
    if (key == L"ParentKeyName") return CStoreValue::GetString(value, ParentKeyName);
    return 0;
}

int CRegObj::LoadProperty(CObjectStore& store) {
    if (!LoadKeyNames(store.CurrentKey(), store.CurrentValue())) CBaseObject::LoadProperty(store);
    return 1;
}

int CRegObj::SaveProperties(CObjectStore& store) {
    store.AddStringToSection(L"KeyName", KeyName);
    store.AddStringToSection(L"ParentKeyName", ParentKeyName);
    return CBaseObject::SaveProperties(store);
}

void CRegObj::Dump() { corvan::ConsoleOut(Format(L"\n\n[%ls\\%ls]", ParentKeyName.c_str(), KeyName.c_str())); }

void CRegObj::SetParentKeyName(const std::wstring& name) { ParentKeyName = name; }

void CRegObj::SetKeyName(const std::wstring& name) { KeyName = name; }

int CRegObj::Open(HKEY& handle) {
    const std::wstring function = L"CRegObj::Open()";
    if (!CreateKey(function, ServerName, handle)) return 0;
    SetError(function, function, 0);
    return 1;
}

int CRegObj::Enum(const std::wstring& keyPath, const std::wstring& name, HKEY&) {
    ParentKeyName = keyPath;
    KeyName = name;
    return 1;
}

int CRegObj::Noop() { return 1; }

int CRegObj::Add(const std::wstring& keyPath, const std::wstring& name, HKEY&) {
    ParentKeyName = keyPath;
    KeyName = name;
    return 1;
}

int CRegObj::DumpKeys() { return 1; }

void CRegObj::PrintList(const std::wstring&) {}

void CRegObj::RenameKey(const std::wstring& oldName, const std::wstring& newName) {
    if (corvan::EqualsNoCase(ParentKeyName, oldName)) ParentKeyName = newName;
    if (corvan::EqualsNoCase(KeyName, oldName)) KeyName = newName;
}

void CRegObj::ReplaceInValue(const std::wstring&, const std::wstring&) {}

void CRegObj::ReplaceInKeyNames(const std::wstring& oldText, const std::wstring& newText) {
    corvan::ReplaceAll(KeyName, oldText, newText);
    corvan::ReplaceAll(ParentKeyName, oldText, newText);
}

int CRegObj::AppendToKeyName(const std::wstring& parent, const std::wstring& suffix) {
    if (!corvan::EqualsNoCase(ParentKeyName, parent)) return 0;
    KeyName += suffix;
    return 1;
}

void CRegObj::AppendToParentKeyName(const std::wstring& suffix) { ParentKeyName += suffix; }

int CRegObj::Apply(HKEY&) { return 1; }

int CRegObj::FindValue(const std::wstring&, std::wstring&) { return 0; }

void CRegObj::WriteReport(CObjectStore& store, DWORD mode) {
    if (mode == 4)
        store.AddToSection(L"report", Format(L"\n[%ls\\%ls]", ParentKeyName.c_str(), KeyName.c_str()));
    else
        store.AddToSection(L"report",
                           Format(L"\n[HKEY_LOCAL_MACHINE\\%ls\\%ls]", ParentKeyName.c_str(), KeyName.c_str()));
}

std::wstring CRegObj::FullPath() const {
    if (ParentKeyName.empty()) return KeyName;
    return ParentKeyName + L"\\" + KeyName;
}

int CRegObj::CreateKey(const std::wstring& function, const std::wstring& server, HKEY& handle) {
    handle = nullptr;
    const std::wstring path = FullPath();
    if (server.empty()) {
        if (ParentKeyName.empty()) return 1;
        HKEY key = nullptr;
        LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) {
            SetError(function, Format(L"RegCreateKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_ALL...)", path.c_str()),
                     static_cast<DWORD>(rc));
            return 0;
        }
        handle = key;
        return 1;
    }

    HKEY root = nullptr;
    LSTATUS rc = RegConnectRegistryW(server.c_str(), HKEY_LOCAL_MACHINE, &root);
    if (rc != ERROR_SUCCESS) {
        SetError(function,
                 Format(L"RegConnectRegistry(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_ALL...)", server.c_str(), path.c_str()),
                 static_cast<DWORD>(rc));
        return 0;
    }
    CRegKeyHandle rootGuard(root);
    if (ParentKeyName.empty()) return 1;
    HKEY key = nullptr;
    rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                         nullptr);
    if (rc != ERROR_SUCCESS) {
        SetError(function,
                 Format(L"RegOpenKeyEx(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_ALL ...)", server.c_str(), path.c_str()),
                 static_cast<DWORD>(rc));
        return 0;
    }
    handle = key;
    return 1;
}
