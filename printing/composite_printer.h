// All printer queues of one machine, and the check of the target's drivers
// before a queue is made.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "printing/composite_driver.h"
#include "printing/flat_composite.h"
#include "printing/printer.h"

class CCompositePrinter : public CFlatComposite<CPrinter, CCompositePrinter> {
public:
    static constexpr wchar_t kClassName[] = L"CCompositePrinter";

    CCompositePrinter();
    explicit CCompositePrinter(const std::wstring& serverName);
    ~CCompositePrinter() override;

    // Lists the machine's printers with their settings, permissions and
    // driver data. An empty list is a success.
    int Enum();
    // Makes every printer still to be restored whose driver its machine has
    // (CInstalledDrivers). Nonzero when every one was made.
    int Add();
    void SetRestoreByName(const std::wstring& text, DWORD flag);
    void SetRestoreByDriver(const std::wstring& text, DWORD flag);
    // Excludes or includes every printer, whatever the type.
    void SetRestoreByType(DWORD type, DWORD flag);
    // Sets the supported-drivers file of every printer.
    void SetDriverMapFile(const std::wstring& file);
};

// The drivers installed on each machine printers go to, listed once per machine.
class CInstalledDrivers {
public:
    CInstalledDrivers();
    ~CInstalledDrivers();
    CInstalledDrivers(const CInstalledDrivers&) = delete;
    CInstalledDrivers& operator=(const CInstalledDrivers&) = delete;

    // Maps the printer's driver name for its target, then looks it up on
    // the printer's machine. Nonzero when the machine has the driver;
    // otherwise the printer carries the refusal (a missing driver, or the
    // error that kept the list from being read).
    int Check(CPrinter& printer);

private:
    std::map<std::wstring, std::unique_ptr<CCompositeDriver>> machines_;
    std::map<std::wstring, int> listed_;
};
