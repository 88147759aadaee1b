#include "platform/sim/world.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>

#include "platform/sim/hive.h"
#include "platform/sim/hostfile.h"
#include "platform/sim/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

// ---- INI files -------------------------------------------------------------
// Kept as lines so that a write changes one line and leaves comments alone.

std::wstring Trim(const std::wstring& text) {
    size_t begin = text.find_first_not_of(L" \t");
    if (begin == std::wstring::npos) return std::wstring();
    size_t end = text.find_last_not_of(L" \t");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::wstring> ReadIni(const fs::path& path) {
    std::string bytes;
    if (!ReadHostFile(path, bytes)) return {};
    return SplitLines(DecodeText(bytes));
}

bool WriteIni(const fs::path& path, const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const auto& line : lines) {
        text += line;
        text += L'\n';
    }
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    return WriteHostFileAtomic(path, corvan::ToUtf8(text));
}

bool IsSectionLine(const std::wstring& line, std::wstring& name) {
    std::wstring trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != L'[' || trimmed.back() != L']') return false;
    name = Trim(trimmed.substr(1, trimmed.size() - 2));
    return true;
}

bool IsEntryLine(const std::wstring& line, std::wstring& key, std::wstring& value) {
    std::wstring trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == L';' || trimmed[0] == L'#') return false;
    size_t eq = trimmed.find(L'=');
    if (eq == std::wstring::npos) return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return !key.empty();
}

std::vector<std::pair<std::wstring, std::wstring>> IniSection(const std::vector<std::wstring>& lines,
                                                              const std::wstring& section) {
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    bool inside = false;
    std::wstring name, key, value;
    for (const auto& line : lines) {
        if (IsSectionLine(line, name)) {
            inside = corvan::EqualsNoCase(name, section);
        } else if (inside && IsEntryLine(line, key, value)) {
            entries.emplace_back(key, value);
        }
    }
    return entries;
}

std::wstring IniGet(const std::vector<std::wstring>& lines, const std::wstring& section,
                    const std::wstring& key, const std::wstring& fallback) {
    for (const auto& [k, v] : IniSection(lines, section))
        if (corvan::EqualsNoCase(k, key)) return v;
    return fallback;
}

void IniSet(std::vector<std::wstring>& lines, const std::wstring& section, const std::wstring& key,
            const std::wstring& value) {
    std::wstring entry = key + L"=" + value;
    bool inside = false;
    size_t insertAt = std::wstring::npos;
    std::wstring name, k, v;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsSectionLine(lines[i], name)) {
            if (inside) break;
            inside = corvan::EqualsNoCase(name, section);
            if (inside) insertAt = i + 1;
        } else if (inside && IsEntryLine(lines[i], k, v)) {
            if (corvan::EqualsNoCase(k, key)) {
                lines[i] = entry;
                return;
            }
            insertAt = i + 1;
        }
    }
    if (insertAt != std::wstring::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        return;
    }
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back(L"[" + section + L"]");
    lines.push_back(entry);
}

// ---- injected failures -----------------------------------------------------

struct FaultRule {
    std::wstring line;
    std::string function;
    std::wstring machine;
    std::wstring text;
    DWORD error = 0;
    long remaining = -1;  // below zero: always
};

bool ParseNumber(const std::wstring& text, unsigned long& number) {
    if (text.empty()) return false;
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        start = 2;
    }
    wchar_t* end = nullptr;
    number = std::wcstoul(text.c_str() + start, &end, base);
    return end && *end == 0 && end != text.c_str() + start;
}

