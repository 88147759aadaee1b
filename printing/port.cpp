#include "printing/port.h"

#include <cstring>
#include <map>

#include "core/file_name.h"
#include "core/object_store.h"
#include "core/preview.h"
#include "core/store_value.h"
#include "diagnostics/status_line.h"
#include "platform/text.h"
#include "printing/print_calls.h"
#include "registry/composite_reg_key.h"
#include "registry/reg_value.h"

using corvan::Format;

namespace {

const wchar_t kLocalPortsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const wchar_t kLocalPortMonitor[] = L"Local Port";

// Type and bytes of a registry value object, as the registry holds them.
bool ValueData(const CRegObj& object, DWORD& type, std::vector<BYTE>& bytes) {
    auto textBytes = [&](const std::wstring& text) {
        const auto* begin = reinterpret_cast<const BYTE*>(text.c_str());
        bytes.assign(begin, begin + (text.size() + 1) * sizeof(WCHAR));
    };
    if (const auto* value = dynamic_cast<const CRegValueDword*>(&object)) {
        type = REG_DWORD;
        bytes.resize(sizeof(DWORD));
        std::memcpy(bytes.data(), &value->Value, sizeof(DWORD));
    } else if (const auto* value = dynamic_cast<const CRegValueExpandSz*>(&object)) {
        type = REG_EXPAND_SZ;
        textBytes(value->Value);
    } else if (const auto* value = dynamic_cast<const CRegValueString*>(&object)) {
        type = REG_SZ;
        textBytes(value->Value);
    } else if (const auto* value = dynamic_cast<const CRegValueMultiSz*>(&object)) {
        type = REG_MULTI_SZ;
        std::wstring joined;
        for (const auto& item : value->saValue) joined += item + L'\0';
        textBytes(joined);
    } else if (const auto* value = dynamic_cast<const CRegValueBinary*>(&object)) {
        type = REG_BINARY;
        bytes = value->Value;
    } else {
        return false;
    }
    return true;
}

// The values directly in a key, by upper-cased name.
std::map<std::wstring, std::pair<std::wstring, std::pair<DWORD, std::vector<BYTE>>>> ValuesOf(
    const CCompositeRegKey* key) {
    std::map<std::wstring, std::pair<std::wstring, std::pair<DWORD, std::vector<BYTE>>>> values;
    for (int i = 0; key && i < key->GetCount(); ++i) {
        const auto* value = dynamic_cast<const CRegValue*>(key->GetAt(i));
        DWORD type = 0;
        std::vector<BYTE> bytes;
        if (value && ValueData(*value, type, bytes))
            values[corvan::ToUpper(value->ValueName)] = {value->ValueName, {type, std::move(bytes)}};
    }
    return values;
}

}  // namespace

CPort::CPort() = default;

CPort::CPort(const std::wstring& serverName) : CBaseObject(serverName) {}

CPort::CPort(const PORT_INFO_2W& info)
    : PortName(SpoolerText(info.pPortName)),
      MonitorName(SpoolerText(info.pMonitorName)),
      Description(SpoolerText(info.pDescription)),
      PortType(info.fPortType) {}

CPort::~CPort() = default;

void CPort::SetRegistryData(std::unique_ptr<CCompositeRegKey> data) { registryData_ = std::move(data); }

std::wstring CPort::MonitorPortsKey(const std::wstring& description) {
    for (const wchar_t* monitor : {L"HP Standard TCP/IP Port", L"Standard TCP/IP Port"})
        if (corvan::EqualsNoCase(description, monitor))
            return Format(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\%ls\\Ports", monitor);
    return L"";
}

int CPort::ReadRegistryData() {
    const std::wstring parent = MonitorPortsKey(Description);
    if (parent.empty()) return 1;
    auto data = std::make_unique<CCompositeRegKey>(ServerName);
    HKEY handle = nullptr;
    int read = data->Enum(parent, PortName, handle);
    CRegKeyHandle guard(handle);
    if (!read) {
        // Saved without its settings the port could not be made again.
        SetError(L"CPort::ReadRegistryData()", data->ErrorWin32API, data->LastErrorCode ? data->LastErrorCode
                                                                                         : ERROR_CANTREAD);
        return 0;
    }
    registryData_ = std::move(data);
    return 1;
}

bool CPort::LeaveExisting(const CPort& existing) {
    std::wstring differing;
    auto note = [&](const std::wstring& name) { differing += (differing.empty() ? L"" : L", ") + name; };
    if (!corvan::EqualsNoCase(MonitorName, existing.MonitorName)) note(L"MonitorName");
    auto ours = ValuesOf(registryData_.get());
    auto theirs = ValuesOf(existing.registryData_.get());
    for (const auto& [upper, value] : ours) {
        auto it = theirs.find(upper);
        if (it == theirs.end() || it->second.second != value.second) note(value.first);
    }
    for (const auto& [upper, value] : theirs)
        if (!ours.count(upper)) note(value.first);
    Warning = differing.empty()
                  ? Format(L"Port %ls exists on %ls and is left as it is.", PortName.c_str(), ServerName.c_str())
                  : Format(L"Port %ls exists on %ls and is left as it is; it differs from the backup in: %ls.",
                           PortName.c_str(), ServerName.c_str(), differing.c_str());
    ReportFlag = 1;
    Task = L"Restore Port";
    // A preview reports it like every port it looked at.
    if (!corvan::PreviewOnly()) Restore = 0;
    SetError(L"CPort::Add()", L"CPort::Add()", 0);
    return !differing.empty();
}

int CPort::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CBaseObject::ReplaceServerName(oldText, newText);
    if (registryData_) count += registryData_->ReplaceServerName(oldText, newText);
    return count;
}

