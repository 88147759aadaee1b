// One printer port as the spooler lists it. A port of a standard TCP/IP
// monitor carries its settings in the monitor's registry key, read on backup
// as a registry tree and written back on restore.
#pragma once

#include <memory>
#include <string>

#include "core/base_object.h"

class CCompositeRegKey;

class CPort : public CBaseObject {
public:
    static constexpr wchar_t kClassName[] = L"CPort";

    CPort();
    explicit CPort(const std::wstring& serverName);
    explicit CPort(const PORT_INFO_2W& info);
    ~CPort() override;
    CPort(const CPort&) = delete;
    CPort& operator=(const CPort&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    // Also the machine of the port's monitor key.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Writes the port's settings to the machine named by ServerName; the
    // caller has made sure the machine lacks the port. Nonzero on success.
    virtual int Add();

    void SetRestoreByName(const std::wstring& name, DWORD flag);
    void SetRestoreByType(DWORD type, DWORD flag);

    // Reads the monitor key of a port whose description names a standard
    // TCP/IP monitor into the registry data. Nonzero when it was read or the
    // port has none; on failure the port carries the error.
    int ReadRegistryData();
    CCompositeRegKey* GetRegistryData() const { return registryData_.get(); }
    void SetRegistryData(std::unique_ptr<CCompositeRegKey> data);

    // Marks a port the target already has as done and names, in Warning,
    // the settings in which the target's differs from this one; true when
    // any does.
    bool LeaveExisting(const CPort& existing);

    // The monitor key (below HKEY_LOCAL_MACHINE) under which ports of this
    // description keep their settings, or empty.
    static std::wstring MonitorPortsKey(const std::wstring& description);

    // Where Add keeps a copy of the monitor key it wrote, as
    // "<RegistryFolder>\<name>_Port.bkp"; none when empty. Not saved.
    std::wstring RegistryFolder;

    std::wstring PortName;
    std::wstring MonitorName;
    std::wstring Description;
    DWORD PortType = 0;
    DWORD Restore = 1;

private:
    int AddLocalPort(std::wstring& errorText, DWORD& errorCode);
    int SaveRegistryCopy(std::wstring& errorText, DWORD& errorCode);

    std::unique_ptr<CCompositeRegKey> registryData_;
};
