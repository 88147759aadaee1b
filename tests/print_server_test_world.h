// A print server SRV01 for the end-to-end tests of ports and printers: the
// Standard TCP/IP monitor with three ports, a local file port, drivers, and
// the helpers to back it up, replace it with a fresh server and restore.
// The tool runs on the administrator's machine ADMIN, whose D: drive holds
// the migration folders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_process.h"

namespace print_test {

namespace fs = std::filesystem;

inline const std::wstring kLaserDriver = L"HP LaserJet 4000 Series PCL";
inline const std::wstring kPlotterDriver = L"HP DesignJet 500";
inline const std::wstring kOldDriver = L"HP LaserJet 4";

using RegistryValues = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;

class PrintServerTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"ADMIN");
        AddDirectory(L"ADMIN", L"D:\\");
        AddMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {kLaserDriver, kPlotterDriver, kOldDriver});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {1, L"10.0.0.5", L"laser01.corp", 9100, L"", 0, L"corp-ro", 1, 1});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.6", {2, L"10.0.0.6", L"", 515, L"PLOTQ", 1, L"public", 0, 2});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.9", {1, L"10.0.0.9"});
        sim::AddLocalPort(L"SRV01", L"C:\\out.prn");
        cwd_ = WorldRoot().parent_path() / (WorldRoot().filename().string() + "-cwd");
        fs::create_directories(cwd_);
    }
    void TearDown() override {
        fs::remove_all(cwd_);
        SimWorldTest::TearDown();
    }

    void WriteControl(const std::string& name, const std::string& sections) {
        std::ofstream(cwd_ / name) << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
                                      "DefaultDataLocation=D:\\Mig\\Data\r\n"
                                   << sections;
    }
    corvan_test::CorvanRun Run(const std::string& mode, const std::string& control,
                               const std::string& machine = "SRV01") {
        sim::FlushWorld();
        auto run = corvan_test::RunCorvan({mode, "/C:" + control, "/S:" + machine}, cwd_);
        sim::ResetWorld();
        EXPECT_EQ(0, run.exitCode) << run.out << run.err;
        return run;
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

    // The machine comes back as a fresh print server: same name, drives and
    // accounts, the monitors, processor and the given drivers, no ports or printers.
    void ReplaceMachine(const std::vector<std::wstring>& drivers) {
        sim::ResetWorld();
        fs::remove(WorldRoot() / "SRV01" / "HKLM.reg");
        sim::ResetWorld();
        sim::AddPrintServer(L"SRV01", drivers);
    }

    // The values of a TCP/IP port key, as the machine's hive file holds them.
    RegistryValues TcpIpPortValues(const std::wstring& key) {
        RegistryValues values;
        for (const wchar_t* name : {L"Protocol", L"Version", L"HostName", L"IPAddress", L"HWAddress", L"PortNumber",
                                    L"SNMP Community", L"SNMP Enabled", L"SNMP Index", L"Queue", L"Double Spool"}) {
            DWORD type = 0;
            std::vector<BYTE> bytes;
            if (ReadRegistryValue(L"SRV01", key, name, &type, &bytes)) values[name] = {type, bytes};
        }
        return values;
    }

    fs::path cwd_;
};

}  // namespace print_test