bool ParseFaultRule(const std::wstring& rule, FaultRule& out) {
    std::wstring key, value;
    if (!IsEntryLine(rule, key, value)) return false;
    out = FaultRule();
    out.line = Trim(rule);
    size_t cut = key.find_first_of(L"@:");
    std::wstring function = Trim(key.substr(0, cut));
    if (function.empty()) return false;
    if (cut != std::wstring::npos && key[cut] == L'@') {
        size_t colon = key.find(L':', cut + 1);
        std::wstring machine = Trim(key.substr(cut + 1, colon == std::wstring::npos ? std::wstring::npos
                                                                                    : colon - cut - 1));
        machine.erase(0, machine.find_first_not_of(L'\\'));
        out.machine = machine;
        cut = colon;
    }
    if (cut != std::wstring::npos) out.text = key.substr(cut + 1);
    std::string ascii;
    if (!corvan::ToLatin1(function, ascii)) return false;
    out.function = ascii;

    size_t comma = value.find(L',');
    unsigned long error = 0, count = 0;
    if (!ParseNumber(Trim(value.substr(0, comma)), error)) return false;
    out.error = static_cast<DWORD>(error);
    if (comma != std::wstring::npos) {
        if (!ParseNumber(Trim(value.substr(comma + 1)), count)) return false;
        out.remaining = static_cast<long>(count);
    }
    return true;
}

template <class Args>
bool Matches(const FaultRule& rule, const char* function, const std::wstring& machine, const Args& args) {
    if (rule.remaining == 0 || rule.function != function) return false;
    if (!rule.machine.empty() && !corvan::EqualsNoCase(rule.machine, machine)) return false;
    if (rule.text.empty()) return true;
    for (const auto& arg : args)
        if (corvan::FindNoCase(std::wstring(arg), rule.text) != std::wstring::npos) return true;
    return false;
}

// ---- the world -------------------------------------------------------------

// A host file's lines as last read, with what stat said of the file then.
struct CachedIni {
    struct stat seen {};
    bool settled = false;  // written long enough before the read that a later write shows in its times
    std::vector<std::wstring> lines;
};

struct WorldState {
    bool ready = false;
    bool fromEnv = false;
    std::string envValue;  // CORVAN_WORLD or HOME when the root was computed
    fs::path root;
    bool worldIniLoaded = false;
    std::vector<std::wstring> worldIni;
    std::wstring localMachine;  // from worldIni; empty until asked
    std::map<std::wstring, std::wstring> folders;  // upper-case name -> folder name
    std::map<std::wstring, CachedIni> machineInis;  // by folder name
    bool faultsLoaded = false;
    std::vector<FaultRule> fileRules;
};

// Never destroyed, so the flush at exit can still use them.
WorldState& State() {
    static auto* state = new WorldState;
    return *state;
}

std::vector<FaultRule>& TestRules() {
    static auto* rules = new std::vector<FaultRule>;
    return *rules;
}

std::wstring HostComputerName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof(buffer) - 1) != 0 || !buffer[0]) return L"LOCALHOST";
    std::wstring name = corvan::FromUtf8(buffer);
    name = name.substr(0, name.find(L'.'));
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    return corvan::ToUpper(name);
}

void FlushAtExit() { FlushHives(); }

void CreateWorldFiles(const fs::path& root) {
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::exists(root / "world.ini", ec))
        WriteIni(root / "world.ini", {L"[World]", L"LocalMachine=" + HostComputerName(), L"",
                                      L"[Accounts]"});
}

// Notices a change of CORVAN_WORLD (or HOME) and starts over in the new world.
// Where CORVAN_WORLD stood in the environment when it was last read. Every
// simulated call asks for the world and reading a variable scans the whole
// environment; setenv and unsetenv replace or move an entry and never
// rewrite its text, so the same entry in the same place is the same value.
struct EnvironmentMark {
    char** environment = nullptr;
    size_t slot = 0;
    const char* entry = nullptr;

    bool Unchanged() const { return entry && environment == environ && environment[slot] == entry; }
    void Take(const char* value) {
        *this = EnvironmentMark();
        for (size_t i = 0; environ && environ[i]; ++i) {
            if (environ[i] + std::strlen("CORVAN_WORLD=") == value) {
                environment = environ;
                slot = i;
                entry = environ[i];
                return;
            }
        }
    }
};

