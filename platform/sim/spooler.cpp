// The print spooler of the simulated machines. It keeps nothing of its own:
// every call reads and writes the machine's registry where Windows keeps
// printing (spooler_model.h), so a hive taken from a real server works and a
// change is seen by the next call. Every call checks, in Windows' order: an
// injected failure, the server, that the Spooler service is running, the
// level, then its arguments. Buffers are filled as Windows fills them:
// records first, then their texts and blobs; a buffer that is too small gets
// nothing but the size it needs.
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <map>

#include "platform/sim/service_state.h"
#include "platform/sim/spooler_model.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

using namespace sim::spool;

namespace {

// Windows refuses longer printer names.
constexpr size_t kMaxPrinterName = 220;
constexpr DWORD kSettableAttributes =
    PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_HIDDEN |
    PRINTER_ATTRIBUTE_ENABLE_DEVQ | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST |
    PRINTER_ATTRIBUTE_WORK_OFFLINE | PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::wstring Text(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

std::wstring WithoutPrefix(LPCWSTR server) {
    std::wstring name = Text(server);
    while (!name.empty() && name.front() == L'\\') name.erase(0, 1);
    return name;
}

struct Spooler {
    std::wstring machine;
    std::shared_ptr<sim::Hive> hive;
    const std::shared_ptr<sim::RegKey>& Root() const { return hive->root; }
    void Changed() const { hive->dirty = true; }
};

// The spooler of a resolved machine, when its service runs.
DWORD OpenSpooler(const std::wstring& machine, Spooler& spooler) {
    if (sim::ServiceRunState(machine, L"Spooler") != SERVICE_RUNNING) return RPC_S_SERVER_UNAVAILABLE;
    DWORD error = ERROR_SUCCESS;
    spooler.hive = sim::MachineHive(machine, error);
    if (!spooler.hive) return error ? error : ERROR_BADDB;
    spooler.machine = machine;
    return ERROR_SUCCESS;
}

// Fault, server, spooler: the first checks of every call that names a server.
DWORD Reach(const char* function, LPCWSTR server, const std::vector<std::wstring>& args, DWORD unreachable,
            Spooler& spooler) {
    std::wstring machine;
    DWORD error = sim::ResolveMachine(server, machine, unreachable);
    if (DWORD fault = sim::InjectedFault(function, error ? WithoutPrefix(server) : machine, args)) return fault;
    if (error) return error;
    return OpenSpooler(machine, spooler);
}

// ---- buffers ----------------------------------------------------------------

size_t RoundUp(size_t n) { return (n + 7) & ~size_t(7); }

// Places texts and blobs after the records; with no base it only measures.
class Packer {
public:
    Packer(LPBYTE base, size_t start) : base_(base), next_(start) {}

    LPWSTR Text(const std::wstring& text) { return Chars(text.c_str(), text.size() + 1); }
    LPWSTR OptionalText(const std::wstring& text) { return text.empty() ? nullptr : Text(text); }
    // Texts each with its NUL, then one more NUL; null for none.
    LPWSTR List(const std::vector<std::wstring>& texts) {
        if (texts.empty()) return nullptr;
        std::wstring joined;
        for (const auto& text : texts) joined += text + L'\0';
        return Chars(joined.c_str(), joined.size() + 1);
    }
    LPBYTE Blob(const std::vector<BYTE>& data) {
        if (data.empty()) return nullptr;
        LPBYTE at = base_ ? base_ + next_ : nullptr;
        if (at) std::memcpy(at, data.data(), data.size());
        next_ = RoundUp(next_ + data.size());
        return at;
    }
    size_t Used() const { return next_; }

private:
    LPWSTR Chars(const wchar_t* chars, size_t count) {
        LPWSTR at = base_ ? reinterpret_cast<LPWSTR>(base_ + next_) : nullptr;
        if (at) std::memcpy(at, chars, count * sizeof(WCHAR));
        next_ = RoundUp(next_ + count * sizeof(WCHAR));
        return at;
    }

    LPBYTE base_;
    size_t next_;
};

// The buffer arguments of every call that returns records.
DWORD CheckBuffer(LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (!needed) return RPC_X_NULL_REF_POINTER;
    if (!buffer && size != 0) return ERROR_INVALID_USER_BUFFER;
    return ERROR_SUCCESS;
}

template <class Record, class Item, class Fill>
BOOL Return(const std::vector<Item>& items, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned,
            Fill fill) {
    const size_t records = RoundUp(items.size() * sizeof(Record));
    Packer measure(nullptr, records);
    for (const auto& item : items) {
        Record scratch{};
        fill(item, scratch, measure);
    }
    const size_t total = measure.Used();
    if (total > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    *needed = static_cast<DWORD>(total);
    if (returned) *returned = 0;
    if (size < total) return Fail(ERROR_INSUFFICIENT_BUFFER);
    Packer write(buffer, records);
    auto* out = reinterpret_cast<Record*>(buffer);
    for (size_t i = 0; i < items.size(); ++i) {
        out[i] = Record{};
        fill(items[i], out[i], write);
    }
    if (returned) *returned = static_cast<DWORD>(items.size());
    return TRUE;
}

// ---- printers ---------------------------------------------------------------

std::vector<BYTE> HostDevMode(const std::vector<BYTE>& windows) {
    std::vector<BYTE> host;
    if (windows.empty() || !DevModeToHost(windows, host)) return {};
    return host;
}

// A stored descriptor is handed out only when every part lies inside it.
bool UsableSecurity(const std::vector<BYTE>& data) {
    if (data.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || data[0] != SECURITY_DESCRIPTOR_REVISION) return false;
    SECURITY_DESCRIPTOR_RELATIVE header;
    std::memcpy(&header, data.data(), sizeof header);
    if (!(header.Control & SE_SELF_RELATIVE)) return false;
    for (DWORD offset : {header.Owner, header.Group, header.Sacl, header.Dacl})
        if (offset != 0 && (offset < sizeof header || offset + 8 > data.size())) return false;
    std::vector<BYTE> copy = data;
    return IsValidSecurityDescriptor(copy.data()) && GetSecurityDescriptorLength(copy.data()) <= copy.size();
}

void FillPrinter(const Printer& printer, const std::wstring& serverText, bool withSecurity, PRINTER_INFO_2W& r,
                 Packer& k) {
    r.pServerName = k.OptionalText(serverText);
    r.pPrinterName = k.Text(serverText.empty() ? printer.name : serverText + L"\\" + printer.name);
    r.pShareName = k.Text(printer.shareName);
    r.pPortName = k.Text(printer.port);
    r.pDriverName = k.Text(printer.driver);
    r.pComment = k.Text(printer.comment);
    r.pLocation = k.Text(printer.location);
    r.pDevMode = reinterpret_cast<LPDEVMODEW>(k.Blob(HostDevMode(printer.devMode)));
    r.pSepFile = k.Text(printer.sepFile);
    r.pPrintProcessor = k.Text(printer.printProcessor);
    r.pDatatype = k.Text(printer.datatype);
    r.pParameters = k.Text(printer.parameters);
    r.pSecurityDescriptor = withSecurity && UsableSecurity(printer.security) ? k.Blob(printer.security) : nullptr;
    r.Attributes = printer.attributes;
    r.Priority = printer.priority;
    r.DefaultPriority = printer.defaultPriority;
    r.StartTime = printer.startTime;
    r.UntilTime = printer.untilTime;
    r.Status = printer.status;
    r.cJobs = 0;
    r.AveragePPM = 0;
}

bool ValidPrinterName(const std::wstring& name) {
    return !name.empty() && name.size() <= kMaxPrinterName && name.find_first_of(L"\\,!") == std::wstring::npos;
}

bool ValidShareName(const std::wstring& name) {
    if (name.empty() || name.size() > NNLEN) return false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"\"\\/[]:|<>+;,?*=", c)) return false;
    return true;
}

// A separator file is a path on the print server; a relative one is in its system folder.
bool SeparatorFileExists(const std::wstring& machine, const std::wstring& path) {
    std::wstring full = path;
    if (full.size() < 2 || full[1] != L':') full = L"C:\\WINDOWS\\System32\\" + full;
    std::wstring unc = L"\\\\" + machine + L"\\" + full[0] + L"$" + full.substr(2);
    std::filesystem::path host;
    std::error_code ec;
    return sim::MapPath(unc, host) == ERROR_SUCCESS && std::filesystem::is_regular_file(host, ec);
}

bool PortsListed(const Spooler& spooler, const std::wstring& ports) {
    if (ports.empty()) return false;
    size_t start = 0;
    while (start <= ports.size()) {
        size_t comma = ports.find(L',', start);
        if (comma == std::wstring::npos) comma = ports.size();
        if (!HasPort(spooler.Root(), ports.substr(start, comma - start))) return false;
        start = comma + 1;
    }
    return true;
}

// The checks AddPrinterW and SetPrinterW share, in Windows' order; fills
// `printer` from the record. `current` is the printer being changed, or
// null for a new one.
DWORD CheckRecord(const Spooler& spooler, const PRINTER_INFO_2W& info, const Printer* current, Printer& printer) {
    std::wstring name = Text(info.pPrinterName);
    if (!current) {
        if (!ValidPrinterName(name)) return ERROR_INVALID_PRINTER_NAME;
        if (PrinterKey(spooler.Root(), name)) return ERROR_PRINTER_ALREADY_EXISTS;
        printer = Printer{};
        printer.name = name;
    } else {
        // Renaming a printer is not simulated.
        if (!corvan::EqualsNoCase(name, current->name)) return ERROR_NOT_SUPPORTED;
        printer = *current;
    }
    printer.port = Text(info.pPortName);
    if (!PortsListed(spooler, printer.port)) return ERROR_UNKNOWN_PORT;
    printer.driver = Text(info.pDriverName);
    if (!HasDriver(spooler.Root(), printer.driver)) return ERROR_UNKNOWN_PRINTER_DRIVER;
    printer.printProcessor = Text(info.pPrintProcessor);
    if (!HasPrintProcessor(spooler.Root(), printer.printProcessor)) return ERROR_UNKNOWN_PRINTPROCESSOR;
    printer.datatype = info.pDatatype && *info.pDatatype ? info.pDatatype : L"RAW";
    if (!ProcessorTakesDatatype(printer.printProcessor, printer.datatype)) return ERROR_INVALID_DATATYPE;
    printer.sepFile = Text(info.pSepFile);
    if (!printer.sepFile.empty() && !SeparatorFileExists(spooler.machine, printer.sepFile))
        return ERROR_INVALID_SEPARATOR_FILE;
    if (info.Priority > MAX_PRIORITY || info.DefaultPriority > MAX_PRIORITY) return ERROR_INVALID_PRIORITY;
    printer.shareName = Text(info.pShareName);
    if ((info.Attributes & PRINTER_ATTRIBUTE_SHARED) &&
        (!ValidShareName(printer.shareName) || ShareNameTaken(spooler.Root(), printer.shareName, printer.name)))
        return ERROR_INVALID_SHARENAME;
    if (info.pDevMode) {
        if (!DevModeFromHost(info.pDevMode, printer.devMode)) return ERROR_INVALID_PARAMETER;
    } else if (!current) {
        printer.devMode = DefaultDevMode(name);
    }
    if (info.pSecurityDescriptor) {
        if (!MergeSecurity(current ? current->security : std::vector<BYTE>(), info.pSecurityDescriptor,
                           printer.security))
            return ERROR_INVALID_SECURITY_DESCR;
    } else if (!current) {
        printer.security = DefaultSecurity();
    }

    printer.comment = Text(info.pComment);
    printer.location = Text(info.pLocation);
    printer.parameters = Text(info.pParameters);
    DWORD published = current && (info.Attributes & PRINTER_ATTRIBUTE_SHARED)
                          ? current->attributes & PRINTER_ATTRIBUTE_PUBLISHED
                          : 0;
    printer.attributes = (info.Attributes & kSettableAttributes) | PRINTER_ATTRIBUTE_LOCAL | published;
    printer.priority = info.Priority;
    printer.defaultPriority = info.DefaultPriority;
    printer.startTime = info.StartTime;
    printer.untilTime = info.UntilTime;
    return ERROR_SUCCESS;
}

// ---- printer handles --------------------------------------------------------

struct PrinterHandle {
    std::wstring machine;
    std::wstring printer;     // empty for a handle of the server itself
    std::wstring serverText;  // "\\MACHINE" when opened by a qualified name
    DWORD access = 0;
    bool deleted = false;
};

struct HandleTable {
    std::map<uintptr_t, PrinterHandle> handles;
    uintptr_t next = 0x7d0010;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

HANDLE NewHandle(PrinterHandle entry) {
    HandleTable& table = Handles();
    uintptr_t value = table.next;
    table.next += 0x10;
    table.handles.emplace(value, std::move(entry));
    return reinterpret_cast<HANDLE>(value);
}

DWORD MapPrinterAccess(DWORD access, bool server) {
    if (access == 0) return server ? SERVER_ACCESS_ENUMERATE : PRINTER_ACCESS_USE;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= server ? SERVER_ALL_ACCESS : PRINTER_ALL_ACCESS;
    if (access & GENERIC_READ) access |= PRINTER_READ;
    if (access & GENERIC_WRITE) access |= PRINTER_WRITE;
    if (access & GENERIC_EXECUTE) access |= PRINTER_EXECUTE;
    return access & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | MAXIMUM_ALLOWED);
}

// Handle, fault, server, spooler, deletion: the first checks of every call on
// a printer handle.
DWORD EnterPrinter(HANDLE handle, const char* function, PrinterHandle*& entry, Spooler& spooler) {
    auto& handles = Handles().handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end() || it->second.printer.empty()) return ERROR_INVALID_HANDLE;
    entry = &it->second;
    if (DWORD fault = sim::InjectedFault(function, entry->machine, {entry->printer})) return fault;
    std::wstring machine;
    if (sim::ResolveMachine(entry->machine.c_str(), machine, RPC_S_SERVER_UNAVAILABLE))
        return RPC_S_SERVER_UNAVAILABLE;
    if (DWORD error = OpenSpooler(machine, spooler)) return error;
    if (entry->deleted || !PrinterKey(spooler.Root(), entry->printer)) return ERROR_PRINTER_DELETED;
    return ERROR_SUCCESS;
}

