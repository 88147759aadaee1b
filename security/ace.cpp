#include "security/ace.h"

#include <cstring>
#include <new>

#include "core/object_store.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "platform/text.h"

namespace {

constexpr DWORD kAccountTextCapacity = 60;
// Header and mask come before the SID in every entry of the common layout.
constexpr DWORD kSidOffset = sizeof(ACE_HEADER) + sizeof(DWORD);
// Revision, count and authority: the smallest SID that can be measured.
constexpr DWORD kSidFixedPart = 8;

}  // namespace

CAce::CAce() = default;

CAce::CAce(const void* entry, int index) : Index(index) {
    if (!entry) return;
    const BYTE* bytes = static_cast<const BYTE*>(entry);
    ACE_HEADER header;
    std::memcpy(&header, bytes, sizeof header);
    AceType = header.AceType;
    AceFlags = header.AceFlags;
    AceSize = header.AceSize;
    if (AceSize < kSidOffset) return;
    std::memcpy(&AccessMask, bytes + sizeof(ACE_HEADER), sizeof AccessMask);

    // The SID must lie inside the entry before it is measured or copied.
    if (AceSize < kSidOffset + kSidFixedPart) return;
    PSID source = const_cast<BYTE*>(bytes + kSidOffset);
    if (!IsValidSid(source)) return;
    DWORD length = GetLengthSid(source);
    if (length == 0 || kSidOffset + length > AceSize) return;
    std::vector<BYTE> copy(length);
    if (!CopySid(length, copy.data(), source)) return;
    Sid = std::move(copy);
    EnumSID(Sid.data());
}

CAce::~CAce() = default;

std::wstring CAce::SidText(PSID sid) {
    if (!sid || !IsValidSid(sid)) return L"";
    std::wstring text = corvan::Format(L"S-%d-", 1);
    const BYTE* authority = GetSidIdentifierAuthority(sid)->Value;
    static const BYTE known[][6] = {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 2},
                                    {0, 0, 0, 0, 0, 3}, {0, 0, 0, 0, 0, 5}};
    static const wchar_t* const knownText[] = {L"0", L"1", L"2", L"3", L"5"};
    const wchar_t* authorityText = L"UnknownAuthority!";
    for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i) {
        if (std::memcmp(authority, known[i], 6) == 0) {
            authorityText = knownText[i];
            break;
        }
    }
    text += authorityText;
    DWORD count = *GetSidSubAuthorityCount(sid);
    for (DWORD i = 0; i < count; ++i)
        text += corvan::Format(L"-%lu", static_cast<unsigned long>(*GetSidSubAuthority(sid, i)));
    return text;
}

int CAce::EnumSID(PSID sid) {
    const std::wstring function = L"CAce::EnumSID()";
    if (sid && IsValidSid(sid)) {
        std::wstring text = SidText(sid);
        WCHAR name[kAccountTextCapacity];
        WCHAR domain[kAccountTextCapacity];
        DWORD nameCapacity = kAccountTextCapacity;
        DWORD domainCapacity = kAccountTextCapacity;
        SID_NAME_USE use;
        if (LookupAccountSidW(nullptr, sid, name, &nameCapacity, domain, &domainCapacity, &use)) {
            Domain = domain;
            Trustee = name;
            SIDName = text;
        }
    }
    // An account that cannot be looked up is a result, not a failure.
    SetError(function, function, 0);
    return 1;
}

std::wstring CAce::AccountName() const { return Domain.empty() ? Trustee : Domain + L"\\" + Trustee; }

int CAce::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    return CBaseObject::ReplaceServerName(oldText, newText) + ReplaceServerWord(Domain, oldText, newText);
}

