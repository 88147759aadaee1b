#include "registry/reg_value.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

using corvan::Format;

namespace {

constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kWriteAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// The text of registry string data: up to its first NUL or the end of the data.
std::wstring TextFromData(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(WCHAR), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
    size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    return text;
}

// Bytes below 32 and from 128 on become dots.
std::wstring Printable(const std::vector<BYTE>& bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (BYTE b : bytes) text += (b < 32 || b >= 128) ? L'.' : static_cast<wchar_t>(b);
    return text;
}

// The hex line of a binary value, cut where the column counter passes 76.
// Each piece after the first continues the line.
std::vector<std::wstring> HexPieces(const std::wstring& name, const std::vector<BYTE>& bytes) {
    std::vector<std::wstring> pieces(1, Format(L"\"%ls\"=hex:", name.c_str()));
    size_t column = name.size() + 7;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (column > 76) {
            pieces.emplace_back();
            column = 2;
        }
        pieces.back() += Format(L"%.2x", static_cast<unsigned>(bytes[i]));
        if (i + 1 < bytes.size()) pieces.back() += L',';
        column += 3;
    }
    return pieces;
}

// A "Value" of the hex form: as many bytes as its digits give, an odd count
// padded; a text that does not decode leaves no bytes.
void LoadHexValue(const std::wstring& value, std::vector<BYTE>& bytes) {
    size_t marker = value.find(L"hex:");
    size_t digits = marker == std::wstring::npos ? value.size() : value.size() - marker - 4;
    if (!CStoreValue::GetBinary(value, bytes, (digits + 1) / 2)) bytes.clear();
}

// The name a step is logged under, e.g. "CRegValue::Enum(key, value)", put
// together without the formatter: every value read logs two of them.
std::wstring CallName(std::initializer_list<const wchar_t*> pieces) {
    size_t length = 0;
    for (const wchar_t* piece : pieces) length += std::wcslen(piece);
    std::wstring name;
    name.reserve(length);
    for (const wchar_t* piece : pieces) name.append(piece);
    return name;
}

}  // namespace

// ---- CRegValue ------------------------------------------------------------

// How the three calls of opening a key are named when one fails: formats of
// the key path, the connect and (when remoteNamesServer) the remote open
// taking the server name first. Formatted only on a failure, which is rare
// next to the values read through a key already open.
struct CRegValue::OpenTexts {
    const wchar_t* localOpen;
    const wchar_t* connect;
    const wchar_t* remoteOpen;
    bool remoteNamesServer;
};

int CRegValue::LoadProperty(CObjectStore&) { return 1; }

int CRegValue::SaveProperties(CObjectStore&) { return 1; }

void CRegValue::Dump() {}

void CRegValue::WriteReport(CObjectStore&, DWORD) {}

std::wstring CRegValue::DisplayName() const { return ValueName.empty() ? std::wstring(L"(default)") : ValueName; }

int CRegValue::OpenKey(const std::wstring& function, const std::wstring& keyPath, REGSAM access, const OpenTexts& texts,
                       HKEY& handle) {
    if (!handle) {
        HKEY key = nullptr;
        if (ServerName.empty()) {
            LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access, &key);
            if (rc != ERROR_SUCCESS) {
                SetError(function, Format(texts.localOpen, keyPath.c_str()), static_cast<DWORD>(rc));
                return 0;
            }
        } else {
            HKEY root = nullptr;
            LSTATUS rc = RegConnectRegistryW(ServerName.c_str(), HKEY_LOCAL_MACHINE, &root);
            if (rc != ERROR_SUCCESS) {
                SetError(function, Format(texts.connect, ServerName.c_str(), keyPath.c_str()),
                         static_cast<DWORD>(rc));
                return 0;
            }
            rc = RegOpenKeyExW(root, keyPath.c_str(), 0, access, &key);
            RegCloseKey(root);
            if (rc != ERROR_SUCCESS) {
                SetError(function,
                         texts.remoteNamesServer ? Format(texts.remoteOpen, ServerName.c_str(), keyPath.c_str())
                                                 : Format(texts.remoteOpen, keyPath.c_str()),
                         static_cast<DWORD>(rc));
                return 0;
            }
        }
        handle = key;
    }
    SetError(function, function, 0);
    return 1;
}

