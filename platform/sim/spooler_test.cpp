// What the spooler calls do, stated so that it holds on Windows too: the
// order of their checks, the buffer protocol with exact sizes, printers'
// defaults, handles and share names, and stored blocks that do not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/conformance/testing/registry_calls.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using Bytes = std::vector<BYTE>;
using sim::kTestPrintersKey;
using win32_files::AceEntry;
using win32_files::EntriesOf;

std::wstring Text(LPCWSTR text) { return text ? text : L"<null>"; }

WCHAR kServer[] = L"\\\\SRV01";
WCHAR kStopped[] = L"\\\\SRV02";
WCHAR kOffline[] = L"\\\\SRV03";
WCHAR kNowhere[] = L"\\\\NOWHERE";

// A call that fills a buffer: (buffer, size, needed, returned).
using Filler = std::function<BOOL(LPBYTE, DWORD, LPDWORD, LPDWORD)>;

class SpoolerTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {L"HP LaserJet 4000 Series PCL"});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {1, L"10.0.0.5"});
        AddMachine(L"SRV02");
        sim::AddPrintServer(L"SRV02", {});
        SetServiceState(L"SRV02", L"Spooler", L"Stopped");
        AddMachine(L"SRV03", 5, 2, false);
        AddFile(L"SRV01", L"C:\\WINDOWS\\System32\\sysprint.sep", "sep");
    }

    // A record that AddPrinterW takes on SRV01: the name and share name given
    // (the texts must outlive the call), the TCP/IP port and the laser's driver.
    PRINTER_INFO_2W Record(const wchar_t* name, const wchar_t* share = L"LASER",
                           DWORD attributes = PRINTER_ATTRIBUTE_SHARED) {
        return {.pPrinterName = const_cast<LPWSTR>(name), .pShareName = const_cast<LPWSTR>(share),
                .pPortName = const_cast<LPWSTR>(L"IP_10.0.0.5"), .pDriverName = driver_.data(),
                .pPrintProcessor = const_cast<LPWSTR>(L"winprint"), .pDatatype = const_cast<LPWSTR>(L"RAW"),
                .Attributes = attributes, .Priority = 1};
    }

    HANDLE Add(PRINTER_INFO_2W info) { return AddPrinterW(kServer, 2, reinterpret_cast<LPBYTE>(&info)); }

    HANDLE Open(const wchar_t* name, DWORD access) {
        std::wstring text = name;
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        HANDLE handle = nullptr;
        return OpenPrinterW(text.data(), &handle, &defaults) ? handle : nullptr;
    }

    // The printer's record through GetPrinterW, or nothing.
    Bytes Get(HANDLE printer, DWORD level) {
        DWORD needed = 0;
        EXPECT_FALSE(GetPrinterW(printer, level, nullptr, 0, &needed));
        Bytes buffer(needed);
        if (!GetPrinterW(printer, level, buffer.data(), needed, &needed)) return {};
        return buffer;  // moved: the record's pointers point into it
    }

    std::wstring driver_ = L"HP LaserJet 4000 Series PCL";
};

// ---- buffers --------------------------------------------------------------

TEST_F(SpoolerTest, EveryListFollowsTheBufferProtocolWithExactSizes) {
    ASSERT_TRUE(ClosePrinter(Add(Record(L"LASER01"))));
    struct Case {
        const char* call;
        Filler fill;
        DWORD records;
    } cases[] = {
        {"EnumPortsW 1", [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) { return EnumPortsW(kServer, 1, b, s, n, c); }, 4},
        {"EnumPortsW 2", [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) { return EnumPortsW(kServer, 2, b, s, n, c); }, 4},
        {"EnumPrinterDriversW 3",
         [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) { return EnumPrinterDriversW(kServer, nullptr, 3, b, s, n, c); }, 1},
        {"EnumPrintersW 2",
         [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) {
             return EnumPrintersW(PRINTER_ENUM_NAME, kServer, 2, b, s, n, c);
         },
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        DWORD needed = 0, count = 99;
        EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, c.fill(nullptr, 0, &needed, &count));
        EXPECT_EQ(0u, count);
        ASSERT_GT(needed, 0u);

        // One byte short: the same size asked for, nothing written.
        Bytes buffer(needed + 16, 0xCD);
        DWORD again = 0;
        EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER, c.fill(buffer.data(), needed - 1, &again, &count));
        EXPECT_EQ(needed, again);
        EXPECT_EQ(Bytes(needed + 16, 0xCD), buffer);

        EXPECT_TRUE(c.fill(buffer.data(), needed, &again, &count));
        EXPECT_EQ(c.records, count);
        EXPECT_EQ(needed, again);
        EXPECT_EQ(Bytes(16, 0xCD), Bytes(buffer.end() - 16, buffer.end())) << "written past the size given";

        EXPECT_FAILS_WITH(ERROR_INVALID_USER_BUFFER, c.fill(nullptr, 8, &needed, &count));
        EXPECT_FAILS_WITH(RPC_X_NULL_REF_POINTER, c.fill(buffer.data(), needed, &needed, nullptr));
    }
}

