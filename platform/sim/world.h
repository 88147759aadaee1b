// The simulated world: a folder of Windows machines that every simulated
// call reads and writes. This is the one interface the API families share;
// none of it is visible to product code.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/wintypes.h"

namespace sim {

// Root folder: $CORVAN_WORLD, else $HOME/.corvan/world (created on first use
// with one empty local machine). Re-read whenever CORVAN_WORLD changes, so a
// test can switch worlds inside one process.
std::filesystem::path WorldRoot();

// [World] LocalMachine, default: the host name in capitals.
std::wstring LocalMachineName();

// world.ini access ([World], [Accounts]); writes go to disk at once.
std::wstring WorldSetting(const std::wstring& section, const std::wstring& key,
                          const std::wstring& fallback);
void SetWorldSetting(const std::wstring& section, const std::wstring& key, const std::wstring& value);
std::vector<std::pair<std::wstring, std::wstring>> WorldSection(const std::wstring& section);

// Folder names of every machine of the world, sorted ignoring case.
std::vector<std::wstring> MachineNames();
bool IsLocalMachine(const std::wstring& machine);

// Makes a machine folder with machine.ini, an empty HKLM.reg and drives/C/
// unless a machine of that name (ignoring case) exists; returns its folder name.
std::wstring CreateMachine(const std::wstring& machine);

// Resolves a server argument as the Win32 calls receive it ("", "SRV01",
// "\\SRV01", any case). On success returns 0 and the machine's folder name.
// An unknown machine or one with Reachable=0 gives unreachableError. The local
// machine always resolves (its folder is made if missing).
DWORD ResolveMachine(LPCWSTR server, std::wstring& machine, DWORD unreachableError);

// The machine's folder (exists for every name ResolveMachine returned).
std::filesystem::path MachineDir(const std::wstring& machine);

// Machine folders are looked up once and then kept: the world's layout does
// not change under a run. A check that finds a kept folder gone forgets them
// all, as does a change the simulation makes next to them.
bool MachineFolderExists(const std::wstring& folder);
void ForgetMachineFolders();

// machine.ini access ([Machine], [Accounts], [Services]); writes go to disk at
// once. Reads are served from the lines last read while stat shows the file
// unchanged and old enough for a change to move its times.
std::wstring MachineSetting(const std::wstring& machine, const std::wstring& section,
                            const std::wstring& key, const std::wstring& fallback);
void SetMachineSetting(const std::wstring& machine, const std::wstring& section,
                       const std::wstring& key, const std::wstring& value);
std::vector<std::pair<std::wstring, std::wstring>> MachineSection(const std::wstring& machine,
                                                                  const std::wstring& section);

struct Account {
    std::wstring domain;  // "BUILTIN", "NT AUTHORITY", "" for Everyone, the machine or the domain
    std::wstring name;
    std::wstring sid;  // S-1-5-32-544 form
    SID_NAME_USE use;
};
// Well-known accounts, the machine's local accounts and the world's domain accounts.
std::vector<Account> AccountsSeenFrom(const std::wstring& machine);

// Injected failures. Returns the error number of the first matching rule that
// still has firings left (and uses one firing), or 0. A rule matches when its
// function name is equal, its machine (if any) equals `machine` ignoring case,
// and its text (if any) occurs in one of `args`, ignoring case.
// The arguments are only looked at, so a call builds no copies of them.
DWORD InjectedFault(const char* function, const std::wstring& machine,
                    std::initializer_list<std::wstring_view> args);
DWORD InjectedFault(const char* function, const std::wstring& machine, const std::vector<std::wstring>& args);
// The fault of a call on one path, on the path's machine. The machine is
// only worked out when there are rules at all: files are opened and written
// for every logged line.
DWORD InjectedPathFault(const char* function, const std::wstring& path);

// Rules set from a test, in faults.ini syntax ("NetShareAdd@SRV02=2118,1").
// A rule that does not parse is reported on standard error and ignored.
void AddFaultRule(const std::wstring& rule);
// Drops the rules set from the process; those of faults.ini stay.
void ClearFaultRules();
// Re-reads faults.ini; rules whose line is unchanged keep their remaining firings.
void ReloadFaults();

// Buffers that the Net* calls hand out; NetApiBufferFree releases them.
void* NetApiAllocate(size_t bytes);

// Maps a Windows path onto the host (drive letters, \\MACHINE\X$, \\MACHINE\Share,
// relative and host paths). Returns 0 and the host path, or a Win32 error.
DWORD MapPath(const std::wstring& windowsPath, std::filesystem::path& hostPath);

// Writes every changed hive back; also runs at normal process exit.
void FlushWorld();

// Writes every changed hive back, then forgets every cached machine and the
// rules read from faults.ini; registry handles opened before stay invalid.
// Tests call it between worlds.
void ResetWorld();

}  // namespace sim