int CRegValue::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    const OpenTexts texts{
        L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ ...)",
        L"RegConnectRegistry(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ...)",
        L"RegOpenKeyEx(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ ...)",
        true,
    };
    const std::wstring function = CallName({L"CRegValue::Enum(", keyPath.c_str(), L", ", valueName.c_str(), L")"});
    if (!OpenKey(function, keyPath, kReadAccess, texts, handle)) return 0;
    ParentKeyName = keyPath;
    KeyName = valueName;
    return 1;
}

int CRegValue::Add(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    const OpenTexts texts{
        L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ KEY_WRITE...)",
        L"RegConnectRegistry(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ...)",
        L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ KEY_WRITE...)",
        false,
    };
    const std::wstring function = CallName({L"CRegValue::Add(", keyPath.c_str(), L", ", valueName.c_str(), L")"});
    if (!OpenKey(function, keyPath, kWriteAccess, texts, handle)) return 0;
    ParentKeyName = keyPath;
    KeyName = valueName;
    return 1;
}

int CRegValue::Apply(HKEY& handle) {
    const OpenTexts texts{
        L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ KEY_WRITE...)",
        L"RegConnectRegistry(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ...)",
        L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ KEY_WRITE...)",
        false,
    };
    return OpenKey(L"CRegValue::Apply()", ParentKeyName, kWriteAccess, texts, handle);
}

void CRegValue::ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) {
    if (corvan::EqualsNoCase(ValueName, oldText)) ValueName = newText;
}

void CRegValue::SaveValueSection(CObjectStore& store, const wchar_t* className, const wchar_t* valueKey,
                                 const std::wstring& encodedValue, const DWORD* type) {
    BeginLeafSection(store, className);
    store.AddToSection(valueKey, encodedValue);
    SaveValueNames(store, type);
}

void CRegValue::SaveValueNames(CObjectStore& store, const DWORD* type) {
    if (type) store.AddDwordToSection(L"Type", *type);
    store.AddStringToSection(L"ValueName", ValueName);
    store.AddStringToSection(L"KeyName", KeyName);
    store.AddStringToSection(L"ParentKeyName", ParentKeyName);
    CBaseObject::SaveProperties(store);
}

int CRegValue::WriteValue(const std::wstring& function, HKEY& handle, DWORD type, const BYTE* data, DWORD size) {
    // A failed open leaves no handle, and the write then fails in its turn.
    CRegValue::Apply(handle);
    LSTATUS rc = RegSetValueExW(handle, ValueName.c_str(), 0, type, data, size);
    if (rc != ERROR_SUCCESS) {
        SetError(function, Format(L"RegSetValueEx(%ls)", ValueName.c_str()), static_cast<DWORD>(rc));
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

int CRegValue::QueryTypeAndSize(const std::wstring& function, HKEY handle, const std::wstring& valueName,
                                DWORD expectedType, const wchar_t* typeName, DWORD& size, DWORD* typeOut) {
    DWORD type = 0;
    size = 0;
    LSTATUS rc = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) {
        SetError(function, Format(L"RegQueryValueEx(%ls)", valueName.c_str()), static_cast<DWORD>(rc));
        return 0;
    }
    if (typeOut) *typeOut = type;
    if (typeName && type != expectedType) {
        SetError(function, Format(L"RegQueryValueEx(%ls), Type is NOT %ls.", valueName.c_str(), typeName), 0);
        return 0;
    }
    return 1;
}

int CRegValue::QueryData(const std::wstring& function, HKEY handle, const std::wstring& valueName,
                         std::vector<BYTE>& data, DWORD size) {
    data.assign(size, 0);
    DWORD got = size;
    LSTATUS rc = RegQueryValueExW(handle, valueName.c_str(), nullptr, nullptr, data.data(), &got);
    if (rc != ERROR_SUCCESS) {
        SetError(function, Format(L"RegQueryValueEx(%ls)", valueName.c_str()), static_cast<DWORD>(rc));
        return 0;
    }
    if (got < size) data.resize(got);
    return 1;
}

// ---- CRegValueDword -------------------------------------------------------

int CRegValueDword::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"Value")
            CStoreValue::GetDword(value, Value);
        else if (key == L"ValueName")
            CStoreValue::GetString(value, ValueName);
        LoadKeyNames(key, value);
    });
}