// ---- the order of the checks ------------------------------------------------

TEST_F(SpoolerTest, ChecksComeInWindowsOrder) {
    PRINTER_INFO_2W info = Record(L"LASER02");
    DRIVER_INFO_3W driver{3, driver_.data(), nullptr, driver_.data(), driver_.data(), driver_.data()};
    struct Case {
        const char* what;
        LPWSTR server;
        DWORD level;
        const wchar_t* fault;
        DWORD expected;
    } cases[] = {
        {"injected failure before an unknown server", kNowhere, 99, L"@NOWHERE=5", ERROR_ACCESS_DENIED},
        {"unknown server", kNowhere, 99, nullptr, RPC_S_SERVER_UNAVAILABLE},
        {"unreachable server", kOffline, 99, nullptr, RPC_S_SERVER_UNAVAILABLE},
        {"spooler stopped, before the level", kStopped, 99, nullptr, RPC_S_SERVER_UNAVAILABLE},
        {"level", kServer, 99, nullptr, ERROR_INVALID_LEVEL},
    };
    DWORD needed = 0, count = 0;
    const std::pair<const wchar_t*, std::function<BOOL(LPWSTR, DWORD)>> calls[] = {
        {L"EnumPortsW", [&](LPWSTR s, DWORD l) { return EnumPortsW(s, l, nullptr, 0, &needed, &count); }},
        {L"EnumPrinterDriversW",
         [&](LPWSTR s, DWORD l) { return EnumPrinterDriversW(s, nullptr, l, nullptr, 0, &needed, &count); }},
        {L"EnumPrintersW",
         [&](LPWSTR s, DWORD l) { return EnumPrintersW(PRINTER_ENUM_NAME, s, l, nullptr, 0, &needed, &count); }},
        {L"AddPrinterW",
         [&](LPWSTR s, DWORD l) { return AddPrinterW(s, l, reinterpret_cast<LPBYTE>(&info)) != nullptr; }},
        {L"AddPrinterDriverW",
         [&](LPWSTR s, DWORD l) { return AddPrinterDriverW(s, l, reinterpret_cast<LPBYTE>(&driver)); }},
    };
    for (const auto& c : cases) {
        for (const auto& [function, call] : calls) {
            SCOPED_TRACE(corvan::ToUtf8(std::wstring(function) + L": ") + c.what);
            sim::ClearFaultRules();
            if (c.fault) sim::AddFaultRule(std::wstring(function) + c.fault);
            EXPECT_FAILS_WITH(c.expected, call(c.server, c.level));
        }
    }
    // OpenPrinterW answers an unknown server as an unknown printer.
    EXPECT_FAILS_WITH(ERROR_INVALID_PRINTER_NAME, Open(L"\\\\NOWHERE\\LASER01", 0));
    WCHAR x64[] = L"Windows x64";
    EXPECT_FAILS_WITH(ERROR_INVALID_ENVIRONMENT, EnumPrinterDriversW(kServer, x64, 3, nullptr, 0, &needed, &count));
}

// ---- printers -------------------------------------------------------------------

