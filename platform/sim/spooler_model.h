// What the simulated spooler reads and writes: ports, drivers, print
// processors and printers where Windows keeps them in the machine's registry,
// and the two layouts of a device mode. The spooler keeps nothing of its own;
// every call goes through these functions to the hive.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/hive.h"
#include "platform/sim/wintypes.h"

namespace sim::spool {

extern const wchar_t kPrintersKey[];
extern const wchar_t kMonitorsKey[];
extern const wchar_t kLocalPortsKey[];
extern const wchar_t kEnvironmentKey[];
extern const wchar_t kEnvironment[];      // "Windows NT x86"
extern const wchar_t kLocalPortMonitor[];  // "Local Port"

struct Port {
    std::wstring name;
    std::wstring monitor;
    std::wstring description;
    DWORD type = 0;
};

// Local ports in value order, then the Ports subkeys of every monitor that
// has a "Driver" value, monitors in registry order.
std::vector<Port> ListPorts(const std::shared_ptr<RegKey>& root);
// One lookup per monitor, whatever the number of ports.
bool HasPort(const std::shared_ptr<RegKey>& root, const std::wstring& name);

struct Driver {
    DWORD version = 0;
    std::wstring name;
    // Full paths as the spooler reports them.
    std::wstring driverPath, dataFile, configFile, helpFile;
    std::vector<std::wstring> dependentFiles;
    std::wstring monitor, defaultDatatype;
};

std::vector<Driver> ListDrivers(const std::shared_ptr<RegKey>& root);
bool HasDriver(const std::shared_ptr<RegKey>& root, const std::wstring& name);
// Writes the driver under Version-<version>; file names are kept without their folder.
void WriteDriver(const std::shared_ptr<RegKey>& root, const Driver& driver);

bool HasPrintProcessor(const std::shared_ptr<RegKey>& root, const std::wstring& name);
bool ProcessorTakesDatatype(const std::wstring& processor, const std::wstring& datatype);

struct Printer {
    std::wstring name;  // the key's name
    std::wstring shareName, port, driver, comment, location, sepFile, printProcessor, datatype, parameters;
    DWORD attributes = 0;
    DWORD priority = 0;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
    DWORD status = 0;
    std::vector<BYTE> devMode;   // the registry's (Windows) layout; empty when none
    std::vector<BYTE> security;  // self-relative; empty when none
};

std::shared_ptr<RegKey> PrinterKey(const std::shared_ptr<RegKey>& root, const std::wstring& name);
Printer ReadPrinter(const RegKey& key);
// Writes every value of the record; creates the PrinterDriverData subkey.
void WritePrinter(RegKey& key, const Printer& printer);
// Whether a printer other than `except` is shared under this name.
bool ShareNameTaken(const std::shared_ptr<RegKey>& root, const std::wstring& shareName, const std::wstring& except);

// ---- device modes ---------------------------------------------------------
// The registry holds a device mode as Windows lays it out (2-byte WCHAR);
// callers of this build get the host's DEVMODEW. Conversion goes member by
// member; the driver's private bytes follow the public part unchanged. A
// size that ends inside a member, or data shorter than size plus private
// bytes, is no device mode (false).
bool DevModeToHost(const std::vector<BYTE>& windows, std::vector<BYTE>& host);
bool DevModeFromHost(const DEVMODEW* host, std::vector<BYTE>& windows);
// Windows layout, as the spooler gives a printer added without one.
std::vector<BYTE> DefaultDevMode(const std::wstring& printerName);

// ---- security -------------------------------------------------------------
// Owner Administrators; Administrators full control, CREATOR OWNER its
// jobs, Everyone print.
std::vector<BYTE> DefaultSecurity();
// The parts present in `given` replace those of `stored` (which may be
// empty); an owner that neither has becomes Administrators. False when
// `given` cannot be read.
bool MergeSecurity(const std::vector<BYTE>& stored, PSECURITY_DESCRIPTOR given, std::vector<BYTE>& merged);

}  // namespace sim::spool
