#include "platform/sim/spooler_model.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/sid_text.h"
#include "platform/sim/winapi.h"
#include "platform/text.h"

namespace sim::spool {

const wchar_t kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const wchar_t kMonitorsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const wchar_t kLocalPortsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86";
const wchar_t kEnvironment[] = L"Windows NT x86";
const wchar_t kLocalPortMonitor[] = L"Local Port";

namespace {

constexpr wchar_t kSharesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
constexpr wchar_t kDriverDirectory[] = L"C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86";
const wchar_t* const kDriverVersions[] = {L"Version-2", L"Version-3"};

std::wstring Text(const RegKey& key, const wchar_t* name) {
    const RegValue* value = key.Value(name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return L"";
    return BytesToText(value->data);
}

DWORD Number(const RegKey& key, const wchar_t* name, DWORD fallback = 0) {
    const RegValue* value = key.Value(name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return fallback;
    DWORD number;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

std::vector<BYTE> Binary(const RegKey& key, const wchar_t* name) {
    const RegValue* value = key.Value(name);
    return value && value->type == REG_BINARY ? value->data : std::vector<BYTE>();
}

// COM and LPT ports read and write, file ports only write, a port naming
// another server's queue is redirected.
DWORD LocalPortType(const std::wstring& name) {
    if (corvan::StartsWithNoCase(name, L"\\\\")) return PORT_TYPE_WRITE | PORT_TYPE_REDIRECTED;
    if (corvan::EqualsNoCase(name, L"FILE:") || name.find(L'\\') != std::wstring::npos) return PORT_TYPE_WRITE;
    return PORT_TYPE_WRITE | PORT_TYPE_READ;
}

// Monitors that serve ports of their own: those with a "Driver" value.
template <class Visit>
void ForEachPortMonitor(const std::shared_ptr<RegKey>& root, Visit visit) {
    std::shared_ptr<RegKey> monitors = FindKey(root, kMonitorsKey);
    if (!monitors) return;
    for (const auto& monitor : monitors->Subkeys()) {
        if (!monitor->Value(L"Driver")) continue;
        if (std::shared_ptr<RegKey> ports = monitor->Subkey(L"Ports"))
            if (!visit(*monitor, *ports)) return;
    }
}

std::wstring FileName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FullDriverPath(const std::wstring& file, const std::wstring& versionKey) {
    if (file.empty() || file.find(L'\\') != std::wstring::npos) return file;
    return std::wstring(kDriverDirectory) + L"\\" + versionKey.substr(versionKey.find(L'-') + 1) + L"\\" + file;
}

void SetText(RegKey& key, const wchar_t* name, const std::wstring& text) { key.SetValue(name, REG_SZ, TextBytes(text)); }

void SetNumber(RegKey& key, const wchar_t* name, DWORD number) { key.SetValue(name, REG_DWORD, DwordBytes(number)); }

}  // namespace

// ---- ports ----------------------------------------------------------------

std::vector<Port> ListPorts(const std::shared_ptr<RegKey>& root) {
    std::vector<Port> ports;
    if (std::shared_ptr<RegKey> local = FindKey(root, kLocalPortsKey)) {
        for (const auto& value : local->Values())
            ports.push_back({value.name, kLocalPortMonitor, kLocalPortMonitor, LocalPortType(value.name)});
    }
    ForEachPortMonitor(root, [&](const RegKey& monitor, const RegKey& monitorPorts) {
        for (const auto& port : monitorPorts.Subkeys())
            ports.push_back({port->Name(), monitor.Name(), monitor.Name(),
                             PORT_TYPE_WRITE | PORT_TYPE_READ | PORT_TYPE_NET_ATTACHED});
        return true;
    });
    return ports;
}

bool HasPort(const std::shared_ptr<RegKey>& root, const std::wstring& name) {
    if (name.empty()) return false;
    std::shared_ptr<RegKey> local = FindKey(root, kLocalPortsKey);
    if (local && local->Value(name)) return true;
    bool found = false;
    ForEachPortMonitor(root, [&](const RegKey&, const RegKey& monitorPorts) {
        found = monitorPorts.Subkey(name) != nullptr;
        return !found;
    });
    return found;
}

// ---- drivers and print processors -----------------------------------------

std::vector<Driver> ListDrivers(const std::shared_ptr<RegKey>& root) {
    std::vector<Driver> drivers;
    std::shared_ptr<RegKey> all = FindKey(root, std::wstring(kEnvironmentKey) + L"\\Drivers");
    if (!all) return drivers;
    for (const wchar_t* versionKey : kDriverVersions) {
        std::shared_ptr<RegKey> version = all->Subkey(versionKey);
        if (!version) continue;
        DWORD versionNumber = versionKey[8] - L'0';
        for (const auto& key : version->Subkeys()) {
            if (!key->Value(L"Driver")) continue;
            Driver driver;
            driver.version = Number(*key, L"Version", versionNumber);
            driver.name = key->Name();
            driver.driverPath = FullDriverPath(Text(*key, L"Driver"), versionKey);
            driver.dataFile = FullDriverPath(Text(*key, L"Data File"), versionKey);
            driver.configFile = FullDriverPath(Text(*key, L"Configuration File"), versionKey);
            driver.helpFile = FullDriverPath(Text(*key, L"Help File"), versionKey);
            if (const RegValue* files = key->Value(L"Dependent Files"); files && files->type == REG_MULTI_SZ)
                for (const auto& file : BytesToMultiText(files->data))
                    driver.dependentFiles.push_back(FullDriverPath(file, versionKey));
            driver.monitor = Text(*key, L"Monitor");
            driver.defaultDatatype = Text(*key, L"Datatype");
            drivers.push_back(std::move(driver));
        }
    }
    return drivers;
}

bool HasDriver(const std::shared_ptr<RegKey>& root, const std::wstring& name) {
    if (name.empty()) return false;
    std::shared_ptr<RegKey> all = FindKey(root, std::wstring(kEnvironmentKey) + L"\\Drivers");
    if (!all) return false;
    for (const wchar_t* versionKey : kDriverVersions) {
        std::shared_ptr<RegKey> version = all->Subkey(versionKey);
        std::shared_ptr<RegKey> driver = version ? version->Subkey(name) : nullptr;
        if (driver && driver->Value(L"Driver")) return true;
    }
    return false;
}

void WriteDriver(const std::shared_ptr<RegKey>& root, const Driver& driver) {
    std::shared_ptr<RegKey> key = root;
    for (const auto& part : SplitKeyPath(std::wstring(kEnvironmentKey) + L"\\Drivers\\Version-" +
                                         std::to_wstring(driver.version) + L"\\" + driver.name))
        key = key->AddSubkey(part);
    SetText(*key, L"Configuration File", FileName(driver.configFile));
    SetText(*key, L"Data File", FileName(driver.dataFile));
    SetText(*key, L"Driver", FileName(driver.driverPath));
    SetText(*key, L"Help File", FileName(driver.helpFile));
    SetText(*key, L"Monitor", driver.monitor);
    SetText(*key, L"Datatype", driver.defaultDatatype);
    std::vector<std::wstring> files;
    for (const auto& file : driver.dependentFiles) files.push_back(FileName(file));
    key->SetValue(L"Dependent Files", REG_MULTI_SZ, MultiTextBytes(files));
    SetNumber(*key, L"Version", driver.version);
}

bool HasPrintProcessor(const std::shared_ptr<RegKey>& root, const std::wstring& name) {
    if (name.empty()) return false;
    std::shared_ptr<RegKey> processor = FindKey(root, std::wstring(kEnvironmentKey) + L"\\Print Processors\\" + name);
    return processor && processor->Value(L"Driver");
}

bool ProcessorTakesDatatype(const std::wstring& processor, const std::wstring& datatype) {
    // The processor that comes with Windows; any other is taken to print raw data only.
    static const wchar_t* const winprint[] = {L"RAW",          L"RAW [FF appended]", L"RAW [FF auto]",
                                              L"NT EMF 1.003", L"NT EMF 1.006",      L"NT EMF 1.007",
                                              L"NT EMF 1.008", L"TEXT"};
    if (!corvan::EqualsNoCase(processor, L"winprint")) return corvan::EqualsNoCase(datatype, L"RAW");
    return std::any_of(std::begin(winprint), std::end(winprint),
                       [&](const wchar_t* known) { return corvan::EqualsNoCase(datatype, known); });
}

// ---- printers -------------------------------------------------------------

std::shared_ptr<RegKey> PrinterKey(const std::shared_ptr<RegKey>& root, const std::wstring& name) {
    if (name.empty()) return nullptr;
    std::shared_ptr<RegKey> printers = FindKey(root, kPrintersKey);
    return printers ? printers->Subkey(name) : nullptr;
}

Printer ReadPrinter(const RegKey& key) {
    Printer printer;
    printer.name = key.Name();
    printer.shareName = Text(key, L"Share Name");
    printer.port = Text(key, L"Port");
    printer.driver = Text(key, L"Printer Driver");
    printer.comment = Text(key, L"Description");
    printer.location = Text(key, L"Location");
    printer.sepFile = Text(key, L"Separator File");
    printer.printProcessor = Text(key, L"Print Processor");
    printer.datatype = Text(key, L"Datatype");
    printer.parameters = Text(key, L"Parameters");
    printer.attributes = Number(key, L"Attributes");
    printer.priority = Number(key, L"Priority");
    printer.defaultPriority = Number(key, L"Default Priority");
    printer.startTime = Number(key, L"StartTime");
    printer.untilTime = Number(key, L"UntilTime");
    printer.status = Number(key, L"Status");
    printer.devMode = Binary(key, L"Default DevMode");
    printer.security = Binary(key, L"Security");
    return printer;
}

void WritePrinter(RegKey& key, const Printer& printer) {
    SetText(key, L"Name", printer.name);
    SetText(key, L"Share Name", printer.shareName);
    SetText(key, L"Port", printer.port);
    SetText(key, L"Printer Driver", printer.driver);
    SetText(key, L"Description", printer.comment);
    SetText(key, L"Location", printer.location);
    SetText(key, L"Separator File", printer.sepFile);
    SetText(key, L"Print Processor", printer.printProcessor);
    SetText(key, L"Datatype", printer.datatype);
    SetText(key, L"Parameters", printer.parameters);
    SetNumber(key, L"Attributes", printer.attributes);
    SetNumber(key, L"Priority", printer.priority);
    SetNumber(key, L"Default Priority", printer.defaultPriority);
    SetNumber(key, L"StartTime", printer.startTime);
    SetNumber(key, L"UntilTime", printer.untilTime);
    SetNumber(key, L"Status", printer.status);
    key.SetValue(L"Default DevMode", REG_BINARY, printer.devMode);
    key.SetValue(L"Security", REG_BINARY, printer.security);
    key.AddSubkey(L"PrinterDriverData");
}

bool ShareNameTaken(const std::shared_ptr<RegKey>& root, const std::wstring& shareName, const std::wstring& except) {
    std::shared_ptr<RegKey> fileShares = FindKey(root, kSharesKey);
    if (fileShares && fileShares->Value(shareName)) return true;
    std::shared_ptr<RegKey> printers = FindKey(root, kPrintersKey);
    if (!printers) return false;
    // The one place an add looks at the other printers: a share name is not a key.
    for (const auto& key : printers->Subkeys()) {
        if (corvan::EqualsNoCase(key->Name(), except)) continue;
        if ((Number(*key, L"Attributes") & PRINTER_ATTRIBUTE_SHARED) &&
            corvan::EqualsNoCase(Text(*key, L"Share Name"), shareName))
            return true;
    }
    return false;
}

// ---- device modes -----------------------------------------------------------

namespace {

struct Member {
    size_t hostOffset;
    size_t hostSize;
    size_t windowsSize;
    size_t windowsAlign;
    bool text;
};

#define DM_SCALAR(member) {offsetof(DEVMODEW, member), sizeof(DEVMODEW::member), sizeof(DEVMODEW::member), sizeof(DEVMODEW::member), false}
#define DM_TEXT(member, units) {offsetof(DEVMODEW, member), (units) * sizeof(WCHAR), (units) * 2, 2, true}

// Every member in order; the union of printer and display members is 16
// bytes without text, copied as it is.
const Member kMembers[] = {
    DM_TEXT(dmDeviceName, CCHDEVICENAME),
    DM_SCALAR(dmSpecVersion), DM_SCALAR(dmDriverVersion), DM_SCALAR(dmSize), DM_SCALAR(dmDriverExtra),
    DM_SCALAR(dmFields),
    {offsetof(DEVMODEW, dmOrientation), 16, 16, 4, false},
    DM_SCALAR(dmColor), DM_SCALAR(dmDuplex), DM_SCALAR(dmYResolution), DM_SCALAR(dmTTOption), DM_SCALAR(dmCollate),
    DM_TEXT(dmFormName, CCHFORMNAME),
    DM_SCALAR(dmLogPixels), DM_SCALAR(dmBitsPerPel), DM_SCALAR(dmPelsWidth), DM_SCALAR(dmPelsHeight),
    DM_SCALAR(dmDisplayFlags), DM_SCALAR(dmDisplayFrequency), DM_SCALAR(dmICMMethod), DM_SCALAR(dmICMIntent),
    DM_SCALAR(dmMediaType), DM_SCALAR(dmDitherType), DM_SCALAR(dmReserved1), DM_SCALAR(dmReserved2),
    DM_SCALAR(dmPanningWidth), DM_SCALAR(dmPanningHeight),
};

#undef DM_SCALAR
#undef DM_TEXT

constexpr size_t kMemberCount = sizeof kMembers / sizeof kMembers[0];
constexpr size_t kSizeMember = 3;
constexpr size_t kExtraMember = 4;
// dmFields is the last member every device mode has.
constexpr size_t kFieldsMember = 5;

size_t WindowsOffset(size_t index) {
    size_t offset = 0;
    for (size_t i = 0; i < index; ++i) {
        offset = (offset + kMembers[i].windowsAlign - 1) / kMembers[i].windowsAlign * kMembers[i].windowsAlign;
        offset += kMembers[i].windowsSize;
    }
    return (offset + kMembers[index].windowsAlign - 1) / kMembers[index].windowsAlign * kMembers[index].windowsAlign;
}

size_t WindowsEnd(size_t index) { return WindowsOffset(index) + kMembers[index].windowsSize; }
size_t HostEnd(size_t index) { return kMembers[index].hostOffset + kMembers[index].hostSize; }

// The index of the member a public size ends with, or kMemberCount.
template <class End>
size_t LastMember(size_t size, End end) {
    for (size_t i = kFieldsMember; i < kMemberCount; ++i)
        if (end(i) == size) return i;
    return kMemberCount;
}

WORD ReadWord(const BYTE* at) { return static_cast<WORD>(at[0] | (at[1] << 8)); }

void WriteWord(BYTE* at, WORD value) {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>(value >> 8);
}

}  // namespace

bool DevModeToHost(const std::vector<BYTE>& windows, std::vector<BYTE>& host) {
    const size_t sizeAt = WindowsOffset(kSizeMember), extraAt = WindowsOffset(kExtraMember);
    if (windows.size() < extraAt + 2) return false;
    size_t size = ReadWord(windows.data() + sizeAt);
    size_t extra = ReadWord(windows.data() + extraAt);
    size_t last = LastMember(size, WindowsEnd);
    if (last == kMemberCount || windows.size() < size + extra) return false;
    host.assign(HostEnd(last) + extra, 0);
    for (size_t i = 0; i <= last; ++i) {
        const Member& m = kMembers[i];
        const BYTE* from = windows.data() + WindowsOffset(i);
        BYTE* to = host.data() + m.hostOffset;
        if (!m.text) {
            std::memcpy(to, from, m.hostSize);
            continue;
        }
        for (size_t unit = 0; unit < m.windowsSize / 2; ++unit) {
            WCHAR c = ReadWord(from + unit * 2);
            std::memcpy(to + unit * sizeof(WCHAR), &c, sizeof c);
        }
    }
    auto* mode = reinterpret_cast<DEVMODEW*>(host.data());
    mode->dmSize = static_cast<WORD>(HostEnd(last));
    std::memcpy(host.data() + HostEnd(last), windows.data() + size, extra);
    return true;
}

bool DevModeFromHost(const DEVMODEW* host, std::vector<BYTE>& windows) {
    if (!host) return false;
    size_t size = host->dmSize;
    size_t extra = host->dmDriverExtra;
    size_t last = LastMember(size, HostEnd);
    if (last == kMemberCount) return false;
    const BYTE* base = reinterpret_cast<const BYTE*>(host);
    windows.assign(WindowsEnd(last) + extra, 0);
    for (size_t i = 0; i <= last; ++i) {
        const Member& m = kMembers[i];
        BYTE* to = windows.data() + WindowsOffset(i);
        const BYTE* from = base + m.hostOffset;
        if (!m.text) {
            std::memcpy(to, from, m.hostSize);
            continue;
        }
        for (size_t unit = 0; unit < m.windowsSize / 2; ++unit) {
            WCHAR c;
            std::memcpy(&c, from + unit * sizeof(WCHAR), sizeof c);
            WriteWord(to + unit * 2, static_cast<unsigned long>(c) > 0xFFFF ? L'?' : static_cast<WORD>(c));
        }
    }
    WriteWord(windows.data() + WindowsOffset(kSizeMember), static_cast<WORD>(WindowsEnd(last)));
    std::memcpy(windows.data() + WindowsEnd(last), base + size, extra);
    return true;
}

std::vector<BYTE> DefaultDevMode(const std::wstring& printerName) {
    DEVMODEW mode{};
    std::wstring device = printerName.substr(0, CCHDEVICENAME - 1);
    std::copy(device.begin(), device.end(), mode.dmDeviceName);
    mode.dmSpecVersion = DM_SPECVERSION;
    mode.dmDriverVersion = 0x0600;
    mode.dmSize = sizeof(DEVMODEW);
    mode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR |
                    DM_DUPLEX | DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE | DM_FORMNAME;
    mode.dmOrientation = DMORIENT_PORTRAIT;
    mode.dmPaperSize = DMPAPER_LETTER;
    mode.dmScale = 100;
    mode.dmCopies = 1;
    mode.dmDefaultSource = DMBIN_AUTO;
    mode.dmPrintQuality = 600;
    mode.dmColor = DMCOLOR_MONOCHROME;
    mode.dmDuplex = DMDUP_SIMPLEX;
    mode.dmYResolution = 600;
    mode.dmTTOption = DMTT_SUBDEV;
    mode.dmCollate = DMCOLLATE_FALSE;
    const std::wstring form = L"Letter";
    std::copy(form.begin(), form.end(), mode.dmFormName);
    std::vector<BYTE> windows;
    DevModeFromHost(&mode, windows);
    return windows;
}

// ---- security -------------------------------------------------------------

namespace {

std::vector<BYTE> Sid(const wchar_t* text) {
    std::vector<BYTE> sid;
    ParseSidText(text, sid);
    return sid;
}

std::vector<BYTE> SelfRelative(PSECURITY_DESCRIPTOR absolute) {
    DWORD size = 0;
    MakeSelfRelativeSD(absolute, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (size == 0 || !MakeSelfRelativeSD(absolute, bytes.data(), &size)) return {};
    return bytes;
}

struct Parts {
    PSID owner = nullptr;
    PSID group = nullptr;
    BOOL daclPresent = FALSE;
    PACL dacl = nullptr;
    BOOL saclPresent = FALSE;
    PACL sacl = nullptr;
};

bool ReadParts(PSECURITY_DESCRIPTOR descriptor, Parts& parts) {
    BOOL defaulted = FALSE;
    return GetSecurityDescriptorOwner(descriptor, &parts.owner, &defaulted) &&
           GetSecurityDescriptorGroup(descriptor, &parts.group, &defaulted) &&
           GetSecurityDescriptorDacl(descriptor, &parts.daclPresent, &parts.dacl, &defaulted) &&
           GetSecurityDescriptorSacl(descriptor, &parts.saclPresent, &parts.sacl, &defaulted);
}

}  // namespace

std::vector<BYTE> DefaultSecurity() {
    std::vector<BYTE> admins = Sid(L"S-1-5-32-544");
    std::vector<BYTE> creatorOwner = Sid(L"S-1-3-0");
    std::vector<BYTE> everyone = Sid(L"S-1-1-0");
    std::vector<BYTE> aclBuffer(512);
    auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
    InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION);
    AddAccessAllowedAceEx(acl, ACL_REVISION, 0, PRINTER_ALL_ACCESS, admins.data());
    AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, admins.data());
    AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, creatorOwner.data());
    AddAccessAllowedAceEx(acl, ACL_REVISION, 0, PRINTER_EXECUTE, everyone.data());
    SECURITY_DESCRIPTOR absolute;
    InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE);
    absolute.Owner = admins.data();
    return SelfRelative(&absolute);
}

bool MergeSecurity(const std::vector<BYTE>& stored, PSECURITY_DESCRIPTOR given, std::vector<BYTE>& merged) {
    Parts next;
    if (!given || !IsValidSecurityDescriptor(given) || !ReadParts(given, next)) return false;
    std::vector<BYTE> old = stored;
    Parts before;
    if (old.empty() || !IsValidSecurityDescriptor(old.data()) || !ReadParts(old.data(), before)) before = Parts{};

    std::vector<BYTE> admins = Sid(L"S-1-5-32-544");
    SECURITY_DESCRIPTOR absolute;
    InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
    absolute.Owner = next.owner ? next.owner : before.owner ? before.owner : admins.data();
    absolute.Group = next.group ? next.group : before.group;
    if (next.daclPresent)
        SetSecurityDescriptorDacl(&absolute, TRUE, next.dacl, FALSE);
    else if (before.daclPresent)
        SetSecurityDescriptorDacl(&absolute, TRUE, before.dacl, FALSE);
    if (next.saclPresent)
        SetSecurityDescriptorSacl(&absolute, TRUE, next.sacl, FALSE);
    else if (before.saclPresent)
        SetSecurityDescriptorSacl(&absolute, TRUE, before.sacl, FALSE);
    merged = SelfRelative(&absolute);
    return !merged.empty();
}

}  // namespace sim::spool
