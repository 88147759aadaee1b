#include "services/win32_service.h"

#include <algorithm>

#include "core/object_store.h"
#include "core/store_value.h"
#include "diagnostics/status_line.h"
#include "platform/text.h"

namespace {

constexpr DWORD kStartAccess = SERVICE_START | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_QUERY_STATUS;  // 28
constexpr DWORD kStopAccess = SERVICE_STOP | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_QUERY_STATUS;    // 44

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

DWORD Elapsed(DWORD begin) { return GetTickCount() - begin; }

bool PastLimit(DWORD begin) { return Elapsed(begin) > CWin32Service::kPendingLimitMs; }

// Sleeps for the service's wait hint, but never much past the time limit
// (a hint can be anything) and never for nothing, so that the clock moves
// on while a service with a hint of 0 is polled.
void WaitForHint(DWORD begin, DWORD hint) {
    DWORD elapsed = Elapsed(begin);
    DWORD toLimit = elapsed > CWin32Service::kPendingLimitMs ? 0 : CWin32Service::kPendingLimitMs - elapsed + 1;
    Sleep(std::max<DWORD>(1, std::min(hint, toLimit)));
}

}  // namespace

CWin32Service::CWin32Service(const std::wstring& serverName, const std::wstring& serviceName)
    : CBaseObject(serverName), ServiceName(serviceName) {}

