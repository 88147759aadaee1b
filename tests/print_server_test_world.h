// A print server SRV01 for the end-to-end tests of ports and printers: the
// Standard TCP/IP monitor with three ports, a local file port, drivers, and
// the helpers to back it up, replace it with a fresh server and restore.
// The tool runs on the administrator's machine ADMIN, whose D: drive holds
// the migration folders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_world_test.h"

namespace print_test {

namespace fs = std::filesystem;

inline const std::wstring kLaserDriver = L"HP LaserJet 4000 Series PCL";
inline const std::wstring kPlotterDriver = L"HP DesignJet 500";
inline const std::wstring kOldDriver = L"HP LaserJet 4";
inline const std::wstring kPrinters = sim::kTestPrintersKey;
// The two ways a spooler does not answer: stopped, or its machine out of
// reach (the run then goes on the administrator's machine).
struct SpoolerDown {
    const char* what;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    const char* runOn;
};
inline const SpoolerDown kSpoolerDown[] = {
    {"spooler stopped", L"Services", L"Spooler", L"Stopped", "SRV01"},
    {"server unreachable", L"Machine", L"Reachable", L"0", "ADMIN"},
};

inline const wchar_t kBlocked[] = L"S-1-5-21-1004336348-1177238915-682003330-1300";
inline const wchar_t kPrintUsers[] = L"S-1-5-21-1004336348-1177238915-682003330-1301";


class PrintServerTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"ADMIN");
        AddDirectory(L"ADMIN", L"D:\\");
        AddMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {kLaserDriver, kPlotterDriver, kOldDriver});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {1, L"10.0.0.5", L"laser01.corp", 9100, L"", 0, L"corp-ro", 1, 1});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.6", {2, L"10.0.0.6", L"", 515, L"PLOTQ", 1, L"public", 0, 2});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.9", {1, L"10.0.0.9"});
        sim::AddLocalPort(L"SRV01", L"C:\\out.prn");
    }

    void WriteControl(const std::string& name, const std::string& sections, const std::string& data = "Data") {
        std::ofstream(cwd_ / name) << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
                                      "DefaultDataLocation=D:\\Mig\\"
                                   << data << "\r\n" << sections;
    }
    corvan_test::CorvanRun Run(const std::string& mode, const std::string& control,
                               const std::string& machine = "SRV01") {
        sim::FlushWorld();
        auto run = corvan_test::RunCorvan({mode, "/C:" + control, "/S:" + machine}, cwd_);
        sim::ResetWorld();
        EXPECT_EQ(0, run.exitCode) << run.out << run.err;
        return run;
    }
    // Restores what the backup saved, from a copy of the restore control file
    // beside it whose results go to a folder of their own: a restore begun in
    // the second of the backup would otherwise share its run folder.
    corvan_test::CorvanRun Restore(const std::string& machine = "SRV01") {
        std::string control = ReadHostFile(Migration());
        const std::string key = "DefaultDataLocation=";
        size_t at = control.find(key);
        EXPECT_NE(std::string::npos, at);
        const std::string name = "Restore" + std::to_string(++restores_);
        control.replace(at, control.find('\r', at) - at, key + "D:\\Mig\\" + name);
        std::ofstream(HostPathOf(L"ADMIN", corvan::FromUtf8("D:\\Mig\\" + name + ".ini")), std::ios::binary) << control;
        return Run("/R", "D:\\Mig\\" + name + ".ini", machine);
    }
    // The restore control file the backup wrote.
    fs::path Migration() { return HostPathOf(L"ADMIN", L"D:\\Mig\\ControlRestore.ini"); }
    std::string Outcome(const std::string& key) { return corvan_test::IniValue(Migration(), "Control", key); }
    std::string ControlText() { return ReadHostFile(Migration()); }
    fs::path ResultFile(const std::string& file) {
        return HostPathOf(L"ADMIN", corvan::FromUtf8(Outcome("RestoreLocation") + "\\" + file));
    }
    std::vector<std::string> Report() {
        return corvan_test::Lines(ReadHostFile(HostPathOf(L"ADMIN", L"D:\\Mig\\Log\\SRV01\\SRV01_StatusReport.log")));
    }
    std::string Log(const char* name) {
        std::ifstream in(cwd_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    // Three queues: LASER01, shared on the RAW port, with private device-mode
    // bytes, a list that denies one group first, driver data and a separator
    // page; DESIGN01, an unshared plotter on the LPR port; LASER02, shared
    // on LPT1: with a driver that newer servers replace.
    void AddPrinters() {
        AddDomainAccount(L"CORP\\Print Blocked", kBlocked);
        AddDomainAccount(L"CORP\\Print Users", kPrintUsers);
        AddFile(L"SRV01", L"C:\\WINDOWS\\System32\\sysprint.sep", "\\\n\\N\\n");
        const DWORD shared = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_PUBLISHED;

        sim::TestPrinter laser{L"LASER01", L"LASER01", L"IP_10.0.0.5", kLaserDriver, L"Shared laser", L"Floor 2",
                               L"C:\\WINDOWS\\System32\\sysprint.sep"};
        laser.attributes = shared | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
        laser.devMode = DevMode(L"LASER01", DMORIENT_LANDSCAPE, DMPAPER_LETTER, DMDUP_VERTICAL, {0x4c, 0x4a, 0, 7, 0xff, 1});
        laser.security = sim::TestDescriptor({{ACCESS_DENIED_ACE_TYPE, 0, PRINTER_EXECUTE, kBlocked},
                                              {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                              {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE,
                                               GENERIC_ALL, L"S-1-3-0"},
                                              {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, kPrintUsers}});
        sim::AddPrinter(L"SRV01", laser);
        const std::wstring data = kPrinters + L"\\LASER01\\PrinterDriverData";
        SetRegistryString(L"SRV01", data, L"Model", L"HP LaserJet 4000");
        SetRegistryDword(L"SRV01", data, L"FreeMem", 8192);
        SetRegistryValue(L"SRV01", data + L"\\InstalledOptions", L"Tray3", REG_BINARY, {1, 0, 2, 0});

        sim::TestPrinter plotter{L"DESIGN01", L"", L"IP_10.0.0.6", kPlotterDriver, L"Plotter", L"Floor 3"};
        plotter.attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_QUEUED;
        plotter.devMode = DevMode(L"DESIGN01", DMORIENT_PORTRAIT, DMPAPER_A3, DMDUP_SIMPLEX, {});
        plotter.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                                {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, kPrintUsers}});
        sim::AddPrinter(L"SRV01", plotter);

        sim::TestPrinter old{L"LASER02", L"LASER02", L"LPT1:", kOldDriver, L"", L"Floor 1"};
        old.attributes = shared;
        old.devMode = DevMode(L"LASER02", DMORIENT_PORTRAIT, DMPAPER_A4, DMDUP_SIMPLEX, {9, 9});
        old.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                            {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, L"S-1-1-0"}});
        sim::AddPrinter(L"SRV01", old);
    }
    static std::vector<BYTE> DevMode(const std::wstring& device, short orientation, short paper, short duplex,
                                     const std::vector<BYTE>& privateBytes) {
        sim::WindowsDevMode mode;
        mode.deviceName = device;
        mode.formName = paper == DMPAPER_LETTER ? L"Letter" : paper == DMPAPER_A3 ? L"A3" : L"A4";
        mode.fields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DUPLEX | DM_FORMNAME;
        mode.orientation = orientation;
        mode.paperSize = paper;
        mode.duplex = duplex;
        mode.privateBytes = privateBytes;
        return mode.Bytes();
    }
    // The lines of a key and its subkeys in the machine's hive file.
    std::string KeyText(const std::wstring& key) {
        sim::FlushWorld();
        std::string text = ReadHostFile(WorldRoot() / "SRV01" / "HKLM.reg"), out;
        const std::string head = "[HKEY_LOCAL_MACHINE\\" + corvan::ToUtf8(key);
        for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
            char next = text[at + head.size()];
            if (next != ']' && next != '\\') continue;
            out += text.substr(at, text.find("\n\n", at) - at) + "\n";
        }
        return out;
    }

    // The machine comes back as a fresh print server: same name, drives and
    // accounts, the monitors, processor and the given drivers, no ports or printers.
    void ReplaceMachine(const std::vector<std::wstring>& drivers) {
        sim::ResetWorld();
        fs::remove(WorldRoot() / "SRV01" / "HKLM.reg");
        sim::ResetWorld();
        sim::AddPrintServer(L"SRV01", drivers);
    }

    int restores_ = 0;
};

}  // namespace print_test
