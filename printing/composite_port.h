// All printer ports of one machine, and the restore of saved ports onto the
// machines they name.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "printing/flat_composite.h"
#include "printing/port.h"

class CWin32Service;

class CCompositePort : public CFlatComposite<CPort, CCompositePort> {
public:
    static constexpr wchar_t kClassName[] = L"CCompositePort";

    CCompositePort();
    explicit CCompositePort(const std::wstring& serverName);
    ~CCompositePort() override;

    // Lists the machine's ports, each TCP/IP port with its monitor key.
    // An empty list is a success.
    int Enum();
    // Creates every port still to be restored that its machine lacks and
    // leaves the others alone (CPortRestorer). Nonzero when all went well.
    int Add() override;
    void SetRestoreByName(const std::wstring& name, DWORD flag);
    void SetRestoreByType(DWORD type, DWORD flag);
    int ContainsName(const std::wstring& name) const;
    // The first port of that name (letter case ignored), or null.
    const CPort* Find(const std::wstring& name) const;
};

// Restores ports onto the machines named by their ServerName: each machine's
// ports are listed once; a port the machine has is left alone; before the
// first write to a machine its spooler is stopped, and Finish starts it
// again and checks that the spooler lists every port added. Used by a
// composite's Add and by the port step for ports saved one per file.
class CPortRestorer {
public:
    CPortRestorer();
    ~CPortRestorer();
    CPortRestorer(const CPortRestorer&) = delete;
    CPortRestorer& operator=(const CPortRestorer&) = delete;

    // Nonzero when the port was added or left alone; the port records the
    // outcome. The port must live until Finish.
    int Restore(CPort& port);
    // Restarts the spooler of every machine stopped and marks an added port
    // that the spooler does not list as failed (1796). 0 when a spooler
    // could not be stopped or started again; the failing service is then
    // in FailedService().
    int Finish();
    const CWin32Service* FailedService() const { return failedService_; }

private:
    struct Machine;
    Machine& MachineOf(const std::wstring& server);

    std::map<std::wstring, std::unique_ptr<Machine>> machines_;
    const CWin32Service* failedService_ = nullptr;
};