TEST_F(SpoolerTest, AddPrinterChecksItsRecordInWindowsOrder) {
    std::wstring badName = L"A,B", tooLong(221, L'x'), longest(220, L'x'), badPort = L"LPT1:,LPT9:", unknown = L"none",
                 badSep = L"missing.sep", emptyShare, badShare = L"a/b", taken = L"TAKEN", trailing = L"LPT1:,";
    DEVMODEW broken{};
    broken.dmSize = offsetof(DEVMODEW, dmFormName) + 2;  // ends inside the form name
    alignas(8) BYTE notADescriptor[64] = {9};
    ASSERT_NE(nullptr, Add(Record(L"HOLDER", L"HOLD")));
    ASSERT_NE(nullptr, Add(Record(L"HOLDER2", L"TAKEN")));

    struct Case {
        const char* what;
        std::function<void(PRINTER_INFO_2W&)> change;
        DWORD expected;
    } cases[] = {
        {"comma in the name, before the unknown port", [&](auto& r) { r.pPrinterName = badName.data(); r.pPortName = unknown.data(); }, ERROR_INVALID_PRINTER_NAME},
        {"name too long", [&](auto& r) { r.pPrinterName = tooLong.data(); }, ERROR_INVALID_PRINTER_NAME},
        {"no name", [&](auto& r) { r.pPrinterName = nullptr; }, ERROR_INVALID_PRINTER_NAME},
        {"name taken, in another case", [&](auto& r) { r.pPrinterName = const_cast<LPWSTR>(L"holder"); r.pPortName = unknown.data(); }, ERROR_PRINTER_ALREADY_EXISTS},
        {"one port of a pool unknown", [&](auto& r) { r.pPortName = badPort.data(); r.pDriverName = unknown.data(); }, ERROR_UNKNOWN_PORT},
        {"a pool's last port empty", [&](auto& r) { r.pPortName = trailing.data(); }, ERROR_UNKNOWN_PORT},
        {"driver", [&](auto& r) { r.pDriverName = unknown.data(); r.pPrintProcessor = unknown.data(); }, ERROR_UNKNOWN_PRINTER_DRIVER},
        {"print processor", [&](auto& r) { r.pPrintProcessor = unknown.data(); r.pDatatype = unknown.data(); }, ERROR_UNKNOWN_PRINTPROCESSOR},
        {"data type", [&](auto& r) { r.pDatatype = unknown.data(); r.pSepFile = badSep.data(); }, ERROR_INVALID_DATATYPE},
        {"separator file", [&](auto& r) { r.pSepFile = badSep.data(); r.Priority = 100; }, ERROR_INVALID_SEPARATOR_FILE},
        {"priority", [&](auto& r) { r.DefaultPriority = 100; r.pShareName = emptyShare.data(); }, ERROR_INVALID_PRIORITY},
        {"shared without a share name", [&](auto& r) { r.pShareName = emptyShare.data(); r.pDevMode = &broken; }, ERROR_INVALID_SHARENAME},
        {"malformed share name", [&](auto& r) { r.pShareName = badShare.data(); }, ERROR_INVALID_SHARENAME},
        {"share name taken", [&](auto& r) { r.pShareName = taken.data(); }, ERROR_INVALID_SHARENAME},
        {"device mode ending inside a member", [&](auto& r) { r.pDevMode = &broken; r.pSecurityDescriptor = notADescriptor; }, ERROR_INVALID_PARAMETER},
        {"descriptor", [&](auto& r) { r.pSecurityDescriptor = notADescriptor; }, ERROR_INVALID_SECURITY_DESCR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PRINTER_INFO_2W info = Record(L"LASER09");
        c.change(info);
        EXPECT_FAILS_WITH(c.expected, Add(info));
    }
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, AddPrinterW(kServer, 2, nullptr));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", std::wstring(kTestPrintersKey) + L"\\LASER09"));

    // Unshared, a printer may take a share name in use; a blank is no control
    // character; names may be as long as allowed, priorities as high; a file share's name counts as taken.
    EXPECT_NE(nullptr, Add(Record(L"QUIET", L"TAKEN", 0)));
    const std::wstring longestShare(NNLEN, L'S');
    PRINTER_INFO_2W highest = Record(longest.c_str(), longestShare.c_str());
    highest.Priority = highest.DefaultPriority = MAX_PRIORITY;
    EXPECT_NE(nullptr, Add(highest));
    SetRegistryMultiString(L"SRV01", L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", L"Files",
                           {L"Path=D:\\Files", L"Type=0"});
    EXPECT_FAILS_WITH(ERROR_INVALID_SHARENAME, Add(Record(L"CLASH", L"FILES")));
}

