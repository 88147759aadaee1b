#include "printing/device_mode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/object_store.h"
#include "core/store_value.h"
#include "platform/text.h"

using corvan::Format;

namespace {

enum class Form { Text, Word, Short, Dword };

struct Member {
    const wchar_t* key;
    Form form;
    size_t offset;  // in DEVMODEW
    size_t size;
};

#define DM_MEMBER(key, form, member) {key, Form::form, offsetof(DEVMODEW, member), sizeof(DEVMODEW::member)}

// The kept members in the order of their store keys.
const Member kMembers[] = {
    DM_MEMBER(L"DeviceName", Text, dmDeviceName),   DM_MEMBER(L"SpecVersion", Word, dmSpecVersion),
    DM_MEMBER(L"DriverVersion", Word, dmDriverVersion), DM_MEMBER(L"Size", Word, dmSize),
    DM_MEMBER(L"DriverExtra", Word, dmDriverExtra), DM_MEMBER(L"Fields", Dword, dmFields),
    DM_MEMBER(L"Orientation", Short, dmOrientation), DM_MEMBER(L"PaperSize", Short, dmPaperSize),
    DM_MEMBER(L"PaperLength", Short, dmPaperLength), DM_MEMBER(L"PaperWidth", Short, dmPaperWidth),
    DM_MEMBER(L"Scale", Short, dmScale),             DM_MEMBER(L"Copies", Short, dmCopies),
    DM_MEMBER(L"DefaultSource", Short, dmDefaultSource), DM_MEMBER(L"PrintQuality", Short, dmPrintQuality),
    DM_MEMBER(L"Color", Short, dmColor),             DM_MEMBER(L"Duplex", Short, dmDuplex),
    DM_MEMBER(L"YResolution", Short, dmYResolution), DM_MEMBER(L"TTOption", Short, dmTTOption),
    DM_MEMBER(L"Collate", Short, dmCollate),         DM_MEMBER(L"FormName", Text, dmFormName),
    DM_MEMBER(L"LogPixels", Word, dmLogPixels),      DM_MEMBER(L"BitsPerPel", Dword, dmBitsPerPel),
    DM_MEMBER(L"PelsWidth", Dword, dmPelsWidth),     DM_MEMBER(L"PelsHeight", Dword, dmPelsHeight),
    DM_MEMBER(L"DisplayFlags", Dword, dmDisplayFlags), DM_MEMBER(L"DisplayFrequency", Dword, dmDisplayFrequency),
    DM_MEMBER(L"ICMMethod", Dword, dmICMMethod),     DM_MEMBER(L"ICMIntent", Dword, dmICMIntent),
    DM_MEMBER(L"MediaType", Dword, dmMediaType),     DM_MEMBER(L"DitherType", Dword, dmDitherType),
    DM_MEMBER(L"PanningWidth", Dword, dmPanningWidth), DM_MEMBER(L"PanningHeight", Dword, dmPanningHeight),
};

#undef DM_MEMBER

constexpr size_t kMemberCount = sizeof kMembers / sizeof kMembers[0];

// The fields of a device mode in the order of kMembers.
std::array<void*, kMemberCount> FieldsOf(CDeviceMode& d) {
    return {&d.DeviceName,   &d.SpecVersion, &d.DriverVersion, &d.Size,          &d.DriverExtra, &d.Fields,
            &d.Orientation,  &d.PaperSize,   &d.PaperLength,   &d.PaperWidth,    &d.Scale,       &d.Copies,
            &d.DefaultSource, &d.PrintQuality, &d.Color,       &d.Duplex,        &d.YResolution, &d.TTOption,
            &d.Collate,      &d.FormName,    &d.LogPixels,     &d.BitsPerPel,    &d.PelsWidth,   &d.PelsHeight,
            &d.DisplayFlags, &d.DisplayFrequency, &d.ICMMethod, &d.ICMIntent,    &d.MediaType,   &d.DitherType,
            &d.PanningWidth, &d.PanningHeight};
}

// A public part must end where a member of DEVMODEW ends, and hold at least dmFields.
bool EndsOnAMember(size_t size) {
    if (size < offsetof(DEVMODEW, dmFields) + sizeof(DWORD) || size > sizeof(DEVMODEW)) return false;
    for (const auto& m : kMembers)
        if (m.offset + m.size == size) return true;
    return size == offsetof(DEVMODEW, dmReserved1) + sizeof(DWORD) ||
           size == offsetof(DEVMODEW, dmReserved2) + sizeof(DWORD);
}

// A name member read up to its terminator, never past the member.
std::wstring ReadName(const BYTE* at, size_t bytes) {
    std::wstring text(bytes / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), at, text.size() * sizeof(WCHAR));
    text.resize(std::min(text.size(), text.find(L'\0')));
    return text;
}

}  // namespace

