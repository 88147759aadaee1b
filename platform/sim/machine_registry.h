// A machine's registry as the simulated services see it: reached through the
// public registry calls, so every service keeps its data where Windows does
// and a change made through one interface shows in the other.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/winapi.h"

namespace sim {

// An open key, closed with RegCloseKey.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Reset(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY Get() const { return key_; }
    HKEY* Put() {
        Reset();
        return &key_;
    }
    void Reset();

private:
    HKEY key_ = nullptr;
};

// Opens (or creates) HKLM\<path> of the machine, a name as ResolveMachine gives it.
LSTATUS OpenMachineKey(const std::wstring& machine, const wchar_t* path, REGSAM sam, RegKey& key);
LSTATUS CreateMachineKey(const std::wstring& machine, const wchar_t* path, REGSAM sam, RegKey& key);

struct RegValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Every value of the key in the key's own order.
LSTATUS ReadValues(HKEY key, std::vector<RegValue>& values);
// Names of the subkeys in the key's own order.
LSTATUS ReadSubKeyNames(HKEY key, std::vector<std::wstring>& names);
LSTATUS ReadValue(HKEY key, const wchar_t* name, RegValue& value);

// Typed reads: false when the value is missing or of another type.
bool ReadDword(HKEY key, const wchar_t* name, DWORD& value);
bool ReadText(HKEY key, const wchar_t* name, std::wstring& value);  // REG_SZ, REG_EXPAND_SZ

LSTATUS WriteDword(HKEY key, const wchar_t* name, DWORD value);
LSTATUS WriteText(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value);
LSTATUS WriteMultiSz(HKEY key, const wchar_t* name, const std::vector<std::wstring>& lines);
LSTATUS WriteBinary(HKEY key, const wchar_t* name, const void* data, DWORD size);

// Registry data of text values: WCHARs, the last one a terminator (which may
// be missing in data written by others).
std::wstring TextFromData(const std::vector<BYTE>& data);
std::vector<std::wstring> MultiSzFromData(const std::vector<BYTE>& data);

}  // namespace sim
