#include "platform/sim/testing/print_world.h"

#include <gtest/gtest.h>

#include "platform/sim/hive.h"
#include "platform/sim/sid_text.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace sim {

const wchar_t kTestPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const wchar_t kTestTcpMonitorPorts[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";
const wchar_t kTestLocalPorts[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const wchar_t kTestDrivers3[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-3";

namespace {

const wchar_t kMonitors[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const wchar_t kProcessors[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors";

void Set(const std::wstring& machine, const std::wstring& key, const std::wstring& name, DWORD type,
         const std::vector<BYTE>& data) {
    ASSERT_EQ(0u, RegistrySetValue(machine, key, name, type, data)) << corvan::ToUtf8(key + L"\\" + name);
}

void SetText(const std::wstring& machine, const std::wstring& key, const std::wstring& name, const std::wstring& text) {
    Set(machine, key, name, REG_SZ, TextBytes(text));
}

void SetDword(const std::wstring& machine, const std::wstring& key, const std::wstring& name, DWORD value) {
    Set(machine, key, name, REG_DWORD, DwordBytes(value));
}

class LittleEndian {
public:
    void Put16(unsigned value) {
        bytes.push_back(static_cast<BYTE>(value & 0xFF));
        bytes.push_back(static_cast<BYTE>((value >> 8) & 0xFF));
    }
    void Put32(DWORD value) {
        Put16(value & 0xFFFF);
        Put16(value >> 16);
    }
    // A fixed array of 2-byte characters, NUL-filled.
    void PutChars(const std::wstring& text, size_t units) {
        for (size_t i = 0; i < units; ++i) Put16(i < text.size() ? static_cast<unsigned>(text[i]) : 0);
    }
    std::vector<BYTE> bytes;
};

}  // namespace

std::vector<BYTE> WindowsDevMode::Bytes() const {
    LittleEndian out;
    out.PutChars(deviceName, 32);
    out.Put16(specVersion);
    out.Put16(driverVersion);
    out.Put16(size ? size : 220);
    out.Put16(static_cast<unsigned>(privateBytes.size()));
    out.Put32(fields);
    for (short value : {orientation, paperSize, paperLength, paperWidth, scale, copies, defaultSource, printQuality,
                        color, duplex, yResolution, ttOption, collate})
        out.Put16(static_cast<WORD>(value));
    out.PutChars(formName, 32);
    out.Put16(logPixels);
    for (DWORD value : {bitsPerPel, pelsWidth, pelsHeight, displayFlags, displayFrequency, icmMethod, icmIntent,
                        mediaType, ditherType, DWORD{0}, DWORD{0}, panningWidth, panningHeight})
        out.Put32(value);
    EXPECT_EQ(220u, out.bytes.size());
    out.bytes.insert(out.bytes.end(), privateBytes.begin(), privateBytes.end());
    return out.bytes;
}

std::vector<BYTE> TestDescriptor(const std::vector<TestAce>& entries) {
    std::vector<BYTE> aclBuffer;
    PACL acl = win32_files::BuildAcl(entries, aclBuffer);
    std::vector<BYTE> owner;
    ParseSidText(L"S-1-5-32-544", owner);
    SECURITY_DESCRIPTOR absolute;
    EXPECT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE));
    absolute.Owner = owner.data();
    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<BYTE> bytes(size);
    EXPECT_TRUE(MakeSelfRelativeSD(&absolute, bytes.data(), &size));
    return bytes;
}

void AddPrintServer(const std::wstring& machine, const std::vector<std::wstring>& drivers) {
    SetMachineSetting(machine, L"Services", L"Spooler", L"Running");
    SetDword(machine, L"SYSTEM\\CurrentControlSet\\Services\\Spooler", L"Type", SERVICE_WIN32_OWN_PROCESS);
    SetDword(machine, L"SYSTEM\\CurrentControlSet\\Services\\Spooler", L"Start", SERVICE_AUTO_START);
    SetText(machine, std::wstring(kMonitors) + L"\\Local Port", L"Driver", L"localspl.dll");
    SetText(machine, std::wstring(kMonitors) + L"\\Standard TCP/IP Port", L"Driver", L"tcpmon.dll");
    ASSERT_EQ(0u, RegistryCreateKey(machine, kTestTcpMonitorPorts));
    for (const wchar_t* port : {L"COM1:", L"LPT1:", L"FILE:"}) AddLocalPort(machine, port);
    SetText(machine, std::wstring(kProcessors) + L"\\winprint", L"Driver", L"WINPRINT.DLL");
    for (const auto& driver : drivers) AddDriver(machine, driver);
    FlushWorld();
}

void AddDriver(const std::wstring& machine, const std::wstring& driver) {
    const std::wstring key = std::wstring(kTestDrivers3) + L"\\" + driver;
    SetText(machine, key, L"Driver", L"UNIDRV.DLL");
    SetText(machine, key, L"Data File", driver.substr(0, 4) + L".GPD");
    SetText(machine, key, L"Configuration File", L"UNIDRVUI.DLL");
    SetText(machine, key, L"Help File", L"UNIDRV.HLP");
    Set(machine, key, L"Dependent Files", REG_MULTI_SZ, MultiTextBytes({L"UNIRES.DLL", L"STDNAMES.GPD"}));
    SetText(machine, key, L"Datatype", L"RAW");
    SetDword(machine, key, L"Version", 3);
    FlushWorld();
}

void AddLocalPort(const std::wstring& machine, const std::wstring& name) {
    SetText(machine, kTestLocalPorts, name, L"");
    FlushWorld();
}

void AddTcpIpPort(const std::wstring& machine, const std::wstring& name, const TcpIpPortSettings& s) {
    const std::wstring key = std::wstring(kTestTcpMonitorPorts) + L"\\" + name;
    SetDword(machine, key, L"Protocol", s.protocol);
    SetDword(machine, key, L"Version", 1);
    SetText(machine, key, L"HostName", s.hostName);
    SetText(machine, key, L"IPAddress", s.address);
    SetText(machine, key, L"HWAddress", L"");
    SetDword(machine, key, L"PortNumber", s.portNumber);
    SetText(machine, key, L"SNMP Community", s.snmpCommunity);
    SetDword(machine, key, L"SNMP Enabled", s.snmpEnabled);
    SetDword(machine, key, L"SNMP Index", s.snmpIndex);
    SetText(machine, key, L"Queue", s.queue);
    SetDword(machine, key, L"Double Spool", s.doubleSpool);
    FlushWorld();
}

void AddPrinter(const std::wstring& machine, const TestPrinter& p) {
    const std::wstring key = std::wstring(kTestPrintersKey) + L"\\" + p.name;
    SetText(machine, key, L"Name", p.name);
    SetText(machine, key, L"Share Name", p.shareName);
    SetText(machine, key, L"Port", p.port);
    SetText(machine, key, L"Printer Driver", p.driver);
    SetText(machine, key, L"Description", p.comment);
    SetText(machine, key, L"Location", p.location);
    SetText(machine, key, L"Separator File", p.sepFile);
    SetText(machine, key, L"Print Processor", p.printProcessor);
    SetText(machine, key, L"Datatype", p.datatype);
    SetText(machine, key, L"Parameters", L"");
    SetDword(machine, key, L"Attributes", p.attributes);
    SetDword(machine, key, L"Priority", p.priority);
    for (auto name : {L"Default Priority", L"StartTime", L"UntilTime", L"Status"}) SetDword(machine, key, name, 0);
    if (!p.devMode.empty()) Set(machine, key, L"Default DevMode", REG_BINARY, p.devMode);
    if (!p.security.empty()) Set(machine, key, L"Security", REG_BINARY, p.security);
    ASSERT_EQ(0u, RegistryCreateKey(machine, key + L"\\PrinterDriverData"));
    FlushWorld();
}

}  // namespace sim
