#include "platform/sim/testing/test_world.h"

#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <system_error>

#include "platform/sim/hive.h"
#include "platform/sim/hostfile.h"
#include "platform/sim/paths.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

fs::path MakeTempFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    return fs::path(pattern);
}

// The whole test binary works in a scratch world unless a fixture sets its own.
class ScratchWorld : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = MakeTempFolder("corvan-tests-");
        setenv("CORVAN_WORLD", folder_.c_str(), 1);
    }
    void TearDown() override {
        ResetWorld();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

private:
    fs::path folder_;
};

[[maybe_unused]] ::testing::Environment* const kScratchWorld =
    ::testing::AddGlobalTestEnvironment(new ScratchWorld);

}  // namespace

ScopedWorld::ScopedWorld() {
    if (const char* world = std::getenv("CORVAN_WORLD")) savedWorld_ = world;
    savedDirectory_ = sim::CurrentDirectory();
    ClearFaultRules();
    ResetWorld();
    root_ = MakeTempFolder("corvan-world-");
    setenv("CORVAN_WORLD", root_.c_str(), 1);
    sim::WorldRoot();  // creates world.ini and the local machine
}

ScopedWorld::~ScopedWorld() {
    // A test that moved onto a machine's drive must not leave the next test there.
    sim::SetCurrentDirectoryText(savedDirectory_);
    ClearFaultRules();
    ForgetHives();  // nothing of this world is written anywhere
    ResetWorld();
    if (savedWorld_)
        setenv("CORVAN_WORLD", savedWorld_->c_str(), 1);
    else
        unsetenv("CORVAN_WORLD");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void SimWorldTest::SetUp() { world_.emplace(); }

void SimWorldTest::TearDown() { world_.reset(); }

void SimWorldTest::AddMachine(const std::wstring& name, DWORD versionMajor, DWORD versionMinor, bool reachable) {
    std::wstring machine = CreateMachine(name);
    SetMachineSetting(machine, L"Machine", L"VersionMajor", std::to_wstring(versionMajor));
    SetMachineSetting(machine, L"Machine", L"VersionMinor", std::to_wstring(versionMinor));
    SetMachineSetting(machine, L"Machine", L"Reachable", reachable ? L"1" : L"0");
}

void SimWorldTest::SetLocalMachine(const std::wstring& name) {
    SetWorldSetting(L"World", L"LocalMachine", name);
    CreateMachine(name);
}

void SimWorldTest::AddLocalAccount(const std::wstring& machine, const std::wstring& name, const std::wstring& sid) {
    SetMachineSetting(machine, L"Accounts", name, sid);
}

void SimWorldTest::AddDomainAccount(const std::wstring& qualifiedName, const std::wstring& sid) {
    SetWorldSetting(L"Accounts", qualifiedName, sid);
}

void SimWorldTest::SetServiceState(const std::wstring& machine, const std::wstring& name, const std::wstring& state) {
    SetMachineSetting(machine, L"Services", name, state);
}

void SimWorldTest::AddRegistryKey(const std::wstring& machine, const std::wstring& keyPath) {
    ASSERT_EQ(0u, RegistryCreateKey(machine, keyPath)) << corvan::ToUtf8(keyPath);
    FlushWorld();
}

void SimWorldTest::SetRegistryValue(const std::wstring& machine, const std::wstring& keyPath,
                                    const std::wstring& valueName, DWORD type, const std::vector<BYTE>& bytes) {
    ASSERT_EQ(0u, RegistrySetValue(machine, keyPath, valueName, type, bytes))
        << corvan::ToUtf8(keyPath + L"\\" + valueName);
    FlushWorld();
}

void SimWorldTest::SetRegistryString(const std::wstring& machine, const std::wstring& keyPath,
                                     const std::wstring& valueName, const std::wstring& text, DWORD type) {
    SetRegistryValue(machine, keyPath, valueName, type, TextBytes(text));
}

void SimWorldTest::SetRegistryDword(const std::wstring& machine, const std::wstring& keyPath,
                                    const std::wstring& valueName, DWORD value) {
    SetRegistryValue(machine, keyPath, valueName, REG_DWORD, DwordBytes(value));
}

void SimWorldTest::SetRegistryMultiString(const std::wstring& machine, const std::wstring& keyPath,
                                          const std::wstring& valueName, const std::vector<std::wstring>& texts) {
    SetRegistryValue(machine, keyPath, valueName, REG_MULTI_SZ, MultiTextBytes(texts));
}

namespace {

// The hive as its file holds it, read apart from the cached one.
bool LoadHiveFile(const std::wstring& machine, RegKey& root) {
    FlushWorld();
    std::string bytes;
    if (!sim::ReadHostFile(MachineDir(machine) / "HKLM.reg", bytes)) return false;
    std::wstring error;
    EXPECT_TRUE(ParseRegExport(bytes, root, error)) << corvan::ToUtf8(error);
    return error.empty();
}

}  // namespace

bool SimWorldTest::ReadRegistryValue(const std::wstring& machine, const std::wstring& keyPath,
                                     const std::wstring& valueName, DWORD* type, std::vector<BYTE>* bytes) {
    auto root = std::make_shared<RegKey>(L"HKEY_LOCAL_MACHINE");
    if (!LoadHiveFile(machine, *root)) return false;
    std::shared_ptr<RegKey> key = FindKey(root, keyPath);
    const RegValue* value = key ? key->Value(valueName) : nullptr;
    if (!value) return false;
    if (type) *type = value->type;
    if (bytes) *bytes = value->data;
    return true;
}

std::optional<std::wstring> SimWorldTest::ReadRegistryString(const std::wstring& machine,
                                                             const std::wstring& keyPath,
                                                             const std::wstring& valueName) {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!ReadRegistryValue(machine, keyPath, valueName, &type, &bytes)) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    return BytesToText(bytes);
}

