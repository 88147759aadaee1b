#include "registry/composite_reg_key.h"

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"
#include "registry/reg_value.h"

using corvan::Format;

namespace {

const wchar_t kClassName[] = L"CCompositeRegKey";

std::unique_ptr<CRegValue> NewValueOfType(DWORD type, const std::wstring& serverName) {
    switch (type) {
        case REG_SZ:
            return std::make_unique<CRegValueString>(serverName);
        case REG_EXPAND_SZ:
            return std::make_unique<CRegValueExpandSz>(serverName);
        case REG_BINARY:
            return std::make_unique<CRegValueBinary>(serverName);
        case REG_DWORD:
            return std::make_unique<CRegValueDword>(serverName);
        case REG_MULTI_SZ:
            return std::make_unique<CRegValueMultiSz>(serverName);
        default:
            return std::make_unique<CRegValueUnknown>(serverName);
    }
}

std::unique_ptr<CRegValue> NewValueOfClass(const std::wstring& className) {
    if (className == L"CRegValueDword") return std::make_unique<CRegValueDword>();
    if (className == L"CRegValueString") return std::make_unique<CRegValueString>();
    if (className == L"CRegValueMultiSz") return std::make_unique<CRegValueMultiSz>();
    if (className == L"CRegValueExpandSz") return std::make_unique<CRegValueExpandSz>();
    if (className == L"CRegValueBinary") return std::make_unique<CRegValueBinary>();
    if (className == L"CRegValueUnknown") return std::make_unique<CRegValueUnknown>();
    return nullptr;
}

}  // namespace

CCompositeRegKey::~CCompositeRegKey() = default;

void CCompositeRegKey::AddChild(CRegObj* child) {
    if (child) children_.emplace_back(child);
}

int CCompositeRegKey::GetCount() const { return static_cast<int>(children_.size()); }

CRegObj* CCompositeRegKey::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return children_[static_cast<size_t>(index)].get();
}

// ---- Reading the registry -------------------------------------------------

int CCompositeRegKey::Enum(const std::wstring& parentPath, const std::wstring& keyName, HKEY& handle) {
    const std::wstring function = L"CCompositeRegKey::Enum()";
    ParentKeyName = parentPath;
    KeyName = keyName;

    if (!handle) {
        HKEY parent = nullptr;
        if (ServerName.empty()) {
            LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_READ, &parent);
            if (rc != ERROR_SUCCESS) {
                SetError(function, Format(L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ...)", parentPath.c_str()),
                         static_cast<DWORD>(rc));
                return 0;
            }
        } else {
            HKEY root = nullptr;
            LSTATUS rc = RegConnectRegistryW(ServerName.c_str(), HKEY_LOCAL_MACHINE, &root);
            if (rc != ERROR_SUCCESS) {
                SetError(function,
                         Format(L"RegConnectRegistry(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ...)", ServerName.c_str(),
                                parentPath.c_str()),
                         static_cast<DWORD>(rc));
                return 0;
            }
            rc = RegOpenKeyExW(root, parentPath.c_str(), 0, KEY_READ, &parent);
            RegCloseKey(root);
            if (rc != ERROR_SUCCESS) {
                SetError(function,
                         Format(L"RegOpenKeyEx(%ls, HKEY_LOCAL_MACHINE, %ls, KEY_READ ...)", ServerName.c_str(),
                                parentPath.c_str()),
                         static_cast<DWORD>(rc));
                return 0;
            }
        }
        handle = parent;
    }

    HKEY opened = nullptr;
    LSTATUS rc = RegOpenKeyExW(handle, keyName.c_str(), 0, KEY_READ, &opened);
    if (rc != ERROR_SUCCESS) {
        SetError(function, Format(L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, %ls, KEY_READ...)", keyName.c_str()),
                 static_cast<DWORD>(rc));
        return 0;
    }
    CRegKeyHandle key(opened);

    DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
    rc = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr, &values,
                          &maxValueNameLen, &maxValueLen, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        SetError(function, L"RegQueryInfoKey()", static_cast<DWORD>(rc));
        return 0;
    }

    if (values != 0) {
        std::vector<WCHAR> name(static_cast<size_t>(maxValueNameLen) + 1);
        // The data is read again by each value; this buffer only has to hold
        // the longest data, and its whole size is offered to the call.
        std::vector<BYTE> data((static_cast<size_t>(maxValueLen) + 1) * sizeof(WCHAR));
        for (DWORD index = 0; index < values; ++index) {
            DWORD nameLength = maxValueNameLen + 1;
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            rc = RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) continue;
            if (rc != ERROR_SUCCESS) {
                SetError(function, L"RegEnumValue()", static_cast<DWORD>(rc));
                return 0;
            }
            std::unique_ptr<CRegValue> child = NewValueOfType(type, ServerName);
            HKEY through = key.Get();
            child->Enum(keyName, std::wstring(name.data(), nameLength), through);
            AddChild(child.release());
        }
    }

    std::vector<WCHAR> subName(static_cast<size_t>(maxSubKeyLen) + 1);
    const std::wstring ownPath = FullPath();
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = maxSubKeyLen + 1;
        rc = RegEnumKeyExW(key.Get(), index, subName.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            SetError(function, L"RegEnumKeyEx()", static_cast<DWORD>(rc));
            return 0;
        }
        auto child = std::make_unique<CCompositeRegKey>();
        HKEY through = key.Get();
        child->Enum(ownPath, std::wstring(subName.data(), nameLength), through);
        AddChild(child.release());
    }

    SetError(function, function, 0);
    return 1;
}

