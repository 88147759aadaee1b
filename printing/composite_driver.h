// The printer drivers installed on one machine.
#pragma once

#include <string>

#include "printing/driver.h"
#include "printing/flat_composite.h"

class CCompositeDriver : public CFlatComposite<CDriver, CCompositeDriver> {
public:
    static constexpr wchar_t kClassName[] = L"CCompositeDriver";
    // How long the spooler of a server that does not answer is waited for, and how often.
    static constexpr DWORD kUnavailableWaitMs = 120000;
    static constexpr int kUnavailableWaits = 2;

    CCompositeDriver();
    explicit CCompositeDriver(const std::wstring& serverName);
    ~CCompositeDriver() override;

    // Lists the machine's drivers for "Windows NT x86". An empty list is a success.
    int Enum();
    // Installs every child still to be restored. Nonzero when all were.
    int Add() override;
    int ContainsName(const std::wstring& name) const;
};
