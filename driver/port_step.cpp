// The port step: the resource step over printer ports. Ports saved one per
// file are restored together, so that each machine's spooler is restarted
// once; their outcome is known only after that restart.
#include "driver/resource_step.h"
#include "printing/composite_port.h"
#include "printing/port.h"
#include "services/win32_service.h"

namespace {

struct PortKind {
    using Composite = CCompositePort;
    using Item = CPort;
    static constexpr const wchar_t* kSetClass = L"CCompositePort";
    static constexpr const wchar_t* kItemClass = L"CPort";
    static constexpr const wchar_t* kEntryKey = L"PORT";
    static constexpr const wchar_t* kFileSuffix = L"_port.bkp";
    static constexpr const wchar_t* kNoun = L"port";
    static constexpr const wchar_t* kTypeWord = L"Port";
    static constexpr bool kFullErrorPath = true;
    static constexpr bool kDeferResults = true;

    // The copies of the monitor keys written, in the restore's run folder.
    std::wstring registryFolder;
    CPortRestorer restorer;

    std::wstring& WholeSetFile(CCorvanrator& m) { return m.PortsFile; }
    static std::wstring NameOf(const CPort& port) { return port.PortName.substr(0, port.PortName.find(L':')); }
    void Select(CCompositePort& composite, CCorvanrator& m) {
        for (const auto& name : m.ExcludedPortNames) composite.SetRestoreByName(name, 0);
        for (DWORD type : m.ExcludedPortTypes) composite.SetRestoreByType(type, 0);
        for (const auto& name : m.SelectedPortNames) composite.SetRestoreByName(name, 1);
    }
    // A port whose monitor settings could not be read would come back without them.
    static const CBaseObject* BackupFailure(const CPort& port) { return port.LastErrorCode ? &port : nullptr; }

    int RestoreItem(CPort& port) {
        port.RegistryFolder = registryFolder;
        return restorer.Restore(port);
    }
    int RestoreSet(CCompositePort& composite) {
        composite.ForEachLeaf([&](CPort& port) { port.RegistryFolder = registryFolder; });
        return composite.Add();
    }
    std::wstring StatusName(const CPort&, const std::wstring& entryName) { return entryName; }
    static std::wstring LoadFailureEntry(const std::wstring& name, const std::wstring&, const CCorvanrator& m) {
        return corvan::Format(L"%ls,\"%ls,%ls\"", name.c_str(), m.OutcomeErrorCode.c_str(), m.OutcomeErrorText.c_str());
    }
    void AfterRestore(CCorvanrator& m, CObjectStore& control) {
        if (restorer.Finish()) return;
        const CWin32Service* service = restorer.FailedService();
        m.FailRun(service->ErrorCode, service->ErrorDescription);
        const std::wstring setFile = m.PortsFile.substr(m.PortsFile.find_last_of(L"\\/") + 1);
        control.SetValue(L"Control", L"RestoreErrorFile", m.RestoreLocation + L"\\" + setFile);
        control.SetValue(L"Control", L"RestoreErrorStep", L"PORT");
    }
    // A port added one per file is done once the restarted spooler lists it;
    // a preview restarts nothing.
    int Recheck(CPort& port, int ok) {
        if (dynamic_cast<CCompositePort*>(&port) || corvan::PreviewOnly()) return ok;
        return ok && !port.Restore;
    }
};

}  // namespace

int CCorvanrator::ProcessPorts(int backup, CObjectStore& control, const std::wstring& server) {
    PortKind kind;
    kind.registryFolder = RestoreLocation + L"\\PortRegistry";
    CResourceStep<PortKind> step(*this, control, server, kind);
    return backup ? step.Backup() : step.Restore();
}