int CAce::Get(PSID& sid, DWORD& mask, int& index) {
    index = Index;
    mask = AccessMask;
    if (!Sid.empty()) {
        sid = Sid.data();
        return 1;
    }

    const std::wstring function = L"CAce::Get()";
    LPCWSTR server = ServerName.empty() ? nullptr : ServerName.c_str();
    // An account of the machine asked is asked for with the machine's name,
    // so that a domain account of the same name never stands in for it.
    const bool ownAccount =
        !Domain.empty() && !ServerName.empty() && corvan::EqualsNoCase(Domain, BareServerName(ServerName));
    const std::wstring account = ownAccount ? AccountName() : Trustee;
    auto fail = [&](const std::wstring& call, DWORD code) {
        std::wstring text = SystemDescription(code);
        text.erase(text.find_last_not_of(L' ') + 1);
        SetError(function, call, code,
                 corvan::Format(L"%ls Account: %ls", text.c_str(), AccountName().c_str()));
        return 0;
    };
    DWORD sidSize = 0;
    DWORD domainCapacity = 0;
    SID_NAME_USE use;
    if (LookupAccountNameW(server, account.c_str(), nullptr, &sidSize, nullptr, &domainCapacity, &use) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        DWORD code = GetLastError();
        // Success without a buffer would leave no SID to pass back.
        if (code == ERROR_SUCCESS) code = ERROR_NONE_MAPPED;
        return fail(corvan::Format(L"LookupAccountName(%ls) failed.  Error %d ", account.c_str(),
                                   static_cast<int>(code)),
                    code);
    }

    std::vector<BYTE> buffer;
    std::vector<WCHAR> domain;
    try {
        buffer.resize(sidSize);
        domain.resize(domainCapacity ? domainCapacity : 1);
    } catch (const std::bad_alloc&) {
        SetError(function, corvan::Format(L"malloc(%d)", static_cast<int>(sidSize)), ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    domainCapacity = static_cast<DWORD>(domain.size());
    if (!LookupAccountNameW(server, account.c_str(), buffer.data(), &sidSize, domain.data(), &domainCapacity,
                            &use))
        return fail(corvan::Format(L"LookupAccountName(%ls)", account.c_str()), GetLastError());
    Sid = std::move(buffer);
    sid = Sid.data();
    SetError(function, function, 0);
    return 1;
}

int CAce::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CAce");
    store.AddStringToSection(L"SIDName", SIDName);
    store.AddStringToSection(L"Domain", Domain);
    store.AddStringToSection(L"Trustee", Trustee);
    store.AddDwordToSection(L"AccessMask", AccessMask);
    store.AddDwordToSection(L"Index", static_cast<DWORD>(Index));
    // Without these a denied or audit entry would come back as an allowed one.
    store.AddDwordToSection(L"AceType", AceType);
    store.AddDwordToSection(L"AceFlags", AceFlags);
    return CBaseObject::SaveProperties(store);
}

int CAce::LoadProperty(CObjectStore& store) {
    // The saved texts name the account; its SID is found again by Get.
    Sid.clear();
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        DWORD number = 0;
        if (key == L"AccessMask") {
            CStoreValue::GetDword(value, AccessMask);
        } else if (key == L"Index") {
            CStoreValue::GetDword(value, number);
            Index = static_cast<int>(number);
        } else if (key == L"AceType") {
            CStoreValue::GetDword(value, number);
            AceType = static_cast<BYTE>(number);
        } else if (key == L"AceFlags") {
            CStoreValue::GetDword(value, number);
            AceFlags = static_cast<BYTE>(number);
        } else if (key == L"SIDName") {
            CStoreValue::GetString(value, SIDName);
        } else if (key == L"Trustee") {
            CStoreValue::GetString(value, Trustee);
        } else if (key == L"Domain") {
            CStoreValue::GetString(value, Domain);
        }
    });
}

void CAce::Dump() {
    corvan::ConsoleOut(corvan::Format(L"\nACE %d mask == 0x%.8x, ", Index, static_cast<unsigned>(AccessMask)) +
                       corvan::Format(L"SID == %ls, Name == %ls, Domain == %ls ", SIDName.c_str(), Trustee.c_str(),
                                      Domain.c_str()));
}
