#include "printing/composite_driver.h"

#include <new>

#include "diagnostics/log_message.h"
#include "platform/text.h"
#include "printing/print_calls.h"

using corvan::Format;

CCompositeDriver::CCompositeDriver() = default;

CCompositeDriver::CCompositeDriver(const std::wstring& serverName) : CFlatComposite(serverName) {}

CCompositeDriver::~CCompositeDriver() = default;

int CCompositeDriver::Enum() {
    const std::wstring function = L"CCompositeDriver::Enum()";
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = SpoolerServer(*this, serverBuffer);
    std::vector<WCHAR> environment = WideBuffer(L"Windows NT x86");

    DWORD needed = 0, count = 0;
    DWORD error = 0;
    for (int wait = 0;; ++wait) {
        error = EnumPrinterDriversW(server, environment.data(), 3, nullptr, 0, &needed, &count) ? 0 : LastErrorOf();
        if (error != RPC_S_SERVER_UNAVAILABLE || wait == kUnavailableWaits) break;
        Sleep(kUnavailableWaitMs);
    }
    std::vector<BYTE> buffer;
    if (error == ERROR_INSUFFICIENT_BUFFER) {
        try {
            buffer.resize(needed);
            error = EnumPrinterDriversW(server, environment.data(), 3, buffer.data(), needed, &needed, &count)
                        ? 0
                        : LastErrorOf();
        } catch (const std::bad_alloc&) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (error) {
        SetError(function, Format(L"EnumPrinterDrivers(%ls)", ServerName.c_str()), error);
        return 0;
    }
    const auto* records = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
    for (DWORD i = 0; records && i < count; ++i) {
        auto driver = std::make_unique<CDriver>(records[i]);
        driver->ServerName = ServerName;
        driver->ReportFlag = 1;
        driver->Task = L"Backup Driver";
        AddChild(driver.release());
    }
    SetError(function, function, 0);
    return 1;
}

int CCompositeDriver::Add() {
    const std::wstring function = L"CCompositeDriver::Add()";
    const CDriver* failed = nullptr;
    ForEachLeaf([&](CDriver& driver) {
        if (driver.Add()) {
            LogLine(driver, kLogInformation, Format(L"%ls, Added driver.", driver.DriverName.c_str()));
        } else {
            LogLine(driver, kLogReport, Format(L"%ls, Failed to add driver.", driver.DriverName.c_str()));
            if (!failed) failed = &driver;
        }
    });
    ReportFlag = 1;
    Task = L"Restore Driver";
    if (failed) {
        SetError(function, Format(L"CDriver::Add(%ls)", failed->DriverName.c_str()), failed->LastErrorCode);
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

int CCompositeDriver::ContainsName(const std::wstring& name) const {
    int found = 0;
    ForEachLeaf([&](const CDriver& driver) {
        if (!found && corvan::EqualsNoCase(driver.DriverName, name)) found = 1;
    });
    return found;
}
