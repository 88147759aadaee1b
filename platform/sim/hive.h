// A machine's HKEY_LOCAL_MACHINE: the key tree held in memory, its
// registry-export file, and direct access for the other simulated services.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sim/wintypes.h"

namespace sim {

// Value data is kept as the W calls of this build return it: texts of the
// string types in wchar_t units. The file holds them as UTF-16LE, as Windows does.
struct RegValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class RegKey {
public:
    explicit RegKey(std::wstring name);

    const std::wstring& Name() const { return name_; }
    // In the order Windows enumerates them: by upper-cased name.
    const std::vector<std::shared_ptr<RegKey>>& Subkeys() const;
    std::shared_ptr<RegKey> Subkey(const std::wstring& name) const;
    std::shared_ptr<RegKey> AddSubkey(const std::wstring& name, bool* created = nullptr);
    // Detaches the subkey (marking its whole subtree deleted); nullptr if absent.
    std::shared_ptr<RegKey> RemoveSubkey(const std::wstring& name);

    // In creation order.
    const std::vector<RegValue>& Values() const { return values_; }
    const RegValue* Value(const std::wstring& name) const;
    void SetValue(const std::wstring& name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(const std::wstring& name);

    bool Deleted() const { return deleted_; }
    FILETIME LastWrite() const { return lastWrite_; }
    void SetLastWrite(FILETIME time) { lastWrite_ = time; }

private:
    void Touch();
    void MarkDeleted();

    std::wstring name_;
    std::map<std::wstring, std::shared_ptr<RegKey>> subkeys_;  // by upper-cased name
    // The same in a vector for enumeration by index; rebuilt after a change.
    mutable std::vector<std::shared_ptr<RegKey>> ordered_;
    mutable bool orderedValid_ = true;
    std::vector<RegValue> values_;
    std::unordered_map<std::wstring, size_t> valueIndex_;  // upper-cased name -> position
    FILETIME lastWrite_{};
    bool deleted_ = false;
};

// Windows keeps keys at most 512 levels deep, counting from the registry's
// root, below which HKEY_LOCAL_MACHINE is the first level: a key may lie at
// most 510 levels below HKEY_LOCAL_MACHINE. Deeper keys are neither created
// nor read from a hive file.
constexpr size_t kMaxKeyLevels = 510;

// Splits a path below a root on backslashes; empty parts are dropped, so
// trailing backslashes are harmless.
std::vector<std::wstring> SplitKeyPath(const std::wstring& path);
std::shared_ptr<RegKey> FindKey(const std::shared_ptr<RegKey>& from, const std::wstring& path);

struct Hive {
    std::shared_ptr<RegKey> root = std::make_shared<RegKey>(L"HKEY_LOCAL_MACHINE");
    std::filesystem::path file;
    bool dirty = false;
    bool detached = false;  // forgotten by ResetWorld: handles into it are invalid
};

// ---- registry-export text ----------------------------------------------------

// Reads "Windows Registry Editor Version 5.00" (or "REGEDIT4") text in UTF-8 or
// UTF-16 into root. On failure error names the line and root holds what came before it.
bool ParseRegExport(const std::string& bytes, RegKey& root, std::wstring& error);
// The whole tree in the same format, UTF-8 with LF line ends.
std::string WriteRegExport(const RegKey& root);

bool IsTextType(DWORD type);
std::vector<BYTE> WideToUtf16(const std::vector<BYTE>& data);
std::vector<BYTE> Utf16ToWide(const std::vector<BYTE>& data);

// Value data of the usual kinds, in the form the W calls use.
std::vector<BYTE> TextBytes(const std::wstring& text);  // with its NUL
std::vector<BYTE> MultiTextBytes(const std::vector<std::wstring>& texts);
std::vector<BYTE> DwordBytes(DWORD value);
std::wstring BytesToText(const std::vector<BYTE>& data);  // up to the first NUL
std::vector<std::wstring> BytesToMultiText(const std::vector<BYTE>& data);

// ---- the hives of the world --------------------------------------------------

// The machine's hive, read from its HKLM.reg on first use (a missing file is an
// empty hive). nullptr with ERROR_BADDB when the file does not parse.
std::shared_ptr<Hive> MachineHive(const std::wstring& machine, DWORD& error);
// Writes every changed hive back to its file.
void FlushHives();
// Forgets every hive without writing; handles into them become invalid.
void ForgetHives();

// Registry access for the simulated services themselves (shares, spooler,
// service manager) and for tests: no handles, access checks or injected
// failures. Paths are below HKEY_LOCAL_MACHINE; results are Win32 errors.
DWORD RegistryCreateKey(const std::wstring& machine, const std::wstring& path);
bool RegistryKeyExists(const std::wstring& machine, const std::wstring& path);
DWORD RegistrySetValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name,
                       DWORD type, const std::vector<BYTE>& data);  // creates the key
DWORD RegistryGetValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name,
                       DWORD& type, std::vector<BYTE>& data);
DWORD RegistryDeleteValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name);
DWORD RegistryDeleteTree(const std::wstring& machine, const std::wstring& path);
DWORD RegistrySubkeyNames(const std::wstring& machine, const std::wstring& path,
                          std::vector<std::wstring>& names);
DWORD RegistryValueNames(const std::wstring& machine, const std::wstring& path,
                         std::vector<std::wstring>& names);

}  // namespace sim