WorldState& World() {
    WorldState& state = State();
    static EnvironmentMark mark;
    // HOME stands for the world only while CORVAN_WORLD is unset, and a
    // variable added later can land anywhere: that case reads every time.
    if (state.ready && state.fromEnv && mark.Unchanged()) return state;
    const char* env = std::getenv("CORVAN_WORLD");
    bool fromEnv = env && *env;
    const char* value = fromEnv ? env : std::getenv("HOME");
    if (!value) value = "";
    if (fromEnv)
        mark.Take(env);
    else
        mark = EnvironmentMark();
    if (state.ready && state.fromEnv == fromEnv && state.envValue == value) return state;

    static bool atExitRegistered = false;
    if (!atExitRegistered) {
        std::atexit(FlushAtExit);
        atExitRegistered = true;
    }
    if (state.ready) {
        FlushHives();
        ForgetHives();
    }
    ForgetResolvedPaths();
    state = WorldState();
    state.ready = true;
    state.fromEnv = fromEnv;
    state.envValue = value;
    std::error_code ec;
    fs::path root = fromEnv ? fs::path(value) : fs::path(*value ? value : ".") / ".corvan" / "world";
    state.root = fs::absolute(root, ec).lexically_normal();
    if (ec) state.root = root;
    CreateWorldFiles(state.root);
    CreateMachine(LocalMachineName());
    return state;
}

const std::vector<std::wstring>& WorldIni() {
    WorldState& state = World();
    if (!state.worldIniLoaded) {
        state.worldIni = ReadIni(state.root / "world.ini");
        state.worldIniLoaded = true;
    }
    return state.worldIni;
}

// The folder of a machine, matched ignoring case; empty when there is none.
std::wstring FindMachineFolder(const std::wstring& machine) {
    WorldState& state = World();
    if (machine.empty()) return std::wstring();
    std::wstring upper = corvan::ToUpper(machine);
    // The world's layout does not change under a run; the simulation's own
    // changes and the checks of a missing path or machine.ini forget entries.
    auto cached = state.folders.find(upper);
    if (cached != state.folders.end()) return cached->second;
    std::wstring found;
    std::error_code ec;
    for (fs::directory_iterator it(state.root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_directory(ec)) continue;
        std::wstring name = HostName(it->path().filename());
        if (name == machine) {
            found = name;
            break;
        }
        if (found.empty() && corvan::EqualsNoCase(name, machine)) found = name;
    }
    if (!found.empty()) state.folders[upper] = found;
    return found;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// File times come from a clock that moves in steps, and some file systems keep
// them in whole seconds: a file changed less than this before it was read may
// be changed again without its times moving, so its lines are not trusted.
constexpr time_t kSettleSeconds = 2;

bool Settled(const struct stat& st, const struct timespec& readAt) {
    const struct timespec& changed = st.st_mtim.tv_sec > st.st_ctim.tv_sec ? st.st_mtim : st.st_ctim;
    return readAt.tv_sec - changed.tv_sec > kSettleSeconds;
}

// machine.ini of a machine folder, read again only when stat says it changed.
// present is false when the file cannot be found.
const std::vector<std::wstring>& MachineIni(const std::wstring& folder, bool* present = nullptr) {
    static const std::vector<std::wstring> kNone;
    WorldState& state = World();
    fs::path file = state.root / ToHostPath(folder) / "machine.ini";
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) {
        state.machineInis.erase(folder);
        if (present) *present = false;
        return kNone;
    }
    if (present) *present = true;
    CachedIni& cached = state.machineInis[folder];
    if (cached.settled && SameFile(cached.seen, st)) return cached.lines;
    struct timespec readAt {};
    clock_gettime(CLOCK_REALTIME, &readAt);
    cached.lines = ReadIni(file);
    cached.seen = st;
    cached.settled = Settled(st, readAt);
    return cached.lines;
}