TEST_F(SpoolerTest, APrinterAddedWithoutSettingsGetsTheSpoolersDefaults) {
    PRINTER_INFO_2W info = Record(L"LASER01", L"LASER",
                                  PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_PUBLISHED);
    info.pSepFile = const_cast<LPWSTR>(L"sysprint.sep");
    HANDLE printer = Add(info);
    ASSERT_NE(nullptr, printer);
    Bytes record = Get(printer, 2);
    ASSERT_FALSE(record.empty());
    const auto* r = reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
    EXPECT_EQ(L"\\\\SRV01", Text(r->pServerName));
    EXPECT_EQ(L"\\\\SRV01\\LASER01", Text(r->pPrinterName));
    EXPECT_EQ(L"sysprint.sep", Text(r->pSepFile));
    // What cannot be set is dropped, and a local printer is marked so.
    EXPECT_EQ(static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL), r->Attributes);
    ASSERT_NE(nullptr, r->pDevMode);
    EXPECT_EQ(L"LASER01", std::wstring(r->pDevMode->dmDeviceName));
    EXPECT_EQ(L"Letter", std::wstring(r->pDevMode->dmFormName));
    EXPECT_EQ(sizeof(DEVMODEW), r->pDevMode->dmSize);

    // Owner Administrators; Administrators full control, CREATOR OWNER, Everyone print.
    ASSERT_NE(nullptr, r->pSecurityDescriptor);
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(r->pSecurityDescriptor, &owner, &defaulted));
    std::vector<BYTE> admins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    EXPECT_TRUE(owner && EqualSid(owner, admins.data()));
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(r->pSecurityDescriptor, &present, &dacl, &defaulted));
    const BYTE inheritOnly = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
    EXPECT_EQ((std::vector<AceEntry>{{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                     {ACCESS_ALLOWED_ACE_TYPE, inheritOnly, GENERIC_ALL, L"S-1-5-32-544"},
                                     {ACCESS_ALLOWED_ACE_TYPE, inheritOnly, GENERIC_ALL, L"S-1-3-0"},
                                     {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, L"S-1-1-0"}}),
              EntriesOf(dacl));

    // Publishing marks the printer published; a second add of the name is refused.
    PRINTER_INFO_7W publish{nullptr, DSPRINT_PUBLISH};
    EXPECT_TRUE(SetPrinterW(printer, 7, reinterpret_cast<LPBYTE>(&publish), 0));
    EXPECT_EQ(static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_PUBLISHED),
              reinterpret_cast<const PRINTER_INFO_2W*>(Get(printer, 2).data())->Attributes);
    EXPECT_FAILS_WITH(ERROR_PRINTER_ALREADY_EXISTS, Add(Record(L"laser01")));
    EXPECT_TRUE(ClosePrinter(printer));

    // A device name longer than the member is cut to leave room for its terminator.
    // Added on "" (the local server), the printer is known by its name alone.
    const std::wstring longName(40, L'L');
    info = Record(longName.c_str(), L"LASER", 0);
    WCHAR local[] = L"";
    printer = AddPrinterW(local, 2, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(nullptr, printer);
    record = Get(printer, 2);
    r = reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
    EXPECT_EQ(longName, Text(r->pPrinterName));
    EXPECT_EQ(nullptr, r->pServerName);
    ASSERT_NE(nullptr, r->pDevMode);
    EXPECT_EQ(std::wstring(CCHDEVICENAME - 1, L'L'), std::wstring(r->pDevMode->dmDeviceName));
    ClosePrinter(printer);
}

