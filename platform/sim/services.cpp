// The service control manager of the simulated machines. A service is a key
// under SYSTEM\CurrentControlSet\Services that has a Type value; its run
// state is the machine.ini [Services] entry of the same name:
//
//   Spooler=Running,StartPendingMs=2000,StopPendingMs=45000,WaitHintMs=1000
//
// The state word is Running, Stopped, StartPending or StopPending; a service
// without an entry is stopped. Starting or stopping passes through the
// pending state for the configured time on the process clock (GetTickCount),
// counted from when this process began the change or first saw the service
// pending; the entry always holds the state, so another process sees a start
// that was begun and not waited for as still pending. A pending state found
// in machine.ini without a time never ends: a hung service.
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>

#include "platform/sim/hive.h"
#include "platform/sim/service_state.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD kDefaultWaitHint = 1000;
constexpr DWORD kMaximumAllowed = 0x02000000;

struct ScObject {
    virtual ~ScObject() = default;
    std::wstring machine;
    DWORD access = 0;
};
struct Manager : ScObject {};
struct Service : ScObject {
    std::wstring name;  // as the registry spells it
};

struct ScTable {
    std::map<uintptr_t, std::shared_ptr<ScObject>> objects;
    uintptr_t next = 0x5c0010;
};

ScTable& Table() {
    static ScTable table;
    return table;
}

SC_HANDLE AddObject(std::shared_ptr<ScObject> object) {
    ScTable& table = Table();
    uintptr_t value = table.next;
    table.next += 0x10;
    table.objects[value] = std::move(object);
    return reinterpret_cast<SC_HANDLE>(value);
}

template <class T>
std::shared_ptr<T> Lookup(SC_HANDLE handle) {
    auto& objects = Table().objects;
    auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects.end() ? nullptr : std::dynamic_pointer_cast<T>(it->second);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The generic rights as the service control manager maps them for services.
DWORD MapServiceAccess(DWORD access) {
    if (access & (GENERIC_ALL | kMaximumAllowed)) access |= SERVICE_ALL_ACCESS;
    if (access & GENERIC_READ)
        access |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE) access |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        access |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    return access & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | kMaximumAllowed);
}

// ---- configuration (registry) --------------------------------------------
// Read as the service manager reads its own database: straight from the
// hive, so failures injected into the caller's registry calls stay there.

struct Config {
    DWORD type = 0;
    DWORD start = SERVICE_DEMAND_START;
};

std::wstring ServiceKeyPath(const std::wstring& name) { return std::wstring(kServicesKey) + L"\\" + name; }

bool ReadDword(const std::wstring& machine, const std::wstring& path, const wchar_t* name, DWORD& value) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (sim::RegistryGetValue(machine, path, name, type, data) != ERROR_SUCCESS || type != REG_DWORD ||
        data.size() != sizeof(DWORD))
        return false;
    std::memcpy(&value, data.data(), sizeof(DWORD));
    return true;
}

