// One Windows service on the machine named by ServerName: started, stopped
// or given a start type through that machine's service control manager.
#pragma once

#include <string>

#include "core/base_object.h"

class CWin32Service : public CBaseObject {
public:
    explicit CWin32Service(const std::wstring& serverName = L"", const std::wstring& serviceName = L"");

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;

    // Each returns 0 on success, else the error number (1460 when a pending
    // state outlasts the time limit).
    DWORD Start();
    DWORD Stop();
    // 2 automatic, 3 on demand, 4 disabled.
    DWORD Startup(DWORD startType);
    // What a preview asks instead: the service opened with the access that
    // Start, Stop and Startup would take (those asked for), and its state
    // into CurrentState. 0 or the error, recorded.
    DWORD Check(bool start, bool stop, bool configure);

    // Longest wait for a pending state, from the start of the operation.
    static constexpr DWORD kPendingLimitMs = 30000;
    // Further wait after a stop, so the service has let go of its resources.
    static constexpr DWORD kAfterStopMs = 5000;

    std::wstring ServiceName;
    std::wstring BinaryPathName;
    DWORD ServiceType = 0;
    DWORD StartType = 0;
    DWORD CurrentState = 0;
    int Restore = 1;
};