std::optional<DWORD> SimWorldTest::ReadRegistryDword(const std::wstring& machine, const std::wstring& keyPath,
                                                     const std::wstring& valueName) {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!ReadRegistryValue(machine, keyPath, valueName, &type, &bytes)) return std::nullopt;
    if (type != REG_DWORD || bytes.size() != sizeof(DWORD)) return std::nullopt;
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | DWORD{bytes[3]} << 24;  // little-endian
}

std::optional<std::vector<std::wstring>> SimWorldTest::ReadRegistryMultiString(const std::wstring& machine,
                                                                               const std::wstring& keyPath,
                                                                               const std::wstring& valueName) {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!ReadRegistryValue(machine, keyPath, valueName, &type, &bytes) || type != REG_MULTI_SZ)
        return std::nullopt;
    return BytesToMultiText(bytes);
}

bool SimWorldTest::RegistryKeyExists(const std::wstring& machine, const std::wstring& keyPath) {
    auto root = std::make_shared<RegKey>(L"HKEY_LOCAL_MACHINE");
    return LoadHiveFile(machine, *root) && FindKey(root, keyPath) != nullptr;
}

fs::path SimWorldTest::HostPathOf(const std::wstring& machine, const std::wstring& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != L':' || !iswalpha(windowsPath[0])) {
        ADD_FAILURE() << "not a drive path: " << corvan::ToUtf8(windowsPath);
        return fs::path();
    }
    fs::path path = MachineDir(machine) / "drives" / corvan::ToUtf8(std::wstring(1, towupper(windowsPath[0])));
    // Parts that exist under another case are found as Windows finds them.
    for (const auto& part : SplitKeyPath(windowsPath.substr(2))) {
        fs::path next = path / ToHostPath(part);
        std::error_code ec;
        if (!fs::exists(next, ec)) {
            for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
                if (corvan::EqualsNoCase(HostName(it->path().filename()), part)) {
                    next = it->path();
                    break;
                }
            }
        }
        path = next;
    }
    return path;
}

void SimWorldTest::AddFile(const std::wstring& machine, const std::wstring& windowsPath, const std::string& contents) {
    fs::path path = HostPathOf(machine, windowsPath);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    ASSERT_TRUE(file.good()) << path;
}

void SimWorldTest::AddDirectory(const std::wstring& machine, const std::wstring& windowsPath) {
    fs::path path = HostPathOf(machine, windowsPath);
    std::error_code ec;
    fs::create_directories(path, ec);
    ASSERT_TRUE(fs::is_directory(path)) << path;
}

std::string SimWorldTest::ReadHostFile(const fs::path& path) {
    std::string bytes;
    EXPECT_TRUE(sim::ReadHostFile(path, bytes)) << path;
    return bytes;
}

void SimWorldTest::AddFault(const std::wstring& rule) {
    fs::path file = WorldRoot() / "faults.ini";
    std::string bytes;
    if (!sim::ReadHostFile(file, bytes)) bytes = "[Faults]\n";
    bytes += corvan::ToUtf8(rule) + "\n";
    ASSERT_TRUE(WriteHostFileAtomic(file, bytes));
    ReloadFaults();
}

}  // namespace sim