CDeviceMode::CDeviceMode() = default;

CDeviceMode::~CDeviceMode() = default;

int CDeviceMode::Enum(const DEVMODEW* mode) {
    const std::wstring function = L"CDeviceMode::Enum()";
    if (mode) {
        const auto* base = reinterpret_cast<const BYTE*>(mode);
        const size_t size = mode->dmSize;
        auto fields = FieldsOf(*this);
        for (size_t i = 0; i < kMemberCount; ++i) {
            const Member& m = kMembers[i];
            if (m.offset + m.size > size) continue;
            if (m.form == Form::Text)
                *static_cast<std::wstring*>(fields[i]) = ReadName(base + m.offset, m.size);
            else
                std::memcpy(fields[i], base + m.offset, m.size);
        }
        DriverData.assign(base + size, base + size + mode->dmDriverExtra);
    }
    SetError(function, function, 0);
    return 1;
}

int CDeviceMode::Get(DEVMODEW*& mode) {
    const std::wstring function = L"CDeviceMode::Get()";
    mode = nullptr;
    block_.clear();
    if (EndsOnAMember(Size)) {
        block_.assign(Size + DriverData.size(), 0);
        auto fields = FieldsOf(*this);
        for (size_t i = 0; i < kMemberCount; ++i) {
            const Member& m = kMembers[i];
            if (m.offset + m.size > Size) continue;
            if (m.form == Form::Text) {
                // Cut to fit with its terminator.
                const auto& text = *static_cast<const std::wstring*>(fields[i]);
                size_t count = std::min(text.size(), m.size / sizeof(WCHAR) - 1);
                std::memcpy(block_.data() + m.offset, text.data(), count * sizeof(WCHAR));
            } else {
                std::memcpy(block_.data() + m.offset, fields[i], m.size);
            }
        }
        mode = reinterpret_cast<DEVMODEW*>(block_.data());
        mode->dmSize = Size;
        // The private bytes that are kept, not a length that was saved without them.
        mode->dmDriverExtra = static_cast<WORD>(DriverData.size());
        std::copy(DriverData.begin(), DriverData.end(), block_.begin() + Size);
    }
    SetError(function, function, 0);
    return 1;
}

int CDeviceMode::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CDeviceMode");
    auto fields = FieldsOf(*this);
    CStoreValue v;
    for (size_t i = 0; i < kMemberCount; ++i) {
        switch (kMembers[i].form) {
        case Form::Text:
            v.SetString(*static_cast<std::wstring*>(fields[i]));
            break;
        case Form::Word:
            v.SetWord(*static_cast<WORD*>(fields[i]));
            break;
        case Form::Short:
            v.SetShort(*static_cast<SHORT*>(fields[i]));
            break;
        case Form::Dword:
            v.SetDword(*static_cast<DWORD*>(fields[i]));
            break;
        }
        store.AddToSection(kMembers[i].key, v.GetEncoded());
    }
    v.SetBinary(DriverData);
    store.AddToSection(L"DriverData", v.GetEncoded());
    return 1;
}

int CDeviceMode::LoadProperty(CObjectStore& store) {
    auto fields = FieldsOf(*this);
    return LoadSectionEntries(store, [&](const std::wstring& key, const std::wstring& value) {
        if (key == L"DriverData") {
            size_t digits = value.size() > 4 ? value.size() - 4 : 0;
            CStoreValue::GetBinary(value, DriverData, (digits + 1) / 2);
            return;
        }
        for (size_t i = 0; i < kMemberCount; ++i) {
            if (key != kMembers[i].key) continue;
            switch (kMembers[i].form) {
            case Form::Text:
                CStoreValue::GetString(value, *static_cast<std::wstring*>(fields[i]));
                break;
            case Form::Word:
                CStoreValue::GetWord(value, *static_cast<WORD*>(fields[i]));
                break;
            case Form::Short:
                CStoreValue::GetShort(value, *static_cast<SHORT*>(fields[i]));
                break;
            case Form::Dword:
                CStoreValue::GetDword(value, *static_cast<DWORD*>(fields[i]));
                break;
            }
            return;
        }
    });
}

void CDeviceMode::Dump() {
    corvan::ConsoleOut(Format(L"\ndevicename: %ls, formname: \"%ls\" \n", DeviceName.c_str(), FormName.c_str()));
}