// ---- Writing the registry -------------------------------------------------

int CCompositeRegKey::Apply(HKEY& handle) {
    handle = nullptr;
    return ApplyOn(ServerName);
}

int CCompositeRegKey::ApplyOn(const std::wstring& server) {
    const std::wstring function = L"CCompositeRegKey::Apply()";
    HKEY created = nullptr;
    if (!CreateKey(function, server, created)) return 0;
    CRegKeyHandle key(created);

    for (const auto& child : children_) {
        int applied;
        if (auto* nested = dynamic_cast<CCompositeRegKey*>(child.get())) {
            // Nested keys are read without a server name of their own; they
            // belong on the machine their container is written to.
            applied = nested->ApplyOn(nested->ServerName.empty() ? server : nested->ServerName);
        } else {
            // Each child gets this key's handle; one it opens itself is closed here.
            HKEY through = key.Get();
            applied = child->Apply(through);
            if (through && through != key.Get()) RegCloseKey(through);
        }
        if (!applied) {
            SetError(function, L"", 0);
            return 0;
        }
    }
    SetError(function, function, 0);
    return 1;
}

// ---- Store ----------------------------------------------------------------

int CCompositeRegKey::SaveProperties(CObjectStore& store) {
    const std::wstring own = BeginCompositeSection(store, kClassName);
    CRegObj::SaveProperties(store);
    for (const auto& child : children_) SaveChildSection(store, own, *child);
    return 1;
}