bool Has(const PrinterHandle& entry, DWORD access) { return (entry.access & access) == access; }

}  // namespace

// ---- ports and drivers --------------------------------------------------------

BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    Spooler spooler;
    if (DWORD error = Reach("EnumPortsW", pName, {}, RPC_S_SERVER_UNAVAILABLE, spooler)) return Fail(error);
    if (Level != 1 && Level != 2) return Fail(ERROR_INVALID_LEVEL);
    if (!pcReturned) return Fail(RPC_X_NULL_REF_POINTER);
    if (DWORD error = CheckBuffer(pPorts, cbBuf, pcbNeeded)) return Fail(error);
    std::vector<Port> ports = ListPorts(spooler.Root());
    if (Level == 1)
        return Return<PORT_INFO_1W>(ports, pPorts, cbBuf, pcbNeeded, pcReturned,
                                    [](const Port& port, PORT_INFO_1W& r, Packer& k) { r.pName = k.Text(port.name); });
    return Return<PORT_INFO_2W>(ports, pPorts, cbBuf, pcbNeeded, pcReturned,
                                [](const Port& port, PORT_INFO_2W& r, Packer& k) {
                                    r.pPortName = k.Text(port.name);
                                    r.pMonitorName = k.Text(port.monitor);
                                    r.pDescription = k.Text(port.description);
                                    r.fPortType = port.type;
                                    r.Reserved = 0;
                                });
}

