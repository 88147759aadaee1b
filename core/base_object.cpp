#include "core/base_object.h"

#include <cwchar>

#include "core/object_store.h"
#include "core/preview.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "diagnostics/logger.h"
#include "diagnostics/system_message.h"
#include "platform/text.h"

namespace {

void* CreateBaseObject() { return new CBaseObject(); }

const wchar_t kNoDescription[] = L"FormatMessage failed to get full description.";

}  // namespace

const CRuntimeClass CBaseObject::classCBaseObject = {L"CBaseObject", sizeof(CBaseObject), &CreateBaseObject};

CBaseObject::CBaseObject() {
    // Every value of a registry backup is an object: the name is made once.
    static const std::wstring kApplication = L"Application";
    Logger = LoggerRegistry::Lookup(kApplication);
}

CBaseObject::CBaseObject(const std::wstring& serverName) : CBaseObject() { ServerName = serverName; }

CBaseObject::~CBaseObject() = default;

const CRuntimeClass* CBaseObject::GetRuntimeClass() const { return &classCBaseObject; }

void CBaseObject::Serialize(CArchive*) {}

int CBaseObject::LoadProperty(CObjectStore& store) {
    const std::wstring& key = store.CurrentKey();
    const std::wstring& value = store.CurrentValue();
    if (corvan::EqualsNoCase(key, L"LastErrorCode")) {
        CStoreValue::GetDword(value, LastErrorCode);
        return 1;
    }
    struct TextField {
        const wchar_t* key;
        std::wstring* field;
    };
    const TextField fields[] = {
        {L"ServerName", &ServerName},       {L"Migration", &Migration},
        {L"ErrorCode", &ErrorCode},         {L"ErrorWin32API", &ErrorWin32API},
        {L"ErrorFunction", &ErrorFunction}, {L"ErrorDescription", &ErrorDescription},
    };
    for (const auto& f : fields) {
        if (corvan::EqualsNoCase(key, f.key)) {
            CStoreValue::GetString(value, *f.field);
            break;
        }
    }
    return 1;
}

int CBaseObject::SaveProperties(CObjectStore& store) {
    auto addText = [&](const wchar_t* key, const std::wstring& field) {
        if (!field.empty()) store.AddStringToSection(key, field);
    };
    addText(L"ServerName", ServerName);
    addText(L"Migration", Migration);
    if (!ErrorCode.empty()) {
        addText(L"ErrorCode", ErrorCode);
        store.AddDwordToSection(L"LastErrorCode", LastErrorCode);
    }
    addText(L"ErrorWin32API", ErrorWin32API);
    addText(L"ErrorFunction", ErrorFunction);
    addText(L"ErrorDescription", ErrorDescription);
    return 1;
}

void CBaseObject::ReportStatus(CObjectStore&) {}

void CBaseObject::Dump() {}

int CBaseObject::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    // Machine names are the same whatever the case of their letters.
    return ReplaceServerText(ServerName, oldText, newText);
}

std::wstring CBaseObject::SystemDescription(DWORD code) {
    std::wstring text;
    if (code == 0 || !SystemMessageText(code, text)) return kNoDescription;
    // One line: every LF, then every CR, becomes a space.
    for (auto& c : text)
        if (c == L'\n') c = L' ';
    for (auto& c : text)
        if (c == L'\r') c = L' ';
    return text;
}

void CBaseObject::ClearError() {
    ErrorCode.clear();
    ErrorWin32API.clear();
    ErrorFunction.clear();
    ErrorDescription.clear();
    LastErrorCode = 0;
}

void CBaseObject::SetError(const std::wstring& function, const std::wstring& api, DWORD code) {
    // Success has no description to look up: every value read reports one.
    SetError(function, api, code, code == 0 ? std::wstring() : SystemDescription(code));
}

void CBaseObject::SetError(const std::wstring& function, const std::wstring& api, DWORD code,
                           const std::wstring& description) {
    if (code != 0) {
        ErrorWin32API = api;
        ErrorFunction = function;
        ErrorCode = corvan::Format(L"%u", static_cast<unsigned>(code));
        ErrorDescription = description;
        LastErrorCode = code;
    }
    if (!Logger) return;
    // In a preview a failure is one foreseen, not one that happened.
    const wchar_t* foreseen = corvan::PreviewOnly() ? L"Preview: " : L"";
    if (code == 0) {
        std::wstring line;
        line.reserve(std::wcslen(foreseen) + function.size() + api.size() + 3);
        Logger->Log(std::move(line.append(foreseen).append(function).append(1, L',').append(api).append(L",0")), 64);
    }
    else
        Logger->Log(corvan::Format(L"%ls%ls,%ls,%u,%ls", foreseen, function.c_str(), api.c_str(), static_cast<unsigned>(code),
                                   ErrorDescription.c_str()),
                    16);
}

void CBaseObject::TakeError(const CBaseObject& other) {
    ErrorCode = other.ErrorCode;
    ErrorWin32API = other.ErrorWin32API;
    ErrorFunction = other.ErrorFunction;
    ErrorDescription = other.ErrorDescription;
    LastErrorCode = other.LastErrorCode;
}

void CBaseObject::BeginLeafSection(CObjectStore& store, const std::wstring& className) {
    // Copied first: NewSection moves the register on once a section exists.
    // The copy keeps its room between calls, as a store of a million leaves
    // makes this copy a million times.
    thread_local std::wstring parent;
    parent = store.GetParentSection();
    store.NewSection(L"class", className, 0);
    store.AddToSection(L"parent", parent);
}

std::wstring CBaseObject::BeginCompositeSection(CObjectStore& store, const std::wstring& className) {
    store.NewSection(L"class", className, 0);
    store.AddToSection(L"parent", store.GetParentSection());
    return store.GetCurrentSection();
}

void CBaseObject::SaveChildSection(CObjectStore& store, const std::wstring& ownSection, CBaseObject& child) {
    store.SetParentSection(ownSection);
    child.SaveProperties(store);
    store.SetCurrentSection(ownSection);
}

int CBaseObject::LoadSectionEntries(
    CObjectStore& store, const std::function<void(const std::wstring& key, const std::wstring& value)>& onEntry) {
    const std::wstring section = store.CurrentEntrySection();
    while (store.Next()) {
        if (!corvan::EqualsNoCase(store.CurrentEntrySection(), section)) {
            store.Previous();
            break;
        }
        if (onEntry) onEntry(store.CurrentKey(), store.CurrentValue());
        CBaseObject::LoadProperty(store);
    }
    return 1;
}
