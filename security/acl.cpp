#include "security/acl.h"

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

namespace {

const wchar_t kGetFunction[] = L"CAcl::Get()";

enum class EntryKind { Allowed, Denied, Audit };

EntryKind KindOf(BYTE aceType) {
    switch (aceType) {
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
        return EntryKind::Denied;
    case SYSTEM_AUDIT_ACE_TYPE:
    case SYSTEM_ALARM_ACE_TYPE:
    case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_OBJECT_ACE_TYPE:
        return EntryKind::Audit;
    default:
        return EntryKind::Allowed;
    }
}

}  // namespace

CAcl::CAcl() = default;

CAcl::~CAcl() { FreeBuilt(); }

void CAcl::FreeBuilt() {
    if (built_) LocalFree(built_);
    built_ = nullptr;
}

void CAcl::AddAce(CAce* ace) {
    if (ace) aces_.emplace_back(ace);
}

int CAcl::GetCount() const { return static_cast<int>(aces_.size()); }

CAce* CAcl::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return aces_[static_cast<size_t>(index)].get();
}

int CAcl::Enum(PACL list) {
    const std::wstring function = L"CAcl::Enum()";
    NullAcl = list ? 0 : 1;
    if (!list) {
        SetError(function, function, 0);
        return 1;
    }
    // A list that cannot be read keeps the entries read so far; the failure
    // is recorded, not passed on.
    if (!IsValidAcl(list)) {
        SetError(function, L"IsValidAcl", ERROR_INVALID_ACL);
        return 1;
    }
    ACL_SIZE_INFORMATION sizeInfo{};
    if (!GetAclInformation(list, &sizeInfo, sizeof sizeInfo, AclSizeInformation)) {
        SetError(function, L"GetAclInformation(AclSizeInformation)", GetLastError());
        return 1;
    }
    ACL_REVISION_INFORMATION revisionInfo{};
    if (!GetAclInformation(list, &revisionInfo, sizeof revisionInfo, AclRevisionInformation)) {
        SetError(function, L"GetAclInformation(AclRevisionInformation)", GetLastError());
        return 1;
    }
    for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
        LPVOID entry = nullptr;
        if (!GetAce(list, i, &entry)) {
            SetError(function, corvan::Format(L"GetAce(%lu)", static_cast<unsigned long>(i)), GetLastError());
            return 1;
        }
        AddAce(new CAce(entry, static_cast<int>(i)));
    }
    SetError(function, function, 0);
    return 1;
}

int CAcl::FailBuild(const std::wstring& failure, DWORD code, const std::wstring& description) {
    FreeBuilt();
    buildError_ = code;
    buildFailure_ = failure;
    SetError(kGetFunction, failure, code, description.empty() ? SystemDescription(code) : description);
    return 0;
}

int CAcl::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CBaseObject::ReplaceServerName(oldText, newText);
    for (auto& ace : aces_) count += ace->ReplaceServerName(oldText, newText);
    return count;
}

int CAcl::Get(PACL& list) {
    list = nullptr;
    FreeBuilt();
    buildError_ = 0;
    buildFailure_.clear();
    if (aces_.empty() && NullAcl) return 1;

    // Every entry is header, mask and SID, whatever its type.
    DWORD size = sizeof(ACL);
    for (auto& ace : aces_) {
        PSID sid = nullptr;
        DWORD mask = 0;
        int index = 0;
        if (!ace->Get(sid, mask, index))
            return FailBuild(L"IsValidSid()", ace->LastErrorCode ? ace->LastErrorCode : ERROR_NONE_MAPPED,
                             ace->ErrorDescription);
        if (!IsValidSid(sid)) return FailBuild(L"IsValidSid()", ERROR_INVALID_SID);
        size += GetLengthSid(sid) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    }

    built_ = static_cast<PACL>(LocalAlloc(LPTR, size));
    if (!built_) return FailBuild(corvan::Format(L"LocalAlloc(%lu)", static_cast<unsigned long>(size)),
                                  ERROR_NOT_ENOUGH_MEMORY);
    if (!InitializeAcl(built_, size, ACL_REVISION2)) {
        DWORD code = GetLastError();
        return FailBuild(corvan::Format(L"InitializeAcl(%d, ACL_REVISION2)", static_cast<int>(size)),
                         code ? code : ERROR_INVALID_PARAMETER);
    }

    for (auto& ace : aces_) {
        PSID sid = nullptr;
        DWORD mask = 0;
        int index = 0;
        if (!ace->Get(sid, mask, index))
            return FailBuild(L"IsValidSid()", ace->LastErrorCode ? ace->LastErrorCode : ERROR_NONE_MAPPED,
                             ace->ErrorDescription);
        if (!IsValidSid(sid)) return FailBuild(L"IsValidSid()", ERROR_INVALID_SID);

        const DWORD inherit = ace->AceFlags & VALID_INHERIT_FLAGS;
        BOOL added = FALSE;
        const wchar_t* call = L"";
        switch (KindOf(ace->AceType)) {
        case EntryKind::Denied:
            added = AddAccessDeniedAceEx(built_, ACL_REVISION2, inherit, mask, sid);
            call = L"AddAccessDeniedAceEx(%d)";
            break;
        case EntryKind::Audit:
            added = AddAuditAccessAceEx(built_, ACL_REVISION2, inherit, mask, sid,
                                        (ace->AceFlags & SUCCESSFUL_ACCESS_ACE_FLAG) ? TRUE : FALSE,
                                        (ace->AceFlags & FAILED_ACCESS_ACE_FLAG) ? TRUE : FALSE);
            call = L"AddAuditAccessAceEx(%d)";
            break;
        case EntryKind::Allowed:
            added = AddAccessAllowedAceEx(built_, ACL_REVISION2, inherit, mask, sid);
            call = L"AddAccessAllowedAceEx(%d)";
            break;
        }
        if (!added) {
            DWORD code = GetLastError();
            return FailBuild(corvan::Format(call, static_cast<int>(mask)), code ? code : ERROR_INVALID_ACL);
        }
        if (!IsValidAcl(built_)) return FailBuild(L"IsValidAcl()", ERROR_INVALID_ACL);
    }

    list = built_;
    SetError(kGetFunction, kGetFunction, 0);
    return 1;
}

int CAcl::SaveProperties(CObjectStore& store) {
    const std::wstring own = BeginCompositeSection(store, L"CAcl");
    store.AddDwordToSection(L"NullAcl", NullAcl);
    CBaseObject::SaveProperties(store);
    for (auto& ace : aces_) SaveChildSection(store, own, *ace);
    return 1;
}

int CAcl::LoadProperty(CObjectStore& store) {
    const std::wstring own = store.CurrentEntrySection();
    std::wstring section = own;
    while (store.Next()) {
        if (corvan::EqualsNoCase(store.CurrentEntrySection(), section)) {
            if (section == own && store.CurrentKey() == L"NullAcl")
                CStoreValue::GetDword(store.CurrentValue(), NullAcl);
            CBaseObject::LoadProperty(store);
            continue;
        }
        section = store.CurrentEntrySection();
        if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
        if (store.CurrentValue() != L"CAce") {
            store.Previous();
            break;
        }
        auto ace = std::make_unique<CAce>();
        ace->LoadProperty(store);
        AddAce(ace.release());
    }
    return 1;
}

void CAcl::Dump() {
    for (auto& ace : aces_) ace->Dump();
}