int CRegValueDword::SaveProperties(CObjectStore& store) {
    CStoreValue v;
    v.SetDword(Value);
    SaveValueSection(store, L"CRegValueDword", L"Value", v.GetEncoded());
    return 1;
}

void CRegValueDword::Dump() {
    corvan::ConsoleOut(Format(L"\n\"%ls\"=dword:%.8x ", ValueName.c_str(), static_cast<unsigned>(Value)));
}

void CRegValueDword::WriteReport(CObjectStore& store, DWORD) {
    store.AddToSection(L"report", Format(L"\"%ls\"=dword:%.8x ", ValueName.c_str(), static_cast<unsigned>(Value)));
}

int CRegValueDword::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    CRegValue::Enum(keyPath, valueName, handle);
    const std::wstring function = CallName({L"CRegValueDword::Enum(", valueName.c_str(), L")"});
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LSTATUS rc = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (rc != ERROR_SUCCESS) {
        SetError(function, Format(L"RegQueryValueEx(%ls)", valueName.c_str()), static_cast<DWORD>(rc));
        return 0;
    }
    if (type != REG_DWORD) {
        SetError(function, Format(L"RegQueryValueEx(%ls), Type is NOT REG_DWORD.", valueName.c_str()), 0);
        return 0;
    }
    ValueName = valueName;
    Value = data;
    SetError(function, function, 0);
    return 1;
}

int CRegValueDword::Apply(HKEY& handle) {
    DWORD data = Value;
    return WriteValue(L"CRegValueDword::Apply()", handle, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                      sizeof(data));
}

// ---- CRegValueString, CRegValueExpandSz -----------------------------------

int CRegValueString::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"Value")
            CStoreValue::GetString(value, Value);
        else if (key == L"ValueName")
            CStoreValue::GetString(value, ValueName);
        LoadKeyNames(key, value);
    });
}

int CRegValueString::SaveProperties(CObjectStore& store) {
    // The value quoted straight into its entry: a key of a hundred thousand
    // texts saves each without a copy of its own.
    BeginLeafSection(store, ClassName());
    store.AddStringToSection(L"Value", Value);
    SaveValueNames(store, nullptr);
    return 1;
}

void CRegValueString::Dump() { corvan::ConsoleOut(Format(L"\n\"%ls\"=\"%ls\"", DisplayName().c_str(), Value.c_str())); }

void CRegValueString::WriteReport(CObjectStore& store, DWORD) {
    store.AddToSection(L"report", Format(L"\"%ls\"=\"%ls\"", DisplayName().c_str(), Value.c_str()));
}

int CRegValueString::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    CRegValue::Enum(keyPath, valueName, handle);
    const std::wstring function = CallName({ClassName(), L"::Enum(", valueName.c_str(), L")"});
    DWORD size = 0;
    if (!QueryTypeAndSize(function, handle, valueName, RegType(), RegTypeName(), size)) return 0;
    std::vector<BYTE> data;
    if (size != 0 && !QueryData(function, handle, valueName, data, size)) return 0;
    ValueName = valueName;
    Value = TextFromData(data);
    SetError(function, function, 0);
    return 1;
}

int CRegValueString::Apply(HKEY& handle) {
    return WriteValue(Format(L"%ls::Apply()", ClassName()), handle, RegType(),
                      reinterpret_cast<const BYTE*>(Value.c_str()),
                      static_cast<DWORD>((Value.size() + 1) * sizeof(WCHAR)));
}

void CRegValueString::PrintList(const std::wstring& valueName) {
    if (!corvan::EqualsNoCase(ValueName, valueName)) return;
    auto print = [this](const std::wstring& piece) {
        corvan::ConsoleOut(Format(L"\n[%ls]\n%ls=%ls", ParentKeyName.c_str(), ValueName.c_str(), piece.c_str()));
    };
    std::wstring rest = Value;
    for (size_t semi = rest.find(L';'); semi != std::wstring::npos && semi != 0; semi = rest.find(L';')) {
        print(rest.substr(0, semi));
        rest.erase(0, semi + 1);
    }
    print(rest);
}