void LoadFaults(WorldState& state, bool keepCounts) {
    std::vector<FaultRule> previous = std::move(state.fileRules);
    state.fileRules.clear();
    std::wstring name, key, value;
    for (const auto& line : ReadIni(state.root / "faults.ini")) {
        if (IsSectionLine(line, name) || !IsEntryLine(line, key, value)) continue;
        FaultRule rule;
        if (!ParseFaultRule(line, rule)) {
            corvan::ConsoleErr(L"faults.ini: cannot read the rule \"" + Trim(line) + L"\"\n");
            continue;
        }
        if (keepCounts) {
            size_t index = state.fileRules.size();
            if (index < previous.size() && previous[index].line == rule.line)
                rule.remaining = previous[index].remaining;
        }
        state.fileRules.push_back(rule);
    }
    state.faultsLoaded = true;
}

std::wstring StripServerPrefix(LPCWSTR server) {
    std::wstring name = server ? server : L"";
    name.erase(0, name.find_first_not_of(L'\\'));
    return name;
}

struct WellKnown {
    const wchar_t* domain;
    const wchar_t* name;
    const wchar_t* sid;
    SID_NAME_USE use;
};

const WellKnown kWellKnown[] = {
    {L"", L"Everyone", L"S-1-1-0", SidTypeWellKnownGroup},
    {L"", L"CREATOR OWNER", L"S-1-3-0", SidTypeWellKnownGroup},
    {L"", L"CREATOR GROUP", L"S-1-3-1", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"DIALUP", L"S-1-5-1", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"NETWORK", L"S-1-5-2", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"BATCH", L"S-1-5-3", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"INTERACTIVE", L"S-1-5-4", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"SERVICE", L"S-1-5-6", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"ANONYMOUS LOGON", L"S-1-5-7", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"ENTERPRISE DOMAIN CONTROLLERS", L"S-1-5-9", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"SELF", L"S-1-5-10", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"Authenticated Users", L"S-1-5-11", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"TERMINAL SERVER USER", L"S-1-5-13", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"SYSTEM", L"S-1-5-18", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"LOCAL SERVICE", L"S-1-5-19", SidTypeWellKnownGroup},
    {L"NT AUTHORITY", L"NETWORK SERVICE", L"S-1-5-20", SidTypeWellKnownGroup},
    {L"BUILTIN", L"Administrators", L"S-1-5-32-544", SidTypeAlias},
    {L"BUILTIN", L"Users", L"S-1-5-32-545", SidTypeAlias},
    {L"BUILTIN", L"Guests", L"S-1-5-32-546", SidTypeAlias},
    {L"BUILTIN", L"Power Users", L"S-1-5-32-547", SidTypeAlias},
    {L"BUILTIN", L"Account Operators", L"S-1-5-32-548", SidTypeAlias},
    {L"BUILTIN", L"Server Operators", L"S-1-5-32-549", SidTypeAlias},
    {L"BUILTIN", L"Print Operators", L"S-1-5-32-550", SidTypeAlias},
    {L"BUILTIN", L"Backup Operators", L"S-1-5-32-551", SidTypeAlias},
    {L"BUILTIN", L"Replicator", L"S-1-5-32-552", SidTypeAlias},
    {L"BUILTIN", L"Pre-Windows 2000 Compatible Access", L"S-1-5-32-554", SidTypeAlias},
    {L"BUILTIN", L"Remote Desktop Users", L"S-1-5-32-555", SidTypeAlias},
    {L"BUILTIN", L"Network Configuration Operators", L"S-1-5-32-556", SidTypeAlias},
};

// "S-1-5-21-...[,Group]": the account's SID and, optionally, its kind.
Account ParseAccount(const std::wstring& domain, const std::wstring& name, const std::wstring& value) {
    Account account{domain, name, Trim(value), SidTypeUser};
    size_t comma = value.find(L',');
    if (comma == std::wstring::npos) return account;
    account.sid = Trim(value.substr(0, comma));
    std::wstring kind = Trim(value.substr(comma + 1));
    if (corvan::EqualsNoCase(kind, L"Group")) account.use = SidTypeGroup;
    else if (corvan::EqualsNoCase(kind, L"Alias")) account.use = SidTypeAlias;
    else if (corvan::EqualsNoCase(kind, L"WellKnownGroup")) account.use = SidTypeWellKnownGroup;
    return account;
}

}  // namespace

