// One printer queue of a print server with its device settings, its
// permissions and its driver's registry data.
#pragma once

#include <memory>
#include <string>

#include "core/base_object.h"
#include "printing/device_mode.h"
#include "security/security_descriptor.h"

class CCompositeRegKey;

class CPrinter : public CBaseObject {
public:
    static constexpr wchar_t kClassName[] = L"CPrinter";
    // The attributes AddPrinterW and SetPrinterW take; the others belong to
    // the spooler (local, network, published, ...).
    static constexpr DWORD kSettableAttributes =
        PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_HIDDEN |
        PRINTER_ATTRIBUTE_ENABLE_DEVQ | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST |
        PRINTER_ATTRIBUTE_WORK_OFFLINE | PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;
    static constexpr DWORD kUnavailableWaitMs = 120000;
    static constexpr int kUnavailableWaits = 2;
    static const wchar_t kDriverMapFileName[];  // "SupportedDrivers.txt"

    CPrinter();
    explicit CPrinter(const std::wstring& serverName);
    // The record alone: no driver data is read.
    explicit CPrinter(const PRINTER_INFO_2W& info);
    ~CPrinter() override;
    CPrinter(const CPrinter&) = delete;
    CPrinter& operator=(const CPrinter&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    // Also the server part of the printer's name, its permissions and driver data.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Fills the printer from the record and reads its driver data. Nonzero
    // unless the driver data exists and cannot be read (the error is kept).
    int Enum(const PRINTER_INFO_2W& info);
    // Creates the queue on the machine named by ServerName, or updates the
    // one of that name, then writes its driver data. Nonzero on success.
    int Add();
    int Delete();
    // The name the file maps the driver to ("MIGRATION" section, names
    // compared without case; the value unquoted and trimmed). Nonzero when
    // it maps it.
    int CheckDriverInFile(const std::wstring& driverName, const std::wstring& fileName, std::wstring& newName);
    // On a target of major version 5 or later, replaces DriverName by its
    // mapping in DriverMapFile. Done once; Add calls it too.
    void ApplyDriverMapping();
    // Fills the error fields of a printer whose driver the target lacks.
    void RefuseMissingDriver();

    void SetRestoreByName(const std::wstring& text, DWORD flag);
    void SetRestoreByDriver(const std::wstring& text, DWORD flag);
    void SetRestoreByType(DWORD type, DWORD flag);

    CCompositeRegKey* GetDriverData() const { return driverData_.get(); }
    void SetDriverData(std::unique_ptr<CCompositeRegKey> data);
    // The printer's name without a leading server part.
    std::wstring ShortName() const;

    // The supported-drivers file; not saved.
    std::wstring DriverMapFile = kDriverMapFileName;

    std::wstring PrinterName;
    std::wstring ShareName;
    std::wstring PortName;
    std::wstring DriverName;
    std::wstring Comment;
    std::wstring Location;
    CDeviceMode DeviceMode;
    std::wstring SepFile;
    std::wstring PrintProcessor;
    std::wstring Datatype;
    std::wstring Parameters;
    CSecurityDescriptor SecurityDescriptor;
    DWORD Attributes = 0;
    DWORD Priority = 0;
    DWORD DefaultPriority = 0;
    DWORD StartTime = 0;
    DWORD UntilTime = 0;
    DWORD Status = 0;
    DWORD Jobs = 0;
    DWORD AveragePPM = 0;
    DWORD Restore = 1;

private:
    void CopyFrom(const PRINTER_INFO_2W& info);
    // The port list for a target of major version 5 or later.
    std::wstring PortsForTarget(DWORD major) const;
    // What a preview asks instead of adding the queue: whether the target
    // has every port of `ports` (or the preview's port step would add it),
    // and whether a queue of the name is there to be updated.
    DWORD CheckTarget(LPWSTR server, const std::wstring& ports, std::wstring& errorText, std::wstring& description);
    // AddPrinterW, or SetPrinterW on a queue of the name; 0 or the error.
    DWORD MakeQueue(LPWSTR server, PRINTER_INFO_2W& info, std::wstring& errorText);

    std::unique_ptr<CCompositeRegKey> driverData_;
    bool mappingApplied_ = false;
};