BOOL WINAPI EnumPrinterDriversW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                                LPDWORD pcbNeeded, LPDWORD pcReturned) {
    Spooler spooler;
    if (DWORD error = Reach("EnumPrinterDriversW", pName, {}, RPC_S_SERVER_UNAVAILABLE, spooler))
        return Fail(error);
    if (Level != 3) return Fail(ERROR_INVALID_LEVEL);
    if (pEnvironment && !corvan::EqualsNoCase(pEnvironment, kEnvironment)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (!pcReturned) return Fail(RPC_X_NULL_REF_POINTER);
    if (DWORD error = CheckBuffer(pDriverInfo, cbBuf, pcbNeeded)) return Fail(error);
    return Return<DRIVER_INFO_3W>(ListDrivers(spooler.Root()), pDriverInfo, cbBuf, pcbNeeded, pcReturned,
                                  [](const Driver& driver, DRIVER_INFO_3W& r, Packer& k) {
                                      r.cVersion = driver.version;
                                      r.pName = k.Text(driver.name);
                                      r.pEnvironment = k.Text(kEnvironment);
                                      r.pDriverPath = k.Text(driver.driverPath);
                                      r.pDataFile = k.Text(driver.dataFile);
                                      r.pConfigFile = k.Text(driver.configFile);
                                      r.pHelpFile = k.OptionalText(driver.helpFile);
                                      r.pDependentFiles = k.List(driver.dependentFiles);
                                      r.pMonitorName = k.OptionalText(driver.monitor);
                                      r.pDefaultDataType = k.OptionalText(driver.defaultDatatype);
                                  });
}

BOOL WINAPI AddPrinterDriverW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo) {
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(pDriverInfo);
    std::wstring driverName = Level == 3 && info ? Text(info->pName) : std::wstring();
    Spooler spooler;
    if (DWORD error = Reach("AddPrinterDriverW", pName, {driverName}, RPC_S_SERVER_UNAVAILABLE, spooler))
        return Fail(error);
    if (Level != 3) return Fail(ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    if (info->pEnvironment && !corvan::EqualsNoCase(info->pEnvironment, kEnvironment))
        return Fail(ERROR_INVALID_ENVIRONMENT);
    // The simulated spooler keeps kernel-mode (2) and user-mode (3) drivers.
    if (driverName.empty() || (info->cVersion != 2 && info->cVersion != 3) || Text(info->pDriverPath).empty() ||
        Text(info->pDataFile).empty() || Text(info->pConfigFile).empty())
        return Fail(ERROR_INVALID_PARAMETER);
    Driver driver;
    driver.version = info->cVersion;
    driver.name = driverName;
    driver.driverPath = Text(info->pDriverPath);
    driver.dataFile = Text(info->pDataFile);
    driver.configFile = Text(info->pConfigFile);
    driver.helpFile = Text(info->pHelpFile);
    for (const WCHAR* file = info->pDependentFiles; file && *file; file += std::wcslen(file) + 1)
        driver.dependentFiles.emplace_back(file);
    driver.monitor = Text(info->pMonitorName);
    driver.defaultDatatype = Text(info->pDefaultDataType);
    WriteDriver(spooler.Root(), driver);
    spooler.Changed();
    return TRUE;
}

// ---- printers -----------------------------------------------------------------

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    const bool byName = (Flags & PRINTER_ENUM_NAME) && !(Flags & PRINTER_ENUM_LOCAL) && Name && *Name;
    Spooler spooler;
    if (DWORD error = Reach("EnumPrintersW", byName ? Name : nullptr, {}, RPC_S_SERVER_UNAVAILABLE, spooler))
        return Fail(error);
    if (Level != 2) return Fail(ERROR_INVALID_LEVEL);
    if (!pcReturned) return Fail(RPC_X_NULL_REF_POINTER);
    if (DWORD error = CheckBuffer(pPrinterEnum, cbBuf, pcbNeeded)) return Fail(error);

    std::vector<Printer> printers;
    std::shared_ptr<sim::RegKey> all = sim::FindKey(spooler.Root(), kPrintersKey);
    if (all && (Flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME))) {
        for (const auto& key : all->Subkeys()) {
            Printer printer = ReadPrinter(*key);
            if ((Flags & PRINTER_ENUM_SHARED) && !(printer.attributes & PRINTER_ATTRIBUTE_SHARED)) continue;
            printers.push_back(std::move(printer));
        }
    }
    const std::wstring serverText = byName ? L"\\\\" + spooler.machine : std::wstring();
    return Return<PRINTER_INFO_2W>(printers, pPrinterEnum, cbBuf, pcbNeeded, pcReturned,
                                   [&](const Printer& printer, PRINTER_INFO_2W& r, Packer& k) {
                                       FillPrinter(printer, serverText, true, r, k);
                                   });
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    std::wstring name = Text(pPrinterName);
    std::wstring server, printer = name;
    bool qualified = corvan::StartsWithNoCase(name, L"\\\\");
    if (qualified) {
        std::wstring rest = name.substr(2);
        size_t slash = rest.find(L'\\');
        server = rest.substr(0, slash);
        printer = slash == std::wstring::npos ? std::wstring() : rest.substr(slash + 1);
    }
    std::wstring machine;
    DWORD error = sim::ResolveMachine(qualified ? server.c_str() : nullptr, machine, ERROR_INVALID_PRINTER_NAME);
    if (DWORD fault = sim::InjectedFault("OpenPrinterW", error ? server : machine, {printer})) return Fail(fault);
    if (error) return Fail(error);
    Spooler spooler;
    if (DWORD status = OpenSpooler(machine, spooler)) return Fail(status);
    if (!phPrinter) return Fail(ERROR_INVALID_PARAMETER);

    PrinterHandle entry;
    entry.machine = machine;
    entry.serverText = qualified ? L"\\\\" + machine : std::wstring();
    if (!printer.empty()) {
        std::shared_ptr<sim::RegKey> key = PrinterKey(spooler.Root(), printer);
        if (!key) {
            // A printer is also reached by its share name.
            std::shared_ptr<sim::RegKey> all = sim::FindKey(spooler.Root(), kPrintersKey);
            for (size_t i = 0; all && !key && i < all->Subkeys().size(); ++i) {
                Printer candidate = ReadPrinter(*all->Subkeys()[i]);
                if ((candidate.attributes & PRINTER_ATTRIBUTE_SHARED) &&
                    corvan::EqualsNoCase(candidate.shareName, printer))
                    key = all->Subkeys()[i];
            }
        }
        if (!key) return Fail(ERROR_INVALID_PRINTER_NAME);
        entry.printer = key->Name();
    }
    entry.access = MapPrinterAccess(pDefault ? pDefault->DesiredAccess : 0, entry.printer.empty());
    *phPrinter = NewHandle(std::move(entry));
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    if (Handles().handles.erase(reinterpret_cast<uintptr_t>(hPrinter)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    PrinterHandle* entry = nullptr;
    Spooler spooler;
    if (DWORD error = EnterPrinter(hPrinter, "GetPrinterW", entry, spooler)) return Fail(error);
    if (Level != 2 && Level != 3) return Fail(ERROR_INVALID_LEVEL);
    if (Level == 3 && !Has(*entry, READ_CONTROL)) return Fail(ERROR_ACCESS_DENIED);
    if (DWORD error = CheckBuffer(pPrinter, cbBuf, pcbNeeded)) return Fail(error);
    std::vector<Printer> one = {ReadPrinter(*PrinterKey(spooler.Root(), entry->printer))};
    const bool withSecurity = Has(*entry, READ_CONTROL);
    if (Level == 3)
        return Return<PRINTER_INFO_3>(one, pPrinter, cbBuf, pcbNeeded, nullptr,
                                      [](const Printer& printer, PRINTER_INFO_3& r, Packer& k) {
                                          r.pSecurityDescriptor =
                                              UsableSecurity(printer.security) ? k.Blob(printer.security) : nullptr;
                                      });
    return Return<PRINTER_INFO_2W>(one, pPrinter, cbBuf, pcbNeeded, nullptr,
                                   [&](const Printer& printer, PRINTER_INFO_2W& r, Packer& k) {
                                       FillPrinter(printer, entry->serverText, withSecurity, r, k);
                                   });
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
    std::wstring printerName = Level == 2 && info ? Text(info->pPrinterName) : std::wstring();
    Spooler spooler;
    DWORD error = Reach("AddPrinterW", pName, {printerName}, RPC_S_SERVER_UNAVAILABLE, spooler);
    if (!error && Level != 2) error = ERROR_INVALID_LEVEL;
    if (!error && !info) error = ERROR_INVALID_PARAMETER;
    Printer printer;
    if (!error) error = CheckRecord(spooler, *info, nullptr, printer);
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    std::shared_ptr<sim::RegKey> key = spooler.Root();
    for (const auto& part : sim::SplitKeyPath(kPrintersKey)) key = key->AddSubkey(part);
    key = key->AddSubkey(printer.name);
    WritePrinter(*key, printer);
    spooler.Changed();

    PrinterHandle entry;
    entry.machine = spooler.machine;
    entry.printer = printer.name;
    entry.serverText = pName && *pName ? L"\\\\" + spooler.machine : std::wstring();
    entry.access = PRINTER_ALL_ACCESS;
    return NewHandle(std::move(entry));
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    PrinterHandle* entry = nullptr;
    Spooler spooler;
    if (DWORD error = EnterPrinter(hPrinter, "SetPrinterW", entry, spooler)) return Fail(error);
    if (Level != 2 && Level != 3 && Level != 7) return Fail(ERROR_INVALID_LEVEL);
    std::shared_ptr<sim::RegKey> key = PrinterKey(spooler.Root(), entry->printer);
    Printer current = ReadPrinter(*key);
    Printer changed = current;

    if (Level == 2) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
        DWORD needed = PRINTER_ACCESS_ADMINISTER | (info && info->pSecurityDescriptor ? WRITE_DAC : 0);
        if (!Has(*entry, needed)) return Fail(ERROR_ACCESS_DENIED);
        if (!info || Command != 0) return Fail(ERROR_INVALID_PARAMETER);
        if (DWORD error = CheckRecord(spooler, *info, &current, changed)) return Fail(error);
    } else if (Level == 3) {
        if (!Has(*entry, WRITE_DAC)) return Fail(ERROR_ACCESS_DENIED);
        const auto* info = reinterpret_cast<const PRINTER_INFO_3*>(pPrinter);
        if (!info || !info->pSecurityDescriptor || Command != 0) return Fail(ERROR_INVALID_PARAMETER);
        if (!MergeSecurity(current.security, info->pSecurityDescriptor, changed.security))
            return Fail(ERROR_INVALID_SECURITY_DESCR);
    } else {
        if (!Has(*entry, PRINTER_ACCESS_ADMINISTER)) return Fail(ERROR_ACCESS_DENIED);
        const auto* info = reinterpret_cast<const PRINTER_INFO_7W*>(pPrinter);
        if (!info || Command != 0) return Fail(ERROR_INVALID_PARAMETER);
        switch (info->dwAction) {
        case DSPRINT_PUBLISH:
        case DSPRINT_UPDATE:
        case DSPRINT_REPUBLISH:
            changed.attributes |= PRINTER_ATTRIBUTE_PUBLISHED;
            break;
        case DSPRINT_UNPUBLISH:
            changed.attributes &= ~static_cast<DWORD>(PRINTER_ATTRIBUTE_PUBLISHED);
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER);
        }
    }
    WritePrinter(*key, changed);
    spooler.Changed();
    return TRUE;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    PrinterHandle* entry = nullptr;
    Spooler spooler;
    if (DWORD error = EnterPrinter(hPrinter, "DeletePrinter", entry, spooler)) return Fail(error);
    if (!Has(*entry, DELETE)) return Fail(ERROR_ACCESS_DENIED);
    sim::FindKey(spooler.Root(), kPrintersKey)->RemoveSubkey(entry->printer);
    spooler.Changed();
    // Every handle to it now answers that it was deleted.
    for (auto& [value, other] : Handles().handles)
        if (corvan::EqualsNoCase(other.machine, entry->machine) && corvan::EqualsNoCase(other.printer, entry->printer))
            other.deleted = true;
    return TRUE;
}