DWORD CWin32Service::Start() {
    const std::wstring function = L"CWin32Service::Start()";
    const DWORD begin = GetTickCount();
    const std::wstring server = corvan::Format(L"%ls", ServerName.c_str());

    ScHandle manager(OpenSCManagerW(server.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = GetLastError();
        SetError(function, corvan::Format(L"OpenSCManager(%ls)", server.c_str()), error);
        return error;
    }
    ScHandle service(OpenServiceW(manager.Get(), ServiceName.c_str(), kStartAccess));
    if (!service) {
        DWORD error = GetLastError();
        SetError(function, corvan::Format(L"OpenService(%ls, %ls)", server.c_str(), ServiceName.c_str()), error);
        return error;
    }

    DWORD error = ERROR_SUCCESS;
    std::wstring api = L"Service started.";
    SERVICE_STATUS status{};
    if (!StartServiceW(service.Get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        error = GetLastError();
        api = corvan::Format(L"CWin32Service::Start(%ls, %ls)", server.c_str(), ServiceName.c_str());
    } else if (!QueryServiceStatus(service.Get(), &status)) {
        error = GetLastError();
        api = corvan::Format(L"QueryServiceStatus(%ls, %ls)", server.c_str(), ServiceName.c_str());
    } else {
        while (status.dwCurrentState == SERVICE_START_PENDING) {
            WaitForHint(begin, status.dwWaitHint);
            if (!QueryServiceStatus(service.Get(), &status)) {
                error = GetLastError();
                api = corvan::Format(L"QueryServiceStatus(%ls, %ls)", server.c_str(), ServiceName.c_str());
                break;
            }
            // Checked before the state: a start that ends after the limit is still late.
            if (PastLimit(begin)) {
                error = ERROR_TIMEOUT;
                api = L"WaitingForServiceToStart(ERROR_TIMEOUT)";
                break;
            }
        }
    }
    SetError(function, api, error);
    return error;
}

DWORD CWin32Service::Stop() {
    const std::wstring api = L"CWin32Service::Stop()";
    const std::wstring function = L"Stop()";
    const DWORD begin = GetTickCount();
    const std::wstring server = corvan::Format(L"%ls", ServerName.c_str());

    ScHandle manager(OpenSCManagerW(server.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = GetLastError();
        SetError(corvan::Format(L"OpenSCManager(%ls)", server.c_str()), api, error);
        return error;
    }
    ScHandle service(OpenServiceW(manager.Get(), ServiceName.c_str(), kStopAccess));
    if (!service) {
        DWORD error = GetLastError();
        SetError(corvan::Format(L"OpenService(%ls, %ls)", server.c_str(), ServiceName.c_str()), api, error);
        return error;
    }

    // Polls while the service is stop pending (or, once the stop control
    // was sent, until it is stopped); the state is checked before the limit.
    auto poll = [&](SERVICE_STATUS& status, bool untilStopped) -> DWORD {
        while (untilStopped ? status.dwCurrentState != SERVICE_STOPPED
                            : status.dwCurrentState == SERVICE_STOP_PENDING) {
            WaitForHint(begin, status.dwWaitHint);
            if (!QueryServiceStatus(service.Get(), &status)) return GetLastError();
            if (status.dwCurrentState == SERVICE_STOPPED) break;
            if (PastLimit(begin)) return ERROR_TIMEOUT;
        }
        return ERROR_SUCCESS;
    };

    DWORD error = ERROR_SUCCESS;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.Get(), &status))
        error = GetLastError();
    else
        error = poll(status, false);
    if (error == ERROR_SUCCESS && status.dwCurrentState != SERVICE_STOPPED) {
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
            error = GetLastError();
        else
            error = poll(status, true);
    }

    if (error != ERROR_SUCCESS) {
        SetError(function, api, error);
        return error;
    }
    SetError(function, L"Service stopped.", 0);
    Sleep(kAfterStopMs);
    return ERROR_SUCCESS;
}

DWORD CWin32Service::Startup(DWORD startType) {
    const std::wstring function = L"CWin32Service::Startup()";
    const std::wstring server = corvan::Format(L"%ls", ServerName.c_str());

    ScHandle manager(OpenSCManagerW(server.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = GetLastError();
        SetError(corvan::Format(L"OpenSCManager(%ls)", server.c_str()), function, error);
        return error;
    }
    ScHandle service(OpenServiceW(manager.Get(), ServiceName.c_str(), SERVICE_CHANGE_CONFIG));
    if (service && ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        SetError(function, L"Service Startup okay.", 0);
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    SetError(corvan::Format(L"OpenService(%ls)", server.c_str()), function, error);
    if (error == ERROR_SUCCESS)
        SetError(function, L"Service Startup okay.", 0);
    else
        SetError(function, function, error);
    return error;
}

DWORD CWin32Service::Check(bool start, bool stop, bool configure) {
    const std::wstring function = L"CWin32Service::Check()";
    const DWORD access = SERVICE_QUERY_STATUS | (start ? kStartAccess : 0) | (stop ? kStopAccess : 0) |
                         (configure ? SERVICE_CHANGE_CONFIG : 0);
    ScHandle manager(OpenSCManagerW(ServerName.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = GetLastError();
        SetError(function, corvan::Format(L"OpenSCManager(%ls)", ServerName.c_str()), error);
        return error;
    }
    ScHandle service(OpenServiceW(manager.Get(), ServiceName.c_str(), access));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.Get(), &status)) {
        DWORD error = GetLastError();
        SetError(function, corvan::Format(L"OpenService(%ls, %ls)", ServerName.c_str(), ServiceName.c_str()), error);
        return error;
    }
    CurrentState = status.dwCurrentState;
    SetError(function, function, 0);
    return 0;
}

int CWin32Service::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CWin32Service");
    store.AddStringToSection(L"ServiceName", ServiceName);
    store.AddStringToSection(L"BinaryPathName", BinaryPathName);
    store.AddDwordToSection(L"ServiceType", ServiceType);
    store.AddDwordToSection(L"StartType", StartType);
    return CBaseObject::SaveProperties(store);
}

int CWin32Service::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"ServiceName")
            CStoreValue::GetString(value, ServiceName);
        else if (key == L"BinaryPathName")
            CStoreValue::GetString(value, BinaryPathName);
        else if (key == L"ServiceType")
            CStoreValue::GetDword(value, ServiceType);
        else if (key == L"StartType")
            CStoreValue::GetDword(value, StartType);
    });
}

void CWin32Service::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag) return;
    ReportStatusLine(reportStore, L"Service", ServiceName, L"Service",
                     corvan::Format(L"StartType=%lu ", static_cast<unsigned long>(StartType)), Task, LastErrorCode,
                     PreviewState(*this));
}