int CPort::Add() {
    const std::wstring function = L"CPort::Add()";
    if (!Restore) return 1;
    int result = 1;
    std::wstring errorText;
    DWORD errorCode = 0;
    if (!registryData_ && !corvan::EqualsNoCase(MonitorName, kLocalPortMonitor)) {
        // Without the monitor's settings nothing could make this port.
        result = 0;
        errorText = Format(L"AddPort(%ls, %ls)", PortName.c_str(), MonitorName.c_str());
        errorCode = ERROR_NOT_SUPPORTED;
    } else if (corvan::PreviewOnly()) {
        Warning = Format(L"Port %ls is added to %ls.", PortName.c_str(), ServerName.c_str());
    } else if (registryData_) {
        HKEY handle = nullptr;
        result = registryData_->Apply(handle);
        if (!result) {
            errorCode = registryData_->LastErrorCode ? registryData_->LastErrorCode : ERROR_CANTWRITE;
        } else if (!RegistryFolder.empty()) {
            result = SaveRegistryCopy(errorText, errorCode);
        }
    } else {
        result = AddLocalPort(errorText, errorCode);
    }

    // After a preview the port is still to be restored.
    if (!corvan::PreviewOnly()) Restore = result ? 0 : 1;
    ReportFlag = 1;
    Task = L"Restore Port";
    if (result)
        SetError(function, function, 0);
    else
        SetError(function, errorText, errorCode);
    return result;
}

int CPort::AddLocalPort(std::wstring& errorText, DWORD& errorCode) {
    CRegValueString value(ServerName);
    value.ParentKeyName = kLocalPortsKey;
    value.ValueName = PortName;
    HKEY handle = nullptr;
    int written = value.Apply(handle);
    CRegKeyHandle guard(handle);
    if (!written) {
        errorText = value.ErrorWin32API;
        errorCode = value.LastErrorCode ? value.LastErrorCode : ERROR_CANTWRITE;
    }
    return written;
}

int CPort::SaveRegistryCopy(std::wstring& errorText, DWORD& errorCode) {
    CreateDirectoryW(RegistryFolder.c_str(), nullptr);
    // A second port of the same file name in this run gets a file of its own.
    std::wstring stem = RegistryFolder + L"\\" + FileNameOf(PortName) + L"_Port";
    std::wstring path = stem + L".bkp";
    for (int n = 2; GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        path = Format(L"%ls_%d.bkp", stem.c_str(), n);
    CObjectStore store;
    registryData_->SaveProperties(store);
    if (store.SaveToFile(path)) return 1;
    errorText = Format(L"CObjectStore::SaveToFile(%ls)", path.c_str());
    errorCode = store.LastErrorCode ? store.LastErrorCode : ERROR_CANTWRITE;
    return 0;
}

void CPort::SetRestoreByName(const std::wstring& name, DWORD flag) {
    if (corvan::EqualsNoCase(PortName, name)) Restore = flag;
}

void CPort::SetRestoreByType(DWORD type, DWORD flag) {
    if (PortType == type) Restore = flag;
}

int CPort::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, kClassName);
    const std::wstring own = store.GetCurrentSection();
    store.AddStringToSection(L"PortName", PortName);
    store.AddStringToSection(L"MonitorName", MonitorName);
    store.AddStringToSection(L"Description", Description);
    store.AddDwordToSection(L"PortType", PortType);
    store.AddDwordToSection(L"Restore", Restore);
    CBaseObject::SaveProperties(store);
    if (registryData_) SaveChildSection(store, own, *registryData_);
    return 1;
}

int CPort::LoadProperty(CObjectStore& store) {
    LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"PortName")
            CStoreValue::GetString(value, PortName);
        else if (key == L"MonitorName")
            CStoreValue::GetString(value, MonitorName);
        else if (key == L"Description")
            CStoreValue::GetString(value, Description);
        else if (key == L"PortType")
            CStoreValue::GetDword(value, PortType);
        else if (key == L"Restore")
            CStoreValue::GetDword(value, Restore);
    });
    if (store.Next()) {
        if (corvan::EqualsNoCase(store.CurrentKey(), L"class") && store.CurrentValue() == L"CCompositeRegKey") {
            auto data = std::make_unique<CCompositeRegKey>();
            data->LoadProperty(store);
            registryData_ = std::move(data);
        } else {
            store.Previous();
        }
    }
    return 1;
}

void CPort::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag || !Restore) return;
    ReportStatusLine(reportStore, L"Port", PortName, L"Port", Format(L"Monitor=%ls ", MonitorName.c_str()), Task,
                     LastErrorCode, PreviewState(*this));
}

void CPort::Dump() {
    if (!Restore) return;
    corvan::ConsoleOut(Format(L"\nport: %ls - %ls  description: \"%ls\", type=%.8x ", PortName.c_str(),
                              MonitorName.c_str(), Description.c_str(), static_cast<unsigned>(PortType)));
}
