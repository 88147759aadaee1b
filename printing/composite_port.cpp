#include "printing/composite_port.h"

#include <new>

#include "core/preview.h"
#include "diagnostics/log_message.h"
#include "diagnostics/progress.h"
#include "platform/text.h"
#include "printing/print_calls.h"
#include "services/win32_service.h"

using corvan::Format;

CCompositePort::CCompositePort() = default;

CCompositePort::CCompositePort(const std::wstring& serverName) : CFlatComposite(serverName) {}

CCompositePort::~CCompositePort() = default;

int CCompositePort::Enum() {
    const std::wstring function = L"CCompositePort::Enum()";
    const std::wstring errorText = Format(L"EnumPorts(%ls)", ServerName.c_str());
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = SpoolerServer(*this, serverBuffer);

    DWORD needed = 0, count = 0;
    std::vector<BYTE> buffer;
    DWORD error = 0;
    // An empty list succeeds at once; only "too small" asks for a buffer.
    if (!EnumPortsW(server, 2, nullptr, 0, &needed, &count)) {
        error = LastErrorOf();
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            try {
                buffer.resize(needed);
                error = EnumPortsW(server, 2, buffer.data(), needed, &needed, &count) ? 0 : LastErrorOf();
            } catch (const std::bad_alloc&) {
                error = ERROR_NOT_ENOUGH_MEMORY;
            }
        }
    }
    if (error) {
        SetError(function, errorText, error);
        return 0;
    }

    const auto* records = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; records && i < count; ++i) {
        auto port = std::make_unique<CPort>(records[i]);
        port->ServerName = ServerName;
        // A failed read stays on the port, which the backup then refuses.
        port->ReadRegistryData();
        port->ReportFlag = 1;
        port->Task = L"Backup Port";
        AddChild(port.release());
    }
    SetError(function, function, 0);
    return 1;
}

int CCompositePort::Add() {
    const std::wstring function = L"CCompositePort::Add()";
    CPortRestorer restorer;
    const CPort* failed = nullptr;
    ForEachLeaf([&](CPort& port) {
        if (!restorer.Restore(port) && !failed) failed = &port;
    });
    int restarted = restorer.Finish();
    // The restart may yet fail a port that was written.
    if (!failed)
        ForEachLeaf([&](CPort& port) {
            if (port.LastErrorCode && port.Restore && !failed) failed = &port;
        });
    ReportFlag = 1;
    Task = L"Restore Port";
    if (failed) {
        SetError(function, Format(L"CPort::Add(%ls)", failed->PortName.c_str()), failed->LastErrorCode);
        return 0;
    }
    if (!restarted) {
        const CWin32Service* service = restorer.FailedService();
        SetError(function, service->ErrorWin32API, service->LastErrorCode ? service->LastErrorCode : ERROR_GEN_FAILURE);
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

void CCompositePort::SetRestoreByName(const std::wstring& name, DWORD flag) {
    for (auto& child : children_) child->SetRestoreByName(name, flag);
}

void CCompositePort::SetRestoreByType(DWORD type, DWORD flag) {
    for (auto& child : children_) child->SetRestoreByType(type, flag);
}

int CCompositePort::ContainsName(const std::wstring& name) const { return Find(name) ? 1 : 0; }

const CPort* CCompositePort::Find(const std::wstring& name) const {
    const CPort* found = nullptr;
    ForEachLeaf([&](const CPort& port) {
        if (!found && corvan::EqualsNoCase(port.PortName, name)) found = &port;
    });
    return found;
}

// ---- CPortRestorer ----------------------------------------------------------

struct CPortRestorer::Machine {
    std::wstring server;
    CCompositePort listed;
    int listOk = 0;
    std::vector<CPort*> added;
    std::unique_ptr<CWin32Service> spooler;
    DWORD stopError = 0;

    explicit Machine(const std::wstring& name) : server(name), listed(name) {}
};

CPortRestorer::CPortRestorer() = default;

CPortRestorer::~CPortRestorer() = default;

CPortRestorer::Machine& CPortRestorer::MachineOf(const std::wstring& server) {
    auto& slot = machines_[corvan::ToUpper(server)];
    if (!slot) {
        slot = std::make_unique<Machine>(server);
        slot->listOk = slot->listed.Enum();
    }
    return *slot;
}

int CPortRestorer::Restore(CPort& port) {
    if (!port.Restore) return 1;
    struct Counted {
        const CPort& port;
        ~Counted() { CProgress::Advance(port.PortName); }
    } counted{port};
    if (corvan::PreviewOnly()) port.ClearError();
    const std::wstring function = L"CPort::Add()";
    auto refuse = [&](const std::wstring& errorText, DWORD code) {
        port.ReportFlag = 1;
        port.Task = L"Restore Port";
        port.SetError(function, errorText, code ? code : ERROR_GEN_FAILURE);
        LogLine(port, kLogReport, Format(L"%ls, Failed to add port.", port.PortName.c_str()));
        return 0;
    };

    Machine& machine = MachineOf(port.ServerName);
    // Nothing is written to a machine whose ports cannot be listed.
    if (!machine.listOk) return refuse(machine.listed.ErrorWin32API, machine.listed.LastErrorCode);
    const CPort* existing = machine.listed.Find(port.PortName);
    for (const CPort* done : machine.added)
        if (!existing && corvan::EqualsNoCase(done->PortName, port.PortName)) existing = done;
    if (existing) {
        bool differs = port.LeaveExisting(*existing);
        LogLine(port, differs ? kLogWarning : kLogInformation, port.Warning);
        return 1;
    }

    // A preview leaves the spooler running.
    if (!machine.spooler && !corvan::PreviewOnly()) {
        machine.spooler = std::make_unique<CWin32Service>(machine.server, L"Spooler");
        machine.stopError = machine.spooler->Stop();
        if (machine.stopError && !failedService_) failedService_ = machine.spooler.get();
    }
    if (machine.stopError)
        return refuse(Format(L"CWin32Service::Stop(%ls, Spooler)", machine.server.c_str()), machine.stopError);

    if (!port.Add()) {
        LogLine(port, kLogReport, Format(L"%ls, Failed to add port.", port.PortName.c_str()));
        return 0;
    }
    machine.added.push_back(&port);
    if (corvan::PreviewOnly()) {
        corvan::NotePreviewed(L"Port", machine.server, port.PortName);
        return 1;
    }
    LogLine(port, kLogInformation, Format(L"%ls, Added Port.", port.PortName.c_str()));
    return 1;
}

int CPortRestorer::Finish() {
    for (auto& [key, machine] : machines_) {
        if (!machine->spooler) continue;
        if (machine->spooler->Start() && !failedService_) failedService_ = machine->spooler.get();
        if (machine->added.empty()) continue;
        // The monitor reads its ports when the spooler starts; only now is an added port in use.
        CCompositePort after(machine->server);
        int listed = after.Enum();
        for (CPort* port : machine->added) {
            if (listed && after.ContainsName(port->PortName)) continue;
            port->Restore = 1;
            port->SetError(L"CPort::Add()", listed ? Format(L"EnumPorts(%ls)", machine->server.c_str()) : after.ErrorWin32API,
                           listed ? ERROR_UNKNOWN_PORT : after.LastErrorCode);
            LogLine(*port, kLogReport, Format(L"%ls, Failed to add port.", port->PortName.c_str()));
        }
    }
    return failedService_ ? 0 : 1;
}
