#include "shares/composite_share.h"

#include <algorithm>

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "platform/text.h"
#include "registry/reg_value.h"

using corvan::Format;

namespace {

bool ContainsNoCase(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::wstring& item) { return corvan::EqualsNoCase(item, name); });
}

// The "parent" value of the section whose "class" entry the store has just
// made current, read without moving the cursor; empty when there is none.
std::wstring ParentOfCurrentSection(const CObjectStore& store) {
    size_t next = store.GetCursor();
    if (next >= store.GetEntryCount()) return L"";
    const CStoreEntry& entry = store.GetEntryAt(next);
    if (!corvan::EqualsNoCase(entry.Section, store.CurrentEntrySection()) || entry.Key != L"parent") return L"";
    return entry.Value;
}

}  // namespace

CCompositeShare::CCompositeShare() = default;

CCompositeShare::CCompositeShare(const std::wstring& serverName) : CShare(serverName) {}

CCompositeShare::~CCompositeShare() = default;

void CCompositeShare::AddChild(CShare* child) {
    if (child) children_.emplace_back(child);
}

int CCompositeShare::GetCount() const { return static_cast<int>(children_.size()); }

CShare* CCompositeShare::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return children_[static_cast<size_t>(index)].get();
}

void CCompositeShare::SetNullSessionList(std::unique_ptr<CRegValueMultiSz> list) {
    nullSessionList_ = std::move(list);
}

int CCompositeShare::Enum() {
    const std::wstring function = L"CCompositeShare::Enum()";
    auto list = std::make_unique<CRegValueMultiSz>(ServerName);
    int result = ReadNullSessionList(*list);
    std::vector<std::wstring> nullSessionNames;
    list->GetStrings(nullSessionNames);
    const std::wstring listFailure = list->ErrorWin32API;
    const DWORD listCode = list->LastErrorCode;
    nullSessionList_ = std::move(list);

    std::vector<WCHAR> serverBuffer;
    LPWSTR server = ServerArgument(serverBuffer);
    std::wstring errorText;
    DWORD errorCode = 0;
    DWORD resume = 0;
    for (;;) {
        LPBYTE buffer = nullptr;
        DWORD entries = 0;
        DWORD total = 0;
        NET_API_STATUS status = NetShareEnum(server, 502, &buffer, MAX_PREFERRED_LENGTH, &entries, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA) {
            if (buffer) NetApiBufferFree(buffer);
            errorText = Format(L"NetShareEnum(%ls)", ServerName.c_str());
            errorCode = status;
            result = 0;
            break;
        }
        const auto* records = reinterpret_cast<const SHARE_INFO_502*>(buffer);
        for (DWORD i = 0; records && i < entries; ++i) {
            auto share = ServerName.empty() ? std::make_unique<CShare>(records[i])
                                            : std::make_unique<CShare>(ServerName, records[i]);
            if (ContainsNoCase(nullSessionNames, share->NetName)) share->NullSession = 1;
            share->ReportFlag = 1;
            share->Task = L"Backup Share";
            AddChild(share.release());
        }
        if (buffer) NetApiBufferFree(buffer);
        if (status == NERR_Success) break;
        if (entries == 0) {
            // More data promised but none given: asking again would never end.
            errorText = Format(L"NetShareEnum(%ls)", ServerName.c_str());
            errorCode = status;
            result = 0;
            break;
        }
    }

    ReportFlag = 1;
    Task = L"Backup Share";
    if (result)
        SetError(function, function, 0);
    else if (errorCode)
        SetError(function, errorText, errorCode);
    else
        SetError(function, listFailure, listCode ? listCode : ERROR_CANTREAD);
    return result;
}