TEST_F(SpoolerTest, HandlesGrantWhatWasAskedAndTakenShareNamesFollowEveryChange) {
    ASSERT_TRUE(ClosePrinter(Add(Record(L"LASER01"))));
    EXPECT_FAILS_WITH(ERROR_INVALID_PRINTER_NAME, Open(L"\\\\SRV01\\NOSUCH", 0));
    EXPECT_FAILS_WITH(RPC_S_SERVER_UNAVAILABLE, Open(L"\\\\SRV02\\LASER01", 0));

    HANDLE use = Open(L"\\\\SRV01\\laser01", 0);
    HANDLE administer = Open(L"\\\\SRV01\\LASER01", PRINTER_ACCESS_ADMINISTER);
    HANDLE all = Open(L"LASER", PRINTER_ALL_ACCESS);  // by its share name, on the local machine
    ASSERT_TRUE(use && administer && all);
    PRINTER_INFO_2W change = Record(L"LASER01");
    std::wstring comment = L"second floor";
    change.pComment = comment.data();
    Bytes descriptor = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-1-0"}});
    PRINTER_INFO_3 security{descriptor.data()};

    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, SetPrinterW(use, 2, reinterpret_cast<LPBYTE>(&change), 0));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER,
                      SetPrinterW(administer, 2, reinterpret_cast<LPBYTE>(&change), 1));  // and a command
    EXPECT_TRUE(SetPrinterW(administer, 2, reinterpret_cast<LPBYTE>(&change), 0));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, SetPrinterW(administer, 3, reinterpret_cast<LPBYTE>(&security), 0));
    EXPECT_FAILS_WITH(ERROR_INVALID_LEVEL, SetPrinterW(all, 5, reinterpret_cast<LPBYTE>(&security), 0));
    PRINTER_INFO_3 none{nullptr};
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, SetPrinterW(all, 3, reinterpret_cast<LPBYTE>(&none), 0));
    EXPECT_TRUE(SetPrinterW(all, 3, reinterpret_cast<LPBYTE>(&security), 0));
    EXPECT_TRUE(Get(use, 3).empty());
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    Bytes three = Get(all, 3);
    ASSERT_FALSE(three.empty());
    // The new list replaces the old; the owner the descriptor lacked stays.
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    auto* info3 = reinterpret_cast<PRINTER_INFO_3*>(three.data());
    EXPECT_TRUE(GetSecurityDescriptorOwner(info3->pSecurityDescriptor, &owner, &defaulted) && owner);
    EXPECT_EQ(L"second floor", Text(reinterpret_cast<PRINTER_INFO_2W*>(Get(all, 2).data())->pComment));

    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, DeletePrinter(administer));
    EXPECT_TRUE(DeletePrinter(all));
    EXPECT_FAILS_WITH(ERROR_PRINTER_DELETED, SetPrinterW(administer, 2, reinterpret_cast<LPBYTE>(&change), 0));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", std::wstring(kTestPrintersKey) + L"\\LASER01"));
    for (HANDLE handle : {use, administer, all}) EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, ClosePrinter(use));
    DWORD needed = 0;
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, GetPrinterW(use, 2, nullptr, 0, &needed));
    HANDLE server = Open(L"\\\\SRV01", SERVER_ACCESS_ENUMERATE);  // a print server's handle is no printer's
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, GetPrinterW(server, 2, nullptr, 0, &needed));
    EXPECT_TRUE(ClosePrinter(server));

    // AddPrinterW and SetPrinterW find a taken share name without reading every
    // printer again; what they keep must follow every way a printer changes.
    auto add = [&](const std::wstring& name, const std::wstring& share, DWORD attributes = PRINTER_ATTRIBUTE_SHARED) {
        HANDLE printer = Add(Record(name.c_str(), share.c_str(), attributes));
        return printer && ClosePrinter(printer) ? 0u : GetLastError();
    };
    for (int i = 0; i < 300; ++i) ASSERT_EQ(0u, add(corvan::Format(L"P%03d", i), corvan::Format(L"S%03d", i)));
    ASSERT_EQ(0u, add(L"Plain", L"S999", 0));  // not shared: its share name counts for nothing
    EXPECT_EQ(DWORD{ERROR_INVALID_SHARENAME}, add(L"New", L"s150"));
    EXPECT_EQ(0u, add(L"New", L"S999"));

    // SetPrinterW moves a printer's share name: the old one is free, the new one taken.
    HANDLE printer = Open(L"\\\\SRV01\\P007", PRINTER_ALL_ACCESS);
    PRINTER_INFO_2W info = Record(L"P007", L"Moved");
    ASSERT_TRUE(SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(&info), 0));
    ClosePrinter(printer);
    EXPECT_EQ(0u, add(L"Second", L"S007"));
    EXPECT_EQ(DWORD{ERROR_INVALID_SHARENAME}, add(L"Third", L"MOVED"));

    // A share name written into the registry past the spooler is seen.
    HKEY key =
        conformance::OpenKey(HKEY_LOCAL_MACHINE, (std::wstring(kTestPrintersKey) + L"\\P100").c_str(), KEY_SET_VALUE);
    ASSERT_EQ(ERROR_SUCCESS, conformance::SetText(key, L"Share Name", L"Direct"));
    RegCloseKey(key);
    EXPECT_EQ(DWORD{ERROR_INVALID_SHARENAME}, add(L"Fourth", L"direct"));
    EXPECT_EQ(0u, add(L"Fourth", L"S100"));

    // A deleted printer's share name is free again.
    printer = Open(L"\\\\SRV01\\P200", PRINTER_ALL_ACCESS);
    ASSERT_TRUE(DeletePrinter(printer));
    ClosePrinter(printer);
    EXPECT_EQ(0u, add(L"Fifth", L"s200"));
}

