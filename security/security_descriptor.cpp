#include "security/security_descriptor.h"

#include "core/object_store.h"
#include "platform/text.h"

namespace {

// Some of these calls fail without setting the thread's last error; a
// failure must never be recorded as the success code 0.
DWORD LastErrorOr(DWORD fallback) {
    DWORD code = GetLastError();
    return code ? code : fallback;
}

}  // namespace

CSecurityDescriptor::CSecurityDescriptor() = default;

CSecurityDescriptor::~CSecurityDescriptor() { FreeBuilt(); }

void CSecurityDescriptor::FreeBuilt() {
    if (built_) LocalFree(built_);
    built_ = nullptr;
}

int CSecurityDescriptor::Enum(PSECURITY_DESCRIPTOR descriptor) {
    const std::wstring function = L"CSecurityDescriptor::Enum()";
    if (!descriptor || !IsValidSecurityDescriptor(descriptor)) {
        SetError(function, L"IsValidSecurityDescriptor",
                 descriptor ? LastErrorOr(ERROR_INVALID_SECURITY_DESCR) : ERROR_INVALID_SECURITY_DESCR);
        return 0;
    }
    BOOL daclPresent = FALSE, daclDefaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted)) {
        SetError(function, L"GetSecurityDescriptorDacl", LastErrorOr(ERROR_INVALID_SECURITY_DESCR));
        return 0;
    }
    BOOL saclPresent = FALSE, saclDefaulted = FALSE;
    PACL sacl = nullptr;
    if (!GetSecurityDescriptorSacl(descriptor, &saclPresent, &sacl, &saclDefaulted)) {
        SetError(function, L"GetSecurityDescriptorSacl", LastErrorOr(ERROR_INVALID_SECURITY_DESCR));
        return 0;
    }
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner_, &ownerDefaulted)) {
        SetError(function, L"GetSecurityDescriptorOwner", LastErrorOr(ERROR_INVALID_SECURITY_DESCR));
        return 0;
    }
    BOOL groupDefaulted = FALSE;
    if (!GetSecurityDescriptorGroup(descriptor, &group_, &groupDefaulted)) {
        SetError(function, L"GetSecurityDescriptorGroup", LastErrorOr(ERROR_INVALID_SECURITY_DESCR));
        return 0;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        SetError(function, L"GetSecurityDescriptorControl", LastErrorOr(ERROR_INVALID_SECURITY_DESCR));
        return 0;
    }

    DiscretionaryAcl.Enum(daclPresent ? dacl : nullptr);
    SystemAcl.Enum(saclPresent ? sacl : nullptr);
    SetError(function, function, 0);
    return 1;
}

int CSecurityDescriptor::Get(PSECURITY_DESCRIPTOR& descriptor) {
    const std::wstring function = L"CSecurityDescriptor::Get()";
    descriptor = nullptr;
    FreeBuilt();

    PSECURITY_DESCRIPTOR block = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!block) {
        SetError(function, L"LocalAlloc", LastErrorOr(ERROR_NOT_ENOUGH_MEMORY));
        return 0;
    }
    if (!InitializeSecurityDescriptor(block, SECURITY_DESCRIPTOR_REVISION)) {
        DWORD code = LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
        LocalFree(block);
        SetError(function, L"InitializeSecurityDescriptor", code);
        return 0;
    }

    PACL dacl = nullptr;
    PACL sacl = nullptr;
    const CAcl* failed = nullptr;
    if (!DiscretionaryAcl.Get(dacl))
        failed = &DiscretionaryAcl;
    else if (!SystemAcl.Get(sacl))
        failed = &SystemAcl;
    if (failed) {
        // Without its permissions the resource would be created open to
        // everybody; the owner must be able to see that it failed.
        LocalFree(block);
        SetError(function, L"CAcl::Get()", failed->GetBuildError(), failed->ErrorDescription);
        return 1;
    }

    if (!SetSecurityDescriptorDacl(block, TRUE, dacl, FALSE)) {
        DWORD code = LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
        LocalFree(block);
        SetError(function, L"SetSecurityDescriptorDacl", code);
        return 0;
    }
    if (!SetSecurityDescriptorSacl(block, TRUE, sacl, FALSE)) {
        DWORD code = LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
        LocalFree(block);
        SetError(function, L"SetSecurityDescriptorSacl", code);
        return 0;
    }
    built_ = block;
    descriptor = built_;
    SetError(function, function, 0);
    return 1;
}

int CSecurityDescriptor::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    return CBaseObject::ReplaceServerName(oldText, newText) + SystemAcl.ReplaceServerName(oldText, newText) +
           DiscretionaryAcl.ReplaceServerName(oldText, newText);
}

int CSecurityDescriptor::SaveProperties(CObjectStore& store) {
    const std::wstring own = BeginCompositeSection(store, L"CSecurityDescriptor");
    CBaseObject::SaveProperties(store);
    // The system list is saved first, although Enum reads it second.
    for (CAcl* list : {&SystemAcl, &DiscretionaryAcl}) {
        store.SetCurrentSection(own);
        store.SetParentSection(own);
        list->SaveProperties(store);
    }
    store.SetCurrentSection(own);
    return 1;
}

int CSecurityDescriptor::LoadProperty(CObjectStore& store) {
    std::wstring section = store.CurrentEntrySection();
    int listsLoaded = 0;
    while (store.Next()) {
        if (corvan::EqualsNoCase(store.CurrentEntrySection(), section)) {
            CBaseObject::LoadProperty(store);
            continue;
        }
        section = store.CurrentEntrySection();
        if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
        if (store.CurrentValue() != L"CAcl") {
            store.Previous();
            break;
        }
        CAcl& list = listsLoaded++ == 0 ? SystemAcl : DiscretionaryAcl;
        list.LoadProperty(store);
    }
    return 1;
}

void CSecurityDescriptor::Dump() {
    corvan::ConsoleOut(L"------------- Check SID ------------------------------------------------\n");
    corvan::ConsoleOut(L"System ACL List: \n");
    SystemAcl.Dump();
    corvan::ConsoleOut(L"Discrectionary ACL List: \n");
    DiscretionaryAcl.Dump();
    corvan::ConsoleOut(L"\n----------------------------------------------------------------------\n");
}
