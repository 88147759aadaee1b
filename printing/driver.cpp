#include "printing/driver.h"

#include "core/object_store.h"
#include "core/store_value.h"
#include "diagnostics/status_line.h"
#include "platform/text.h"
#include "printing/print_calls.h"

using corvan::Format;

CDriver::CDriver() = default;

CDriver::CDriver(const std::wstring& serverName) : CBaseObject(serverName) {}

CDriver::CDriver(const DRIVER_INFO_3W& info)
    : DriverName(SpoolerText(info.pName)),
      Environment(SpoolerText(info.pEnvironment)),
      DriverPath(SpoolerText(info.pDriverPath)),
      DataFile(SpoolerText(info.pDataFile)),
      ConfigFile(SpoolerText(info.pConfigFile)),
      Version(info.cVersion),
      HelpFile(SpoolerText(info.pHelpFile)),
      // The list ends at its first terminator: only the first file is kept.
      DependentFiles(SpoolerText(info.pDependentFiles)),
      MonitorName(SpoolerText(info.pMonitorName)),
      DefaultDataType(SpoolerText(info.pDefaultDataType)) {}

CDriver::~CDriver() = default;

int CDriver::Add() {
    const std::wstring function = Format(L"CDriver::Add(%ls)", DriverName.c_str());
    if (!Restore) return 1;
    std::vector<WCHAR> server, name, environment, path, data, config, help, datatype;
    // The one dependent file as a list: the file, its NUL, the list's NUL.
    std::vector<WCHAR> dependent = WideBuffer(DependentFiles);
    dependent.push_back(L'\0');
    DRIVER_INFO_3W info{};
    info.cVersion = Version;
    info.pName = TextOrNull(DriverName, name);
    info.pEnvironment = TextOrNull(Environment, environment);
    info.pDriverPath = TextOrNull(DriverPath, path);
    info.pDataFile = TextOrNull(DataFile, data);
    info.pConfigFile = TextOrNull(ConfigFile, config);
    info.pHelpFile = TextOrNull(HelpFile, help);
    info.pDependentFiles = DependentFiles.empty() ? nullptr : dependent.data();
    info.pMonitorName = nullptr;
    info.pDefaultDataType = TextOrNull(DefaultDataType, datatype);

    int result = AddPrinterDriverW(SpoolerServer(*this, server), 3, reinterpret_cast<LPBYTE>(&info)) ? 1 : 0;
    ReportFlag = 1;
    Task = L"Restore Driver";
    Restore = result ? 0 : 1;
    if (result)
        SetError(function, function, 0);
    else
        SetError(function, Format(L"AddPrinterDriver(%ls)", DriverName.c_str()), LastErrorOf());
    return result;
}

int CDriver::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, kClassName);
    store.AddStringToSection(L"DriverName", DriverName);
    store.AddStringToSection(L"Environment", Environment);
    store.AddStringToSection(L"DriverPath", DriverPath);
    store.AddStringToSection(L"DataFile", DataFile);
    store.AddStringToSection(L"ConfigFile", ConfigFile);
    store.AddStringToSection(L"HelpFile", HelpFile);
    store.AddStringToSection(L"DependentFiles", DependentFiles);
    store.AddStringToSection(L"MonitorName", MonitorName);
    store.AddStringToSection(L"DefaultDataType", DefaultDataType);
    store.AddDwordToSection(L"Version", Version);
    store.AddDwordToSection(L"Restore", Restore);
    return CBaseObject::SaveProperties(store);
}

int CDriver::LoadProperty(CObjectStore& store) {
    struct TextKey {
        const wchar_t* key;
        std::wstring* field;
    };
    const TextKey texts[] = {{L"DriverName", &DriverName},       {L"Environment", &Environment},
                             {L"DriverPath", &DriverPath},       {L"DataFile", &DataFile},
                             {L"ConfigFile", &ConfigFile},       {L"HelpFile", &HelpFile},
                             {L"DependentFiles", &DependentFiles}, {L"MonitorName", &MonitorName},
                             {L"DefaultDataType", &DefaultDataType}};
    return LoadSectionEntries(store, [&](const std::wstring& key, const std::wstring& value) {
        for (const auto& t : texts)
            if (key == t.key) return (void)CStoreValue::GetString(value, *t.field);
        if (key == L"Version") CStoreValue::GetDword(value, Version);
        if (key == L"Restore") CStoreValue::GetDword(value, Restore);
    });
}

void CDriver::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag || !Restore) return;
    ReportStatusLine(reportStore, L"Driver", DriverName, L"Driver", Format(L"Environment=%ls ", Environment.c_str()),
                     Task, LastErrorCode, PreviewState(*this));
}

void CDriver::Dump() {
    if (!Restore) return;
    corvan::ConsoleOut(Format(L"\ndriver: %ls - %ls  Path: \"%ls\", version=%.8x ", DriverName.c_str(),
                              Environment.c_str(), DriverPath.c_str(), static_cast<unsigned>(Version)));
}