void CRegValueString::ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) {
    corvan::ReplaceAll(Value, oldText, newText);
}

int CRegValueString::FindValue(const std::wstring& name, std::wstring& buffer) {
    if (!corvan::EqualsNoCase(KeyName, name)) return 0;
    buffer = Value;
    return 1;
}

// ---- CRegValueBinary ------------------------------------------------------

int CRegValueBinary::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"Value") {
            LoadHexValue(value, Value);
        } else if (key == L"ValueName") {
            CStoreValue::GetString(value, ValueName);
        }
        LoadKeyNames(key, value);
    });
}

int CRegValueBinary::SaveProperties(CObjectStore& store) {
    CStoreValue v;
    v.SetBinary(Value);
    SaveValueSection(store, L"CRegValueBinary", L"Value", v.GetEncoded());
    return 1;
}

void CRegValueBinary::Dump() {
    const std::wstring name = DisplayName();
    std::wstring out;
    for (const auto& piece : HexPieces(name, Value)) out += out.empty() ? L"\n" + piece : L"\\\n  " + piece;
    out += Format(L"\n\"%ls\"=string:", name.c_str()) + Printable(Value);
    corvan::ConsoleOut(out);
}

void CRegValueBinary::WriteReport(CObjectStore& store, DWORD) {
    const std::wstring name = DisplayName();
    for (const auto& piece : HexPieces(name, Value)) store.AddToSection(L"report", piece);
    store.AddToSection(L"report", Format(L"\"%ls\"=string:", name.c_str()) + Printable(Value));
}

int CRegValueBinary::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    CRegValue::Enum(keyPath, valueName, handle);
    const std::wstring function = CallName({L"CRegValueBinary::Enum(", valueName.c_str(), L")"});
    DWORD size = 0;
    if (!QueryTypeAndSize(function, handle, valueName, REG_BINARY, L"REG_BINARY", size)) return 0;
    std::vector<BYTE> data;
    if (!QueryData(function, handle, valueName, data, size)) return 0;
    ValueName = valueName;
    Value = std::move(data);
    SetError(function, function, 0);
    return 1;
}

int CRegValueBinary::Apply(HKEY& handle) {
    return WriteValue(L"CRegValueBinary::Apply()", handle, REG_BINARY, Value.data(), static_cast<DWORD>(Value.size()));
}

// ---- CRegValueMultiSz -----------------------------------------------------

int CRegValueMultiSz::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"saValue")
            CStoreValue::GetMultiString(value, saValue);
        else if (key == L"ValueName")
            CStoreValue::GetString(value, ValueName);
        LoadKeyNames(key, value);
    });
}

int CRegValueMultiSz::SaveProperties(CObjectStore& store) {
    CStoreValue v;
    v.SetMultiString(saValue);
    SaveValueSection(store, L"CRegValueMultiSz", L"saValue", v.GetEncoded());
    return 1;
}

void CRegValueMultiSz::Dump() {
    const std::wstring name = DisplayName();
    for (const auto& text : saValue) corvan::ConsoleOut(Format(L"\n\"%ls\"=\"%ls\"", name.c_str(), text.c_str()));
}

void CRegValueMultiSz::WriteReport(CObjectStore& store, DWORD) {
    for (const auto& text : saValue)
        store.AddToSection(L"report", Format(L"\"%ls\"=\"%ls\"", ValueName.c_str(), text.c_str()));
}

