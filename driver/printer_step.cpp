// The printer step: the resource step over printers. Before a printer is
// made, its driver name is mapped for the target and the target's drivers
// are asked for it.
#include "driver/resource_step.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "diagnostics/progress.h"
#include "printing/composite_printer.h"
#include "printing/printer.h"

namespace {

struct PrinterKind {
    using Composite = CCompositePrinter;
    using Item = CPrinter;
    static constexpr const wchar_t* kSetClass = L"CCompositePrinter";
    static constexpr const wchar_t* kItemClass = L"CPrinter";
    static constexpr const wchar_t* kEntryKey = L"PRINTER";
    static constexpr const wchar_t* kFileSuffix = L"_prt.bkp";
    static constexpr const wchar_t* kNoun = L"printer";
    static constexpr const wchar_t* kTypeWord = L"Printer";
    static constexpr bool kFullErrorPath = true;
    static constexpr bool kDeferResults = false;

    std::wstring driverMapFile;
    CInstalledDrivers drivers;

    std::wstring& WholeSetFile(CCorvanrator& m) { return m.PrintersFile; }
    static std::wstring NameOf(const CPrinter& printer) { return printer.ShortName(); }
    void Select(CCompositePrinter& composite, CCorvanrator& m) {
        for (const auto& name : m.ExcludedPrinterNames) composite.SetRestoreByName(name, 0);
        for (DWORD type : m.ExcludedPrinterTypes) composite.SetRestoreByType(type, 0);
        for (const auto& name : m.SelectedPrinterNames) composite.SetRestoreByName(name, 1);
        // Last, so that it wins over a selected name.
        for (const auto& driver : m.ExcludedDriverNames) composite.SetRestoreByDriver(driver, 0);
    }
    // A printer whose driver data could not be read would come back without it.
    static const CBaseObject* BackupFailure(const CPrinter& printer) {
        return printer.LastErrorCode ? &printer : nullptr;
    }

    int RestoreItem(CPrinter& printer) {
        if (!printer.Restore) return 1;
        printer.DriverMapFile = driverMapFile;
        int added = drivers.Check(printer) ? printer.Add() : 0;
        CProgress::Advance(printer.PrinterName);
        return added;
    }
    int RestoreSet(CCompositePrinter& composite) {
        composite.SetDriverMapFile(driverMapFile);
        return composite.Add();
    }
    std::wstring StatusName(const CPrinter&, const std::wstring& entryName) { return entryName; }
    static std::wstring LoadFailureEntry(const std::wstring& name, const std::wstring& file, const CCorvanrator&) {
        return corvan::Format(L"%ls,\"%ls\"", name.c_str(), file.c_str());
    }
    void AfterRestore(CCorvanrator&, CObjectStore&) {}
    int Recheck(CPrinter&, int ok) { return ok; }
};

// "SupportedDrivers.txt" beside the control file, else in the current folder.
std::wstring DriverMapFile(const std::wstring& controlFile) {
    size_t slash = controlFile.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        std::wstring beside = controlFile.substr(0, slash + 1) + CPrinter::kDriverMapFileName;
        if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    }
    return CPrinter::kDriverMapFileName;
}

}  // namespace

int CCorvanrator::ProcessPrinters(int backup, CObjectStore& control, const std::wstring& server) {
    PrinterKind kind;
    if (!backup) {
        kind.driverMapFile = DriverMapFile(ControlFilePath);
        if (Logger)
            Logger->Dispatch(CTextLogMessage(kLogInformation,
                                             corvan::Format(L"Printer drivers are mapped by %ls.", kind.driverMapFile.c_str())));
    }
    CResourceStep<PrinterKind> step(*this, control, server, kind);
    return backup ? step.Backup() : step.Restore();
}
