// One printer driver installed on a print server for "Windows NT x86".
#pragma once

#include <string>

#include "core/base_object.h"

class CDriver : public CBaseObject {
public:
    static constexpr wchar_t kClassName[] = L"CDriver";

    CDriver();
    explicit CDriver(const std::wstring& serverName);
    explicit CDriver(const DRIVER_INFO_3W& info);
    ~CDriver() override;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;

    // Installs the driver from the stored paths (no files are copied).
    virtual int Add();

    std::wstring DriverName;
    std::wstring Environment;
    std::wstring DriverPath;
    std::wstring DataFile;
    std::wstring ConfigFile;
    DWORD Version = 0;
    std::wstring HelpFile;
    // Only the first of the driver's dependent files.
    std::wstring DependentFiles;
    std::wstring MonitorName;
    std::wstring DefaultDataType;
    DWORD Restore = 1;
};
