// Print servers for tests: the registry a Windows print server keeps (port
// monitors, local ports, print processor, drivers, TCP/IP ports, printers),
// written straight to a machine of the test's world. Binary values are built
// here from named fields, never typed as bytes (test code only).
#pragma once

#include <string>
#include <vector>

#include "platform/sim/testing/win32_files.h"
#include "platform/sim/wintypes.h"

namespace sim {

extern const wchar_t kTestPrintersKey[];
extern const wchar_t kTestTcpMonitorPorts[];
extern const wchar_t kTestLocalPorts[];
extern const wchar_t kTestDrivers3[];

// A device mode in Windows' own layout (2-byte WCHAR, 220 bytes public),
// written member by member from these fields. `size` 0 means the full 220.
struct WindowsDevMode {
    std::wstring deviceName;
    WORD specVersion = 0x0401;
    WORD driverVersion = 0x0600;
    WORD size = 0;
    DWORD fields = 0;
    short orientation = 1, paperSize = 1, paperLength = 0, paperWidth = 0, scale = 100, copies = 1,
          defaultSource = 7, printQuality = 600;
    short color = 1, duplex = 1, yResolution = 600, ttOption = 3, collate = 0;
    std::wstring formName;
    WORD logPixels = 0;
    DWORD bitsPerPel = 0, pelsWidth = 0, pelsHeight = 0, displayFlags = 0, displayFrequency = 0, icmMethod = 0,
          icmIntent = 0, mediaType = 0, ditherType = 0, panningWidth = 0, panningHeight = 0;
    std::vector<BYTE> privateBytes;

    std::vector<BYTE> Bytes() const;
};

// A self-relative descriptor: owner Administrators, then the entries in
// the order given.
using TestAce = win32_files::AceEntry;
std::vector<BYTE> TestDescriptor(const std::vector<TestAce>& entries);

struct TcpIpPortSettings {
    DWORD protocol = 1;  // 1 RAW, 2 LPR
    std::wstring address;
    std::wstring hostName;
    DWORD portNumber = 9100;
    std::wstring queue;
    DWORD doubleSpool = 0;
    std::wstring snmpCommunity = L"public";
    DWORD snmpEnabled = 1;
    DWORD snmpIndex = 1;
};

struct TestPrinter {
    std::wstring name;
    std::wstring shareName;
    std::wstring port;
    std::wstring driver;
    std::wstring comment;
    std::wstring location;
    std::wstring sepFile;
    std::wstring printProcessor = L"winprint";
    std::wstring datatype = L"RAW";
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    DWORD priority = 1;
    std::vector<BYTE> devMode;   // Windows layout; none when empty
    std::vector<BYTE> security;  // none when empty
};

// The spooler running; the Local Port and Standard TCP/IP Port monitors;
// COM1:, LPT1: and FILE:; the winprint processor; the given drivers (version 3).
void AddPrintServer(const std::wstring& machine, const std::vector<std::wstring>& drivers);
void AddDriver(const std::wstring& machine, const std::wstring& driver);
void AddLocalPort(const std::wstring& machine, const std::wstring& name);
void AddTcpIpPort(const std::wstring& machine, const std::wstring& name, const TcpIpPortSettings& settings);
void AddPrinter(const std::wstring& machine, const TestPrinter& printer);

}  // namespace sim