// ---- device modes -----------------------------------------------------------------

// The layout itself is pinned by the printer's golden file and the migration's
// round trip; what the spooler makes of stored blocks that do not fit is here.
TEST_F(SpoolerTest, StoredBlocksThatDoNotHoldTogetherAreNotHandedOut) {
    sim::TestPrinter seeded{L"SEEDED", L"", L"LPT1:", driver_};
    // The record at `level`, `set` given to SetPrinterW first when there is one.
    auto record = [&](DWORD level = 2, PRINTER_INFO_3* set = nullptr) {
        sim::AddPrinter(L"SRV01", seeded);
        HANDLE handle = Open(L"SEEDED", PRINTER_ALL_ACCESS);
        if (set) EXPECT_TRUE(SetPrinterW(handle, 3, reinterpret_cast<LPBYTE>(set), 0));
        Bytes got = Get(handle, level);
        ClosePrinter(handle);
        return got;
    };
    seeded.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-1-0"}});
    seeded.security[16] = static_cast<BYTE>(seeded.security.size() - 4);  // the list's header would end past it
    Bytes got = record();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(nullptr, reinterpret_cast<const PRINTER_INFO_2W*>(got.data())->pSecurityDescriptor);
    // Nor is a stored list that is none carried into the descriptor an owner given alone makes.
    Bytes owner = seeded.security = sim::TestDescriptor({});
    seeded.security[20] = 9;  // the list's revision
    owner[2] &= ~SE_DACL_PRESENT;
    PRINTER_INFO_3 given{owner.data()};
    got = record(3, &given);
    EXPECT_TRUE(!got.empty() && reinterpret_cast<PRINTER_INFO_3*>(got.data())->pSecurityDescriptor);
    seeded.security = {1, 0, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // the header alone: everyone
    got = record(3);
    EXPECT_TRUE(!got.empty() && reinterpret_cast<PRINTER_INFO_3*>(got.data())->pSecurityDescriptor);
    seeded.security.clear();

    // A driver whose dependent files are not a list has none.
    SetRegistryString(L"SRV01", std::wstring(sim::kTestDrivers3) + L"\\" + driver_, L"Dependent Files", L"UNIRES.DLL");
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(kServer, nullptr, 3, nullptr, 0, &needed, &count);
    Bytes drivers(needed);
    ASSERT_TRUE(EnumPrinterDriversW(kServer, nullptr, 3, drivers.data(), needed, &needed, &count));
    const auto* listed = reinterpret_cast<const DRIVER_INFO_3W*>(drivers.data());
    EXPECT_TRUE(!listed->pDependentFiles || !*listed->pDependentFiles) << corvan::ToUtf8(Text(listed->pDependentFiles));

    // A shorter public part that ends on a member boundary converts; one that
    // ends inside a member, or data cut short, is no device mode.
    struct Case {
        WORD size;
        size_t cut;
        size_t hostSize;  // 0: no device mode
    } cases[] = {{188, 0, offsetof(DEVMODEW, dmDisplayFrequency) + 4}, {170, 0, 0}, {220, 1, 0}, {40, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        sim::WindowsDevMode stored;
        stored.size = c.size;
        stored.displayFrequency = 60;  // the last member of the 188-byte form
        stored.privateBytes = {1, 2};
        Bytes bytes = stored.Bytes();
        bytes.erase(bytes.begin() + c.size, bytes.end() - 2);
        bytes.resize(bytes.size() - c.cut);
        seeded.devMode = bytes;
        got = record();
        ASSERT_FALSE(got.empty());
        const auto* g = reinterpret_cast<const PRINTER_INFO_2W*>(got.data());
        if (c.hostSize == 0) {
            EXPECT_EQ(nullptr, g->pDevMode);
        } else {
            ASSERT_NE(nullptr, g->pDevMode);
            EXPECT_EQ(c.hostSize, g->pDevMode->dmSize);
            EXPECT_EQ(60u, g->pDevMode->dmDisplayFrequency);
            EXPECT_EQ(2u, g->pDevMode->dmDriverExtra);
            EXPECT_EQ(0, std::memcmp("\x01\x02", reinterpret_cast<const BYTE*>(g->pDevMode) + c.hostSize, 2));
        }
    }
}

}  // namespace
