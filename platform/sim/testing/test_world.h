// Test fixture: a fresh simulated world in a temporary folder for every test.
//
// SetUp points CORVAN_WORLD at a new folder and starts the world there: it
// holds world.ini and one empty local machine named after the host (call
// SetLocalMachine for a fixed name). TearDown writes nothing back to the old
// world, restores CORVAN_WORLD and the simulated current directory, and
// deletes the folder. The whole test binary
// also runs with CORVAN_WORLD set to a scratch folder, so no test reaches $HOME.
//
// Every helper writes straight to the world's files, so a process started by
// the test (corvan with CORVAN_WORLD=WorldRoot()) sees the world as set up.
// Changes the test makes through the Win32 calls stay in this process until
// sim::FlushWorld(); after a child process has changed the world, call
// sim::ResetWorld() before using the Win32 calls again (the Read* helpers
// read the files and need neither).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/wintypes.h"

namespace sim {

// A fresh world in a temporary folder with one empty local machine, for as
// long as the object lives; CORVAN_WORLD, the simulated current directory and
// the process's fault rules are as before afterwards.
class ScopedWorld {
public:
    ScopedWorld();
    ~ScopedWorld();
    ScopedWorld(const ScopedWorld&) = delete;
    ScopedWorld& operator=(const ScopedWorld&) = delete;
    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
    std::optional<std::string> savedWorld_;
    std::wstring savedDirectory_;
};

class SimWorldTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& WorldRoot() const { return world_->Root(); }

    // Machines and accounts.
    void AddMachine(const std::wstring& name, DWORD versionMajor = 5, DWORD versionMinor = 2,
                    bool reachable = true);
    void SetLocalMachine(const std::wstring& name);  // adds the machine if it is missing
    void AddLocalAccount(const std::wstring& machine, const std::wstring& name, const std::wstring& sid);
    void AddDomainAccount(const std::wstring& qualifiedName, const std::wstring& sid);  // "CORP\\jdoe"
    void SetServiceState(const std::wstring& machine, const std::wstring& name, const std::wstring& state);

    // Registry of a machine (paths below HKEY_LOCAL_MACHINE). Texts are given
    // as the W calls see them; the file holds them in UTF-16 as Windows does.
    void AddRegistryKey(const std::wstring& machine, const std::wstring& keyPath);
    void SetRegistryValue(const std::wstring& machine, const std::wstring& keyPath, const std::wstring& valueName,
                          DWORD type, const std::vector<BYTE>& bytes);
    void SetRegistryString(const std::wstring& machine, const std::wstring& keyPath,
                           const std::wstring& valueName, const std::wstring& text, DWORD type = REG_SZ);
    void SetRegistryDword(const std::wstring& machine, const std::wstring& keyPath, const std::wstring& valueName,
                          DWORD value);
    void SetRegistryMultiString(const std::wstring& machine, const std::wstring& keyPath,
                                const std::wstring& valueName, const std::vector<std::wstring>& texts);

    // Read back from the machine's HKLM.reg (after writing this process's
    // changes), so they show what a later run would find.
    bool ReadRegistryValue(const std::wstring& machine, const std::wstring& keyPath, const std::wstring& valueName,
                           DWORD* type, std::vector<BYTE>* bytes);
    std::optional<std::wstring> ReadRegistryString(const std::wstring& machine, const std::wstring& keyPath,
                                                   const std::wstring& valueName);
    std::optional<DWORD> ReadRegistryDword(const std::wstring& machine, const std::wstring& keyPath,
                                           const std::wstring& valueName);
    std::optional<std::vector<std::wstring>> ReadRegistryMultiString(const std::wstring& machine,
                                                                     const std::wstring& keyPath,
                                                                     const std::wstring& valueName);
    bool RegistryKeyExists(const std::wstring& machine, const std::wstring& keyPath);

    // Files of a machine's drives: "D:\\Data\\a.txt" lives in <machine>/drives/D/Data/a.txt.
    void AddFile(const std::wstring& machine, const std::wstring& windowsPath, const std::string& contents);
    void AddDirectory(const std::wstring& machine, const std::wstring& windowsPath);
    std::filesystem::path HostPathOf(const std::wstring& machine, const std::wstring& windowsPath);
    std::string ReadHostFile(const std::filesystem::path& path);

    // A rule in faults.ini syntax ("NetShareAdd@SRV02=2118,1"); it is written
    // to faults.ini, so it also holds for processes the test starts.
    void AddFault(const std::wstring& rule);

private:
    std::optional<ScopedWorld> world_;
};

}  // namespace sim
