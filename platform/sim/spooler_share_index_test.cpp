// AddPrinterW and SetPrinterW find a taken share name without reading every
// printer again; what they keep must follow every way a printer changes.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

WCHAR kServer[] = L"\\\\SRV01";

class ShareIndexTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {L"HP LaserJet 4000 Series PCL"});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {1, L"10.0.0.5"});
    }

    PRINTER_INFO_2W Record(const std::wstring& name, const std::wstring& share, DWORD attributes) {
        name_ = name;
        share_ = share;
        PRINTER_INFO_2W info{};
        info.pPrinterName = name_.data();
        info.pShareName = share_.data();
        info.pPortName = port_.data();
        info.pDriverName = driver_.data();
        info.pPrintProcessor = processor_.data();
        info.pDatatype = datatype_.data();
        info.Attributes = attributes;
        return info;
    }
    // GetLastError after AddPrinterW, or 0 when it added the printer.
    DWORD Add(const std::wstring& name, const std::wstring& share, DWORD attributes = PRINTER_ATTRIBUTE_SHARED) {
        PRINTER_INFO_2W info = Record(name, share, attributes);
        SetLastError(0xdeadbeef);
        HANDLE printer = AddPrinterW(kServer, 2, reinterpret_cast<LPBYTE>(&info));
        if (!printer) return GetLastError();
        ClosePrinter(printer);
        return 0;
    }
    HANDLE Open(const std::wstring& name) {
        std::wstring text = L"\\\\SRV01\\" + name;
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(text.data(), &handle, &defaults)) << corvan::ToUtf8(name);
        return handle;
    }

    std::wstring name_, share_, port_ = L"IP_10.0.0.5", driver_ = L"HP LaserJet 4000 Series PCL",
                                processor_ = L"winprint", datatype_ = L"RAW";
};

TEST_F(ShareIndexTest, TakenShareNamesFollowAddsSetsDeletesAndDirectWrites) {
    for (int i = 0; i < 300; ++i) ASSERT_EQ(0u, Add(corvan::Format(L"P%03d", i), corvan::Format(L"S%03d", i)));
    ASSERT_EQ(0u, Add(L"Plain", L"S999", 0));  // not shared: its share name counts for nothing
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SHARENAME), Add(L"New", L"s150"));
    EXPECT_EQ(0u, Add(L"New", L"S999"));

    // SetPrinterW moves a printer's share name: the old one is free, the new one taken.
    HANDLE printer = Open(L"P007");
    PRINTER_INFO_2W info = Record(L"P007", L"Moved", PRINTER_ATTRIBUTE_SHARED);
    ASSERT_TRUE(SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(&info), 0));
    ClosePrinter(printer);
    EXPECT_EQ(0u, Add(L"Second", L"S007"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SHARENAME), Add(L"Third", L"MOVED"));

    // A share name written into the registry past the spooler is seen.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (sim::kTestPrintersKey + std::wstring(L"\\P100")).c_str(),
                                           0, KEY_ALL_ACCESS, &key));
    const wchar_t direct[] = L"Direct";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Share Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(direct),
                                            sizeof(direct)));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SHARENAME), Add(L"Fourth", L"direct"));
    EXPECT_EQ(0u, Add(L"Fourth", L"S100"));

    // A deleted printer's share name is free again.
    printer = Open(L"P200");
    ASSERT_TRUE(DeletePrinter(printer));
    ClosePrinter(printer);
    EXPECT_EQ(0u, Add(L"Fifth", L"s200"));
}

}  // namespace