fs::path WorldRoot() { return World().root; }

std::wstring LocalMachineName() {
    const std::vector<std::wstring>& ini = WorldIni();
    WorldState& state = World();
    if (state.localMachine.empty()) {
        std::wstring name = IniGet(ini, L"World", L"LocalMachine", L"");
        name.erase(0, name.find_first_not_of(L'\\'));
        state.localMachine = name.empty() ? HostComputerName() : name;
    }
    return state.localMachine;
}

std::wstring WorldSetting(const std::wstring& section, const std::wstring& key,
                          const std::wstring& fallback) {
    return IniGet(WorldIni(), section, key, fallback);
}

void SetWorldSetting(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    WorldState& state = World();
    std::vector<std::wstring> lines = ReadIni(state.root / "world.ini");
    IniSet(lines, section, key, value);
    WriteIni(state.root / "world.ini", lines);
    state.worldIni = std::move(lines);
    state.worldIniLoaded = true;
    state.localMachine.clear();
}

std::vector<std::pair<std::wstring, std::wstring>> WorldSection(const std::wstring& section) {
    return IniSection(WorldIni(), section);
}

std::vector<std::wstring> MachineNames() {
    WorldState& state = World();
    std::vector<std::wstring> names;
    std::error_code ec;
    for (fs::directory_iterator it(state.root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) names.push_back(HostName(it->path().filename()));
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return corvan::ToUpper(a) < corvan::ToUpper(b);
    });
    return names;
}

bool IsLocalMachine(const std::wstring& machine) {
    return corvan::EqualsNoCase(StripServerPrefix(machine.c_str()), LocalMachineName());
}

std::wstring CreateMachine(const std::wstring& machine) {
    std::wstring existing = FindMachineFolder(machine);
    if (!existing.empty()) return existing;
    fs::path dir = World().root / ToHostPath(machine);
    std::error_code ec;
    fs::create_directories(dir / "drives" / "C", ec);
    WriteIni(dir / "machine.ini", {L"[Machine]", L"VersionMajor=5", L"VersionMinor=2", L"Reachable=1",
                                   L"", L"[Accounts]", L"", L"[Services]"});
    WriteHostFileAtomic(dir / "HKLM.reg", "Windows Registry Editor Version 5.00\n\n");
    return machine;
}

DWORD ResolveMachine(LPCWSTR server, std::wstring& machine, DWORD unreachableError) {
    std::wstring name = StripServerPrefix(server);
    std::wstring local = LocalMachineName();
    if (name.empty() || corvan::EqualsNoCase(name, local)) {
        machine = CreateMachine(local);
        return 0;
    }
    if (name.find_first_of(L"\\/") != std::wstring::npos) return unreachableError;
    std::wstring folder = FindMachineFolder(name);
    if (folder.empty()) return unreachableError;
    bool present = false;
    const std::vector<std::wstring>* ini = &MachineIni(folder, &present);
    if (!present && !MachineFolderExists(folder)) {
        // Gone since it was cached: look again.
        ForgetMachineFolders();
        folder = FindMachineFolder(name);
        if (folder.empty()) return unreachableError;
        ini = &MachineIni(folder);
    }
    if (IniGet(*ini, L"Machine", L"Reachable", L"1") == L"0") return unreachableError;
    machine = folder;
    return 0;
}