int CRegValueMultiSz::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    const int opened = CRegValue::Enum(keyPath, valueName, handle);
    const std::wstring function = CallName({L"CRegValueMultiSz::Enum(", keyPath.c_str(), L", ", valueName.c_str(), L")"});
    if (!handle) {
        SetError(function, Format(L"CRegValue::Enum(%ls, %ls...)", keyPath.c_str(), valueName.c_str()), 0);
        return 0;
    }
    DWORD size = 0;
    if (!QueryTypeAndSize(function, handle, valueName, REG_MULTI_SZ, L"REG_MULTI_SZ", size)) return 0;
    std::vector<BYTE> data;
    if (!QueryData(function, handle, valueName, data, size)) return 0;
    ValueName = valueName;
    std::wstring all(data.size() / sizeof(WCHAR), L'\0');
    if (!all.empty()) std::memcpy(all.data(), data.data(), all.size() * sizeof(WCHAR));
    for (size_t start = 0; start < all.size();) {
        size_t nul = all.find(L'\0', start);
        if (nul == std::wstring::npos) nul = all.size();
        if (nul == start) break;
        saValue.push_back(all.substr(start, nul - start));
        start = nul + 1;
    }
    SetError(function, function, 0);
    return opened;
}

std::vector<WCHAR> CRegValueMultiSz::MultiStringBuffer() const {
    std::vector<WCHAR> buffer;
    for (const auto& text : saValue) {
        buffer.insert(buffer.end(), text.begin(), text.end());
        buffer.push_back(L'\0');
    }
    buffer.push_back(L'\0');
    return buffer;
}

int CRegValueMultiSz::Add(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    const std::wstring function = CallName({L"CRegValueMultiSz::Add(", keyPath.c_str(), L", ", valueName.c_str(), L")"});
    if (!CRegValue::Add(keyPath, valueName, handle)) return 0;  // keeps the open's own error
    const std::vector<WCHAR> buffer = MultiStringBuffer();
    LSTATUS rc =
        RegSetValueExW(handle, valueName.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(buffer.data()),
                       static_cast<DWORD>(buffer.size() * sizeof(WCHAR)));
    if (rc != ERROR_SUCCESS) {
        SetError(function, Format(L"RegSetValueEx(%ls)", valueName.c_str()), static_cast<DWORD>(rc));
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

int CRegValueMultiSz::Apply(HKEY& handle) {
    const std::vector<WCHAR> buffer = MultiStringBuffer();
    return WriteValue(L"CRegValueMultiSz::Apply()", handle, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(buffer.data()),
                      static_cast<DWORD>(buffer.size() * sizeof(WCHAR)));
}

void CRegValueMultiSz::ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) {
    for (auto& text : saValue) corvan::ReplaceAll(text, oldText, newText);
}

void CRegValueMultiSz::GetStrings(std::vector<std::wstring>& list) const {
    list.insert(list.end(), saValue.begin(), saValue.end());
}

void CRegValueMultiSz::SetStrings(const std::vector<std::wstring>& list) { saValue = list; }

void CRegValueMultiSz::SetNameAndStrings(const std::vector<std::wstring>& list, const std::wstring& name) {
    ValueName = name;
    SetStrings(list);
}

// ---- CRegValueUnknown -----------------------------------------------------

int CRegValueUnknown::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"Value")
            LoadHexValue(value, Value);
        else if (key == L"Type")
            CStoreValue::GetDword(value, Type);
        else if (key == L"ValueName")
            CStoreValue::GetString(value, ValueName);
        LoadKeyNames(key, value);
    });
}

int CRegValueUnknown::SaveProperties(CObjectStore& store) {
    CStoreValue v;
    v.SetBinary(Value);
    SaveValueSection(store, L"CRegValueUnknown", L"Value", v.GetEncoded(), &Type);
    return 1;
}

int CRegValueUnknown::Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) {
    CRegValue::Enum(keyPath, valueName, handle);
    const std::wstring function = Format(L"CRegValueUnknown::Enum(%ls)", valueName.c_str());
    DWORD size = 0;
    DWORD type = REG_NONE;
    if (!QueryTypeAndSize(function, handle, valueName, 0, nullptr, size, &type)) return 0;
    std::vector<BYTE> data;
    if (!QueryData(function, handle, valueName, data, size)) return 0;
    ValueName = valueName;
    Type = type;
    Value = std::move(data);
    SetError(function, function, 0);
    return 1;
}

int CRegValueUnknown::Apply(HKEY& handle) {
    return WriteValue(L"CRegValueUnknown::Apply()", handle, Type, Value.data(), static_cast<DWORD>(Value.size()));
}
