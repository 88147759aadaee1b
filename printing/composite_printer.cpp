#include "printing/composite_printer.h"

#include <new>

#include "diagnostics/log_message.h"
#include "diagnostics/progress.h"
#include "platform/text.h"
#include "printing/print_calls.h"

using corvan::Format;

CCompositePrinter::CCompositePrinter() = default;

CCompositePrinter::CCompositePrinter(const std::wstring& serverName) : CFlatComposite(serverName) {}

CCompositePrinter::~CCompositePrinter() = default;

int CCompositePrinter::Enum() {
    const std::wstring function = L"CCompositePrinter::Enum()";
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = SpoolerServer(*this, serverBuffer);
    std::vector<BYTE> buffer;
    DWORD needed = 0, count = 0;
    DWORD error = 0;
    // The list may grow between the two calls: asked again while too small.
    while (!EnumPrintersW(PRINTER_ENUM_NAME, server, 2, buffer.empty() ? nullptr : buffer.data(),
                          static_cast<DWORD>(buffer.size()), &needed, &count)) {
        error = LastErrorOf();
        if (error != ERROR_INSUFFICIENT_BUFFER) break;
        try {
            buffer.assign(needed, 0);
        } catch (const std::bad_alloc&) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        error = 0;
    }
    ReportFlag = 1;
    Task = L"Backup Printer";
    if (error) {
        SetError(function, Format(L"EnumPrinters(%ls)", ServerName.c_str()), error);
        return 0;
    }
    const auto* records = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; records && i < count; ++i) {
        auto printer = std::make_unique<CPrinter>(ServerName);
        // A printer whose driver data cannot be read carries the error; the backup refuses it.
        printer->Enum(records[i]);
        AddChild(printer.release());
    }
    SetError(function, function, 0);
    return 1;
}

int CCompositePrinter::Add() {
    const std::wstring function = L"CCompositePrinter::Add()";
    CInstalledDrivers drivers;
    const CPrinter* failed = nullptr;
    ForEachLeaf([&](CPrinter& printer) {
        if (!printer.Restore) return;
        int added = drivers.Check(printer) && printer.Add();
        CProgress::Advance(printer.PrinterName);
        LogLine(printer, added ? kLogInformation : kLogReport,
                Format(added ? L"%ls, Added printer." : L"%ls, Failed to add printer.", printer.PrinterName.c_str()));
        if (!added && !failed) failed = &printer;
    });
    ReportFlag = 1;
    Task = L"Restore Printer";
    if (failed) {
        // The refusal of a missing driver is kept as it is, its own code and text.
        ErrorCode = failed->ErrorCode;
        ErrorDescription = failed->ErrorDescription;
        ErrorWin32API = failed->ErrorWin32API;
        ErrorFunction = function;
        LastErrorCode = failed->LastErrorCode;
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

void CCompositePrinter::SetRestoreByName(const std::wstring& text, DWORD flag) {
    ForEachLeaf([&](CPrinter& printer) { printer.SetRestoreByName(text, flag); });
}

void CCompositePrinter::SetRestoreByDriver(const std::wstring& text, DWORD flag) {
    ForEachLeaf([&](CPrinter& printer) { printer.SetRestoreByDriver(text, flag); });
}

void CCompositePrinter::SetRestoreByType(DWORD type, DWORD flag) {
    LogLine(*this, kLogWarning,
            Format(L"Printer type %.8x given: it %ls every printer, whatever its type.", static_cast<unsigned>(type),
                   flag ? L"selects" : L"excludes"));
    ForEachLeaf([&](CPrinter& printer) { printer.SetRestoreByType(type, flag); });
}

void CCompositePrinter::SetDriverMapFile(const std::wstring& file) {
    ForEachLeaf([&](CPrinter& printer) { printer.DriverMapFile = file; });
}

CInstalledDrivers::CInstalledDrivers() = default;

CInstalledDrivers::~CInstalledDrivers() = default;

int CInstalledDrivers::Check(CPrinter& printer) {
    // A mapping can rescue a printer whose own driver the target lacks.
    printer.ApplyDriverMapping();
    const std::wstring machine = corvan::ToUpper(printer.ServerName);
    auto& drivers = machines_[machine];
    if (!drivers) {
        drivers = std::make_unique<CCompositeDriver>(printer.ServerName);
        listed_[machine] = drivers->Enum();
    }
    if (!listed_[machine]) {
        printer.ReportFlag = 1;
        printer.Task = L"Restore Printer";
        printer.SetError(Format(L"CPrinter::Add(%ls)", printer.PrinterName.c_str()), drivers->ErrorWin32API,
                         drivers->LastErrorCode ? drivers->LastErrorCode : ERROR_GEN_FAILURE);
        return 0;
    }
    if (drivers->ContainsName(printer.DriverName)) return 1;
    printer.RefuseMissingDriver();
    return 0;
}