bool MachineFolderExists(const std::wstring& folder) {
    struct stat st;
    return ::stat((World().root / ToHostPath(folder)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForgetMachineFolders() { World().folders.clear(); }

fs::path MachineDir(const std::wstring& machine) {
    std::wstring folder = FindMachineFolder(machine);
    return World().root / ToHostPath(folder.empty() ? machine : folder);
}

// The folder name a machine's settings are cached under.
std::wstring MachineFolderName(const std::wstring& machine) {
    std::wstring folder = FindMachineFolder(machine);
    return folder.empty() ? machine : folder;
}

std::wstring MachineSetting(const std::wstring& machine, const std::wstring& section,
                            const std::wstring& key, const std::wstring& fallback) {
    return IniGet(MachineIni(MachineFolderName(machine)), section, key, fallback);
}

void SetMachineSetting(const std::wstring& machine, const std::wstring& section, const std::wstring& key,
                       const std::wstring& value) {
    std::wstring folder = MachineFolderName(machine);
    fs::path file = World().root / ToHostPath(folder) / "machine.ini";
    std::vector<std::wstring> lines = ReadIni(file);
    IniSet(lines, section, key, value);
    WriteIni(file, lines);
    World().machineInis.erase(folder);
}

std::vector<std::pair<std::wstring, std::wstring>> MachineSection(const std::wstring& machine,
                                                                  const std::wstring& section) {
    return IniSection(MachineIni(MachineFolderName(machine)), section);
}

std::vector<Account> AccountsSeenFrom(const std::wstring& machine) {
    std::vector<Account> accounts;
    for (const auto& known : kWellKnown) accounts.push_back({known.domain, known.name, known.sid, known.use});
    std::wstring folder = FindMachineFolder(StripServerPrefix(machine.c_str()));
    if (!folder.empty()) {
        std::wstring domain = corvan::ToUpper(folder);
        for (const auto& [name, value] : MachineSection(folder, L"Accounts"))
            accounts.push_back(ParseAccount(domain, name, value));
    }
    for (const auto& [qualified, value] : WorldSection(L"Accounts")) {
        size_t slash = qualified.find(L'\\');
        std::wstring domain = slash == std::wstring::npos ? std::wstring() : qualified.substr(0, slash);
        std::wstring name = slash == std::wstring::npos ? qualified : qualified.substr(slash + 1);
        accounts.push_back(ParseAccount(domain, name, value));
    }
    return accounts;
}

namespace {

template <class Args>
DWORD FirstFault(const char* function, const std::wstring& machine, const Args& args) {
    WorldState& state = World();
    if (!state.faultsLoaded) LoadFaults(state, false);
    for (auto* rules : {&state.fileRules, &TestRules()}) {
        for (auto& rule : *rules) {
            if (!Matches(rule, function, machine, args)) continue;
            if (rule.remaining > 0) --rule.remaining;
            return rule.error;
        }
    }
    return 0;
}

}  // namespace

DWORD InjectedFault(const char* function, const std::wstring& machine,
                    std::initializer_list<std::wstring_view> args) {
    return FirstFault(function, machine, args);
}

DWORD InjectedFault(const char* function, const std::wstring& machine, const std::vector<std::wstring>& args) {
    return FirstFault(function, machine, args);
}

DWORD InjectedPathFault(const char* function, const std::wstring& path) {
    WorldState& state = World();
    if (!state.faultsLoaded) LoadFaults(state, false);
    if (state.fileRules.empty() && TestRules().empty()) return 0;
    return FirstFault(function, PathMachine(path), std::initializer_list<std::wstring_view>{path});
}

void AddFaultRule(const std::wstring& rule) {
    FaultRule parsed;
    if (!ParseFaultRule(rule, parsed)) {
        corvan::ConsoleErr(L"cannot read the fault rule \"" + rule + L"\"\n");
        return;
    }
    TestRules().push_back(parsed);
}

void ClearFaultRules() { TestRules().clear(); }

void ReloadFaults() { LoadFaults(World(), true); }

void FlushWorld() { FlushHives(); }

void ResetWorld() {
    FlushHives();
    ForgetHives();
    ForgetResolvedPaths();
    State() = WorldState();
}

}  // namespace sim