// The registry's spelling of the service name, or 1060. A key without a
// Type is a parameter key, not a service.
DWORD FindService(const std::wstring& machine, const std::wstring& name, std::wstring& found) {
    std::vector<std::wstring> names;
    if (sim::RegistrySubkeyNames(machine, kServicesKey, names) != ERROR_SUCCESS) return ERROR_SERVICE_DOES_NOT_EXIST;
    DWORD type = 0;
    for (const auto& candidate : names) {
        if (corvan::EqualsNoCase(candidate, name) && ReadDword(machine, ServiceKeyPath(candidate), L"Type", type)) {
            found = candidate;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SERVICE_DOES_NOT_EXIST;
}

// A service whose key went away while a handle was open is one being deleted.
DWORD ReadConfig(const Service& service, Config& config) {
    std::wstring path = ServiceKeyPath(service.name);
    if (!ReadDword(service.machine, path, L"Type", config.type)) return ERROR_SERVICE_MARKED_FOR_DELETE;
    if (!ReadDword(service.machine, path, L"Start", config.start)) config.start = SERVICE_DEMAND_START;
    return ERROR_SUCCESS;
}

// ---- run state (machine.ini) ---------------------------------------------

struct RunEntry {
    std::wstring key;      // the entry's name as written, else the service name
    DWORD state = SERVICE_STOPPED;
    std::wstring options;  // everything after the state word, kept on every write
    DWORD startPendingMs = 0;
    DWORD stopPendingMs = 0;
    bool hasWaitHint = false;
    DWORD waitHintMs = 0;
};

std::wstring Trim(const std::wstring& text) {
    size_t begin = text.find_first_not_of(L" \t");
    if (begin == std::wstring::npos) return L"";
    size_t end = text.find_last_not_of(L" \t");
    return text.substr(begin, end - begin + 1);
}

DWORD StateFromWord(const std::wstring& word) {
    if (corvan::EqualsNoCase(word, L"Running")) return SERVICE_RUNNING;
    if (corvan::EqualsNoCase(word, L"StartPending")) return SERVICE_START_PENDING;
    if (corvan::EqualsNoCase(word, L"StopPending")) return SERVICE_STOP_PENDING;
    return SERVICE_STOPPED;
}

const wchar_t* WordFromState(DWORD state) {
    switch (state) {
    case SERVICE_RUNNING:
        return L"Running";
    case SERVICE_START_PENDING:
        return L"StartPending";
    case SERVICE_STOP_PENDING:
        return L"StopPending";
    default:
        return L"Stopped";
    }
}

RunEntry ReadRunEntry(const std::wstring& machine, const std::wstring& service) {
    RunEntry entry;
    entry.key = service;
    for (const auto& [key, value] : sim::MachineSection(machine, L"Services")) {
        if (!corvan::EqualsNoCase(Trim(key), service)) continue;
        entry.key = key;
        size_t comma = value.find(L',');
        entry.state = StateFromWord(Trim(value.substr(0, comma)));
        if (comma == std::wstring::npos) break;
        entry.options = value.substr(comma);
        size_t pos = comma;
        while (pos != std::wstring::npos) {
            size_t next = value.find(L',', pos + 1);
            std::wstring item = value.substr(pos + 1, next == std::wstring::npos ? std::wstring::npos
                                                                                 : next - pos - 1);
            pos = next;
            size_t equals = item.find(L'=');
            if (equals == std::wstring::npos) continue;
            std::wstring name = Trim(item.substr(0, equals));
            DWORD number = static_cast<DWORD>(std::wcstoul(Trim(item.substr(equals + 1)).c_str(), nullptr, 10));
            if (corvan::EqualsNoCase(name, L"StartPendingMs")) {
                entry.startPendingMs = number;
            } else if (corvan::EqualsNoCase(name, L"StopPendingMs")) {
                entry.stopPendingMs = number;
            } else if (corvan::EqualsNoCase(name, L"WaitHintMs")) {
                entry.hasWaitHint = true;
                entry.waitHintMs = number;
            }
        }
        break;
    }
    return entry;
}

void WriteRunState(const std::wstring& machine, const RunEntry& entry, DWORD state) {
    sim::SetMachineSetting(machine, L"Services", entry.key, WordFromState(state) + entry.options);
}

// When this process began each pending state it knows of.
struct Pending {
    DWORD state;
    DWORD since;
};

std::map<std::wstring, Pending>& PendingTable() {
    static std::map<std::wstring, Pending> table;
    return table;
}

std::wstring PendingKey(const std::wstring& machine, const std::wstring& service) {
    return corvan::FromUtf8(sim::WorldRoot().string()) + L"|" + corvan::ToUpper(machine) + L"|" +
           corvan::ToUpper(service);
}

struct Observed {
    DWORD state;
    DWORD waitHint;
    DWORD checkPoint;
};

// The service's state now; a pending state whose time has passed ends here.
Observed Observe(const Service& service) {
    RunEntry entry = ReadRunEntry(service.machine, service.name);
    std::wstring key = PendingKey(service.machine, service.name);
    auto& pending = PendingTable();
    if (entry.state != SERVICE_START_PENDING && entry.state != SERVICE_STOP_PENDING) {
        pending.erase(key);
        return {entry.state, 0, 0};
    }
    DWORD now = GetTickCount();
    auto it = pending.find(key);
    if (it == pending.end() || it->second.state != entry.state)
        it = pending.insert_or_assign(key, Pending{entry.state, now}).first;
    DWORD duration = entry.state == SERVICE_START_PENDING ? entry.startPendingMs : entry.stopPendingMs;
    DWORD elapsed = now - it->second.since;
    if (duration != 0 && elapsed >= duration) {
        DWORD done = entry.state == SERVICE_START_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
        WriteRunState(service.machine, entry, done);
        pending.erase(it);
        return {done, 0, 0};
    }
    DWORD hint = entry.hasWaitHint ? entry.waitHintMs : kDefaultWaitHint;
    return {entry.state, hint, 1 + (hint ? elapsed / hint : 0)};
}

// Starts a change of state: straight to `done` without a pending time.
void BeginChange(const Service& service, DWORD pendingState, DWORD done) {
    RunEntry entry = ReadRunEntry(service.machine, service.name);
    DWORD duration = pendingState == SERVICE_START_PENDING ? entry.startPendingMs : entry.stopPendingMs;
    std::wstring key = PendingKey(service.machine, service.name);
    if (duration == 0) {
        PendingTable().erase(key);
        WriteRunState(service.machine, entry, done);
        return;
    }
    PendingTable().insert_or_assign(key, Pending{pendingState, GetTickCount()});
    WriteRunState(service.machine, entry, pendingState);
}

void FillStatus(const Observed& observed, DWORD type, LPSERVICE_STATUS status) {
    status->dwServiceType = type;
    status->dwCurrentState = observed.state;
    status->dwControlsAccepted = observed.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status->dwWin32ExitCode = NO_ERROR;
    status->dwServiceSpecificExitCode = 0;
    status->dwCheckPoint = observed.checkPoint;
    status->dwWaitHint = observed.waitHint;
}

// What every call on a service handle checks first: the handle, injected
// failures, that the machine still answers, and the access the handle was
// opened with.
DWORD EnterService(SC_HANDLE handle, const char* function, DWORD needed, std::shared_ptr<Service>& service) {
    service = Lookup<Service>(handle);
    if (!service) return ERROR_INVALID_HANDLE;
    if (DWORD fault = sim::InjectedFault(function, service->machine, {service->name})) return fault;
    std::wstring machine;
    if (DWORD error = sim::ResolveMachine(service->machine.c_str(), machine, RPC_S_SERVER_UNAVAILABLE))
        return error;
    if ((service->access & needed) != needed) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

bool ValidServiceType(DWORD type) {
    DWORD base = type & ~SERVICE_INTERACTIVE_PROCESS;
    bool win32 = base == SERVICE_WIN32_OWN_PROCESS || base == SERVICE_WIN32_SHARE_PROCESS;
    bool driver = base == SERVICE_KERNEL_DRIVER || base == SERVICE_FILE_SYSTEM_DRIVER;
    return win32 || (driver && !(type & SERVICE_INTERACTIVE_PROCESS));
}

}  // namespace

DWORD sim::ServiceRunState(const std::wstring& machine, const std::wstring& service) {
    Service probe;
    probe.machine = machine;
    probe.name = service;
    return Observe(probe).state;
}

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    std::wstring machine;
    // An unknown or unreachable machine is one whose RPC endpoint does not answer.
    DWORD error = sim::ResolveMachine(lpMachineName, machine, RPC_S_SERVER_UNAVAILABLE);
    std::wstring faultMachine = machine;
    if (error != ERROR_SUCCESS && lpMachineName) {
        faultMachine = lpMachineName;
        while (!faultMachine.empty() && faultMachine.front() == L'\\') faultMachine.erase(0, 1);
    }
    if (DWORD fault = sim::InjectedFault("OpenSCManagerW", faultMachine, {})) error = fault;
    if (error == ERROR_SUCCESS && lpDatabaseName && !corvan::EqualsNoCase(lpDatabaseName, L"ServicesActive"))
        error = ERROR_INVALID_NAME;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    auto manager = std::make_shared<Manager>();
    manager->machine = machine;
    manager->access = dwDesiredAccess | SC_MANAGER_CONNECT;
    return AddObject(manager);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    auto manager = Lookup<Manager>(hSCManager);
    if (!manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::wstring name = lpServiceName ? lpServiceName : L"";
    DWORD error = sim::InjectedFault("OpenServiceW", manager->machine, {name});
    std::wstring machine;
    if (error == ERROR_SUCCESS) error = sim::ResolveMachine(manager->machine.c_str(), machine, RPC_S_SERVER_UNAVAILABLE);
    if (error == ERROR_SUCCESS && (name.empty() || name.find_first_of(L"/\\") != std::wstring::npos))
        error = ERROR_INVALID_NAME;
    std::wstring found;
    if (error == ERROR_SUCCESS) error = FindService(manager->machine, name, found);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    auto service = std::make_shared<Service>();
    service->machine = manager->machine;
    service->name = found;
    service->access = MapServiceAccess(dwDesiredAccess);
    return AddObject(service);
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    std::shared_ptr<Service> service;
    if (DWORD error = EnterService(hService, "StartServiceW", SERVICE_START, service)) return Fail(error);
    if (dwNumServiceArgs != 0 && !lpServiceArgVectors) return Fail(ERROR_INVALID_PARAMETER);
    Config config;
    if (DWORD error = ReadConfig(*service, config)) return Fail(error);
    if (config.start == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
    if (Observe(*service).state != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    BeginChange(*service, SERVICE_START_PENDING, SERVICE_RUNNING);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    DWORD needed = 0;
    switch (dwControl) {
    case SERVICE_CONTROL_STOP:
        needed = SERVICE_STOP;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        needed = SERVICE_INTERROGATE;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case 6:   // parameter change
    case 7:   // network binding changes
    case 8:
    case 9:
    case 10:
        needed = SERVICE_PAUSE_CONTINUE;
        break;
    default:
        if (dwControl < 128 || dwControl > 255) {
            if (!Lookup<Service>(hService)) return Fail(ERROR_INVALID_HANDLE);
            return Fail(ERROR_INVALID_PARAMETER);
        }
        needed = SERVICE_USER_DEFINED_CONTROL;
    }
    std::shared_ptr<Service> service;
    if (DWORD error = EnterService(hService, "ControlService", needed, service)) return Fail(error);
    if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
    Config config;
    if (DWORD error = ReadConfig(*service, config)) return Fail(error);

    Observed now = Observe(*service);
    FillStatus(now, config.type, lpServiceStatus);
    if (now.state == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (dwControl == SERVICE_CONTROL_INTERROGATE) return TRUE;
    if (now.state != SERVICE_RUNNING) return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (dwControl != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_SERVICE_CONTROL);
    BeginChange(*service, SERVICE_STOP_PENDING, SERVICE_STOPPED);
    FillStatus(Observe(*service), config.type, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    std::shared_ptr<Service> service;
    if (DWORD error = EnterService(hService, "QueryServiceStatus", SERVICE_QUERY_STATUS, service))
        return Fail(error);
    if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
    Config config;
    if (DWORD error = ReadConfig(*service, config)) return Fail(error);
    FillStatus(Observe(*service), config.type, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI ChangeServiceConfigW(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                                 DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                                 LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
                                 LPCWSTR lpServiceStartName, LPCWSTR /*lpPassword*/,
                                 LPCWSTR lpDisplayName) {
    std::shared_ptr<Service> service;
    if (DWORD error = EnterService(hService, "ChangeServiceConfigW", SERVICE_CHANGE_CONFIG, service))
        return Fail(error);
    Config config;
    if (DWORD error = ReadConfig(*service, config)) return Fail(error);

    // Everything is checked before anything is written.
    if (dwServiceType != SERVICE_NO_CHANGE && !ValidServiceType(dwServiceType))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD type = dwServiceType != SERVICE_NO_CHANGE ? dwServiceType : config.type;
    DWORD start = dwStartType != SERVICE_NO_CHANGE ? dwStartType : config.start;
    bool driver = (type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
    if (dwStartType != SERVICE_NO_CHANGE && dwStartType > SERVICE_DISABLED) return Fail(ERROR_INVALID_PARAMETER);
    // Boot and system start are for drivers only.
    bool typeOrStart = dwServiceType != SERVICE_NO_CHANGE || dwStartType != SERVICE_NO_CHANGE;
    if (typeOrStart && (start == SERVICE_BOOT_START || start == SERVICE_SYSTEM_START) && !driver)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwErrorControl != SERVICE_NO_CHANGE && dwErrorControl > SERVICE_ERROR_CRITICAL)
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpBinaryPathName && !*lpBinaryPathName) return Fail(ERROR_INVALID_PARAMETER);
    // Tags order the drivers of a load-order group at boot.
    if (lpdwTagId && !(driver && (start == SERVICE_BOOT_START || start == SERVICE_SYSTEM_START)))
        return Fail(ERROR_INVALID_PARAMETER);

    const std::wstring& machine = service->machine;
    std::wstring path = ServiceKeyPath(service->name);
    DWORD status = ERROR_SUCCESS;
    auto write = [&](const wchar_t* name, DWORD valueType, const std::vector<BYTE>& data) {
        if (status == ERROR_SUCCESS) status = sim::RegistrySetValue(machine, path, name, valueType, data);
    };
    if (dwServiceType != SERVICE_NO_CHANGE) write(L"Type", REG_DWORD, sim::DwordBytes(dwServiceType));
    if (dwStartType != SERVICE_NO_CHANGE) write(L"Start", REG_DWORD, sim::DwordBytes(dwStartType));
    if (dwErrorControl != SERVICE_NO_CHANGE) write(L"ErrorControl", REG_DWORD, sim::DwordBytes(dwErrorControl));
    if (lpBinaryPathName) write(L"ImagePath", REG_EXPAND_SZ, sim::TextBytes(lpBinaryPathName));
    if (lpLoadOrderGroup) write(L"Group", REG_SZ, sim::TextBytes(lpLoadOrderGroup));
    if (lpdwTagId) {
        DWORD tag = 0;
        if (!ReadDword(machine, path, L"Tag", tag) || tag == 0) {
            tag = 1;
            write(L"Tag", REG_DWORD, sim::DwordBytes(tag));
        }
        *lpdwTagId = tag;
    }
    if (lpDependencies) {
        // A double-terminated list; group names carry a leading '+'.
        std::vector<std::wstring> onService, onGroup;
        for (const WCHAR* p = lpDependencies; *p; p += std::wcslen(p) + 1) {
            if (*p == L'+')
                onGroup.emplace_back(p + 1);
            else
                onService.emplace_back(p);
        }
        write(L"DependOnService", REG_MULTI_SZ, sim::MultiTextBytes(onService));
        write(L"DependOnGroup", REG_MULTI_SZ, sim::MultiTextBytes(onGroup));
    }
    if (lpServiceStartName) write(L"ObjectName", REG_SZ, sim::TextBytes(lpServiceStartName));
    if (lpDisplayName) write(L"DisplayName", REG_SZ, sim::TextBytes(lpDisplayName));
    if (status != ERROR_SUCCESS) return Fail(status);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    auto& objects = Table().objects;
    auto it = objects.find(reinterpret_cast<uintptr_t>(hSCObject));
    if (it == objects.end()) return Fail(ERROR_INVALID_HANDLE);
    auto service = std::dynamic_pointer_cast<Service>(it->second);
    if (DWORD fault = sim::InjectedFault("CloseServiceHandle", it->second->machine,
                                         {service ? service->name : std::wstring()}))
        return Fail(fault);
    objects.erase(it);
    return TRUE;
}