int CCompositeShare::Add() {
    const std::wstring function = L"CCompositeShare::Add()";
    std::wstring errorText;
    DWORD errorCode = 0;
    std::vector<std::wstring> names;
    for (auto& child : children_) {
        // Only former null-session shares belong in the target's list.
        if (child->Restore && child->NullSession) names.push_back(child->NetName);
        if (!child->Add() && !errorCode) {
            errorText = Format(L"CShare::Add(%ls)", child->NetName.c_str());
            errorCode = child->LastErrorCode ? child->LastErrorCode : ERROR_GEN_FAILURE;
        }
    }
    if (nullSessionList_) nullSessionList_->GetStrings(names);

    int result = errorCode ? 0 : 1;
    if (!names.empty()) {
        CRegValueMultiSz list(ServerName);
        int listOk = ReadNullSessionList(list);
        if (listOk) {
            std::vector<std::wstring> updated;
            list.GetStrings(updated);
            bool changed = false;
            for (const auto& name : names) {
                if (name.empty() || ContainsNoCase(updated, name)) continue;
                updated.push_back(name);
                changed = true;
            }
            if (changed) listOk = WriteNullSessionList(list, updated);
        }
        if (!listOk) {
            result = 0;
            if (!errorCode) {
                errorText = list.ErrorWin32API;
                errorCode = list.LastErrorCode ? list.LastErrorCode : ERROR_CANTWRITE;
            }
        }
    }

    ReportFlag = 1;
    Task = L"Restore Share";
    if (result)
        SetError(function, function, 0);
    else
        SetError(function, errorText, errorCode);
    return result;
}

int CCompositeShare::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CShare::ReplaceServerName(oldText, newText);
    for (auto& child : children_) count += child->ReplaceServerName(oldText, newText);
    if (nullSessionList_) count += nullSessionList_->ReplaceServerName(oldText, newText);
    return count;
}

void CCompositeShare::SetRestoreByName(const std::wstring& name, DWORD flag) {
    for (auto& child : children_) child->SetRestoreByName(name, flag);
}

void CCompositeShare::SetRestoreByType(DWORD type, DWORD flag) {
    for (auto& child : children_) child->SetRestoreByType(type, flag);
}

int CCompositeShare::SaveProperties(CObjectStore& store) {
    const std::wstring own = BeginCompositeSection(store, L"CCompositeShare");
    CBaseObject::SaveProperties(store);
    for (auto& child : children_) SaveChildSection(store, own, *child);
    if (nullSessionList_) SaveChildSection(store, own, *nullSessionList_);
    return 1;
}

int CCompositeShare::LoadProperty(CObjectStore& store) {
    const std::wstring own = store.CurrentEntrySection();
    CNestingLevel level(store.NestingDepth());
    if (level.TooDeep()) return RefuseNesting(*this, L"CCompositeShare::LoadProperty()", own);
    LoadSectionEntries(store, nullptr);
    std::wstring section = own;
    while (store.Next()) {
        // Only the first entry of a section counts; the rest of a section
        // passed over is skipped with it.
        if (corvan::EqualsNoCase(store.CurrentEntrySection(), section)) continue;
        section = store.CurrentEntrySection();
        if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
        if (nested_ && ParentOfCurrentSection(store) != own) {
            store.Previous();
            break;
        }
        const std::wstring className = store.CurrentValue();
        if (className == L"CShare") {
            auto share = std::make_unique<CShare>(ServerName);
            share->LoadProperty(store);
            AddChild(share.release());
        } else if (className == L"CCompositeShare") {
            auto composite = std::make_unique<CCompositeShare>(ServerName);
            composite->nested_ = true;
            if (!composite->LoadProperty(store)) {
                // Too deep somewhere below: the whole set is refused.
                TakeError(*composite);
                return 0;
            }
            AddChild(composite.release());
        } else if (className == L"CRegValueMultiSz") {
            auto list = std::make_unique<CRegValueMultiSz>();
            list->LoadProperty(store);
            nullSessionList_ = std::move(list);
        } else {
            continue;
        }
        // The child has read its sections; what follows is new.
        section.clear();
    }
    return 1;
}

void CCompositeShare::ReportStatus(CObjectStore& reportStore) {
    for (auto& child : children_) child->ReportStatus(reportStore);
}

void CCompositeShare::Dump() {
    for (auto& child : children_) child->Dump();
    if (nullSessionList_) nullSessionList_->Dump();
}