int CCompositeRegKey::LoadProperty(CObjectStore& store) {
    CCompositeRegKey* loading = this;
    // Only keys of this tree can take children, whatever else the store has
    // registered; the parent links may make the tree deep without recursion,
    // and what is done with it afterwards recurses, so its depth is bounded.
    CTreeDepths treeKeys(this);
    std::wstring currentClass = kClassName;
    std::wstring lastSection = store.CurrentEntrySection();

    while (store.Next()) {
        const std::wstring section = store.CurrentEntrySection();
        const std::wstring key = store.CurrentKey();
        const std::wstring value = store.CurrentValue();

        if (corvan::EqualsNoCase(section, lastSection)) {
            if (!corvan::EqualsNoCase(currentClass, kClassName)) continue;
            if (loading->LoadKeyNames(key, value)) continue;
            if (corvan::EqualsNoCase(key, L"parent"))
                store.RegisterObject(section, loading);
            else
                loading->CBaseObject::LoadProperty(store);
            continue;
        }

        lastSection = section;
        if (!corvan::EqualsNoCase(key, L"class")) {
            currentClass.clear();  // the whole section is passed over
            continue;
        }
        currentClass = value;

        CCompositeRegKey* container = loading;
        std::wstring parentSection;
        std::wstring parentClass;
        store.GetValue(section, L"parent", parentSection);
        store.GetValue(parentSection, L"class", parentClass);
        CBaseObject* registered = nullptr;
        if (parentClass == kClassName && store.LookupObject(parentSection, registered) &&
            treeKeys.Knows(registered))
            container = static_cast<CCompositeRegKey*>(registered);

        if (std::unique_ptr<CRegValue> child = NewValueOfClass(currentClass)) {
            child->LoadProperty(store);
            store.RegisterObject(section, child.get());
            container->AddChild(child.release());
        } else if (currentClass == L"CRegObj") {
            auto plain = std::make_unique<CRegObj>();
            store.RegisterObject(section, plain.get());
            container->AddChild(plain.release());
        } else if (currentClass == kClassName) {
            auto nested = std::make_unique<CCompositeRegKey>();
            if (!treeKeys.Add(nested.get(), treeKeys.ChildLevel(container)))
                return RefuseNesting(*this, L"CCompositeRegKey::LoadProperty()", section);
            loading = nested.get();
            store.RegisterObject(section, loading);
            container->AddChild(nested.release());
        } else {
            store.Previous();
            break;
        }
    }
    return 1;
}

// ---- Names, output --------------------------------------------------------

void CCompositeRegKey::Dump() {
    CRegObj::Dump();
    for (const auto& child : children_) child->Dump();
}

int CCompositeRegKey::DumpKeys() {
    CRegObj::Dump();
    for (const auto& child : children_) child->DumpKeys();
    return 1;
}

int CCompositeRegKey::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CRegObj::ReplaceServerName(oldText, newText);
    for (const auto& child : children_) count += child->ReplaceServerName(oldText, newText);
    return count;
}

int CCompositeRegKey::Noop() {
    for (const auto& child : children_) child->Noop();
    return 1;
}

void CCompositeRegKey::PrintList(const std::wstring& valueName) {
    for (const auto& child : children_) child->PrintList(valueName);
}

void CCompositeRegKey::RenameKey(const std::wstring& oldName, const std::wstring& newName) {
    CRegObj::RenameKey(oldName, newName);
    for (const auto& child : children_) child->RenameKey(oldName, newName);
}

void CCompositeRegKey::ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) {
    for (const auto& child : children_) child->ReplaceInValue(oldText, newText);
}

void CCompositeRegKey::ReplaceInKeyNames(const std::wstring& oldText, const std::wstring& newText) {
    CRegObj::ReplaceInKeyNames(oldText, newText);
    for (const auto& child : children_) child->ReplaceInKeyNames(oldText, newText);
}

int CCompositeRegKey::AppendToKeyName(const std::wstring& parent, const std::wstring& suffix) {
    const int matched = CRegObj::AppendToKeyName(parent, suffix);
    for (const auto& child : children_) {
        child->AppendToKeyName(parent, suffix);
        if (matched) child->AppendToParentKeyName(suffix);
    }
    return matched;
}

int CCompositeRegKey::FindValue(const std::wstring& name, std::wstring& buffer) {
    for (const auto& child : children_)
        if (child->FindValue(name, buffer)) return 1;
    return 0;
}

void CCompositeRegKey::WriteReport(CObjectStore& store, DWORD mode) {
    CRegObj::WriteReport(store, mode);
    for (const auto& child : children_) child->WriteReport(store, mode);
}
