// Processes run as host processes; the process clock advances only by Sleep.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/fileio.h"
#include "platform/sim/handles.h"
#include "platform/sim/paths.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Children whose handles were all closed while they ran; collected later so
// they do not linger as zombies.
std::vector<pid_t>& Abandoned() {
    static std::vector<pid_t> pids;
    return pids;
}

void ReapAbandoned() {
    auto& pids = Abandoned();
    pids.erase(std::remove_if(pids.begin(), pids.end(),
                              [](pid_t pid) {
                                  int status;
                                  return ::waitpid(pid, &status, WNOHANG) != 0;
                              }),
               pids.end());
}

struct ProcessState {
    pid_t pid = -1;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;

    ~ProcessState() {
        if (pid > 0 && !Poll(false)) Abandoned().push_back(pid);
    }

    // True once the process has ended; block waits for that.
    bool Poll(bool block) {
        if (ended) return true;
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == 0) return false;
        ended = true;
        if (result < 0)
            exitCode = static_cast<DWORD>(-1);  // reaped elsewhere: the code is lost
        else if (WIFEXITED(status))
            exitCode = static_cast<DWORD>(WEXITSTATUS(status));
        else
            exitCode = static_cast<DWORD>(128 + WTERMSIG(status));
        return true;
    }
};

struct ProcessObject : sim::KernelObject {
    std::shared_ptr<ProcessState> state;
};

struct ThreadObject : sim::KernelObject {
    std::shared_ptr<ProcessState> state;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program token of a command line: up to the closing quote when it
// starts with one, else up to the first blank. No escapes apply to it.
std::wstring ProgramToken(const std::wstring& commandLine, size_t& end) {
    size_t i = 0;
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    std::wstring token;
    if (i < commandLine.size() && commandLine[i] == L'"') {
        size_t close = commandLine.find(L'"', i + 1);
        token = commandLine.substr(i + 1, close == std::wstring::npos ? std::wstring::npos : close - i - 1);
        end = close == std::wstring::npos ? commandLine.size() : close + 1;
    } else {
        size_t stop = i;
        while (stop < commandLine.size() && !IsBlank(commandLine[stop])) ++stop;
        token = commandLine.substr(i, stop - i);
        end = stop;
    }
    return token;
}

// The arguments after the program token, split as the C runtime of a
// Windows program splits them.
std::vector<std::wstring> SplitArguments(const std::wstring& text, size_t pos) {
    std::vector<std::wstring> args;
    for (;;) {
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        if (pos >= text.size()) break;
        std::wstring arg;
        bool quoted = false;
        while (pos < text.size()) {
            size_t backslashes = 0;
            while (pos < text.size() && text[pos] == L'\\') {
                ++backslashes;
                ++pos;
            }
            if (pos < text.size() && text[pos] == L'"') {
                arg.append(backslashes / 2, L'\\');
                if (backslashes % 2) {
                    arg += L'"';
                    ++pos;
                } else if (quoted && pos + 1 < text.size() && text[pos + 1] == L'"') {
                    arg += L'"';  // "" inside quotes is one quote
                    pos += 2;
                } else {
                    quoted = !quoted;
                    ++pos;
                }
                continue;
            }
            arg.append(backslashes, L'\\');
            if (pos >= text.size() || (!quoted && IsBlank(text[pos]))) break;
            arg += text[pos++];
        }
        args.push_back(arg);
    }
    return args;
}

bool IsRegularFile(const fs::path& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasExtension(const std::wstring& name) {
    size_t dot = name.rfind(L'.');
    return dot != std::wstring::npos && name.find_first_of(L"\\/", dot) == std::wstring::npos;
}

// Finds the program file. A bare name is looked for in the current directory
// and then along the host's PATH; Windows would also try the name with ".exe".
DWORD FindProgram(const std::wstring& program, bool bareNameSearch, fs::path& file) {
    std::vector<std::wstring> names = {program};
    if (bareNameSearch && !HasExtension(program)) names.push_back(program + L".exe");
    struct stat st;
    sim::HostPath resolved;
    DWORD firstError = 0;
    for (const auto& name : names) {
        if (DWORD error = sim::ResolvePath(name, resolved)) return error;
        if (::stat(resolved.path.c_str(), &st) == 0) {
            file = resolved.path;
            return S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        }
        if (!firstError) {
            std::error_code ec;
            firstError = fs::is_directory(resolved.path.parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        }
    }
    if (bareNameSearch) {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "";
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t stop = dirs.find(':', start);
            if (stop == std::string::npos) stop = dirs.size();
            std::string dir = dirs.substr(start, stop - start);
            start = stop + 1;
            if (dir.empty()) continue;
            for (const auto& name : names) {
                fs::path candidate = fs::path(dir) / corvan::ToUtf8(name);
                if (IsRegularFile(candidate, st)) {
                    file = candidate;
                    return ERROR_SUCCESS;
                }
            }
        }
    }
    return firstError;
}

// The host command that runs file: the file itself when the host can execute
// it, else the interpreter of its "#!" line.
DWORD HostCommand(const fs::path& file, std::vector<std::string>& argv) {
    if (::access(file.c_str(), X_OK) == 0) {
        argv = {file.string()};
        return ERROR_SUCCESS;
    }
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line.compare(0, 2, "#!") != 0) return ERROR_BAD_EXE_FORMAT;
    line = line.substr(2);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return ERROR_BAD_EXE_FORMAT;
    size_t stop = line.find_first_of(" \t", start);
    argv = {line.substr(start, stop == std::string::npos ? std::string::npos : stop - start)};
    if (stop != std::string::npos) {
        size_t argStart = line.find_first_not_of(" \t", stop);
        size_t argEnd = line.find_last_not_of(" \t");
        if (argStart != std::string::npos) argv.push_back(line.substr(argStart, argEnd - argStart + 1));
    }
    argv.push_back(file.string());
    return ERROR_SUCCESS;
}

std::vector<std::string> EnvironmentBlock(LPVOID block, DWORD flags) {
    std::vector<std::string> entries;
    if (!block) {
        for (char** e = environ; e && *e; ++e) entries.emplace_back(*e);
    } else if (flags & CREATE_UNICODE_ENVIRONMENT) {
        for (auto* p = static_cast<const WCHAR*>(block); *p; p += std::wcslen(p) + 1)
            entries.push_back(corvan::ToUtf8(p));
    } else {
        for (auto* p = static_cast<const char*>(block); *p; p += std::strlen(p) + 1) entries.emplace_back(p);
    }
    return entries;
}

DWORD ExecError(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

HANDLE& StdHandleSlot(int index) {
    static HANDLE slots[3] = {nullptr, nullptr, nullptr};
    return slots[index];
}

// The host descriptor a child gets for one standard stream: the file behind
// the handle, or the null device for a handle that names no file.
int ChildDescriptor(HANDLE handle) {
    if (auto file = sim::HandleObject<sim::FileObject>(handle)) return file->fd;
    return -1;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::atomic<uint64_t> g_sleptMs{0};

DWORD ClockBase() {
    static const DWORD base = [] {
        struct timespec ts;
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
    }();
    return base;
}

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL /*bInheritHandles*/, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    ReapAbandoned();
    if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
        return Fail(ERROR_INVALID_PARAMETER);
    std::wstring commandLine = lpCommandLine ? lpCommandLine : L"";
    size_t argsStart = 0;
    std::wstring program = ProgramToken(commandLine, argsStart);
    // With an application name the whole command line, its first token
    // included, is what the program sees; that token is still its own name.
    if (lpApplicationName) program = lpApplicationName;
    if (program.empty()) return Fail(ERROR_PATH_NOT_FOUND);

    if (DWORD fault = sim::InjectedFault("CreateProcessW", sim::PathMachine(program), {program, commandLine}))
        return Fail(fault);

    bool bareName = !lpApplicationName && program.find_first_of(L"\\/:") == std::wstring::npos;
    fs::path file;
    if (DWORD error = FindProgram(program, bareName, file)) return Fail(error);
    std::vector<std::string> argv;
    if (DWORD error = HostCommand(file, argv)) return Fail(error);
    for (const auto& arg : SplitArguments(commandLine, argsStart)) argv.push_back(corvan::ToUtf8(arg));

    std::string workDir;
    sim::HostPath dir;
    std::error_code ec;
    if (lpCurrentDirectory) {
        if (DWORD error = sim::ResolvePath(lpCurrentDirectory, dir)) return Fail(error);
        if (!fs::is_directory(dir.path, ec)) return Fail(ERROR_DIRECTORY);
        workDir = dir.path.string();
    } else if (sim::ResolvePath(sim::CurrentDirectory(), dir) == ERROR_SUCCESS && fs::is_directory(dir.path, ec)) {
        workDir = dir.path.string();
    }

    int streams[3] = {0, 1, 2};
    if (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) {
        streams[0] = ChildDescriptor(lpStartupInfo->hStdInput);
        streams[1] = ChildDescriptor(lpStartupInfo->hStdOutput);
        streams[2] = ChildDescriptor(lpStartupInfo->hStdError);
    }
    int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int& fd : streams)
        if (fd < 0) fd = nullFd;

    std::vector<std::string> env = EnvironmentBlock(lpEnvironment, dwCreationFlags);
    std::vector<char*> argvPtrs, envPtrs;
    for (auto& a : argv) argvPtrs.push_back(a.data());
    argvPtrs.push_back(nullptr);
    for (auto& e : env) envPtrs.push_back(e.data());
    envPtrs.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (nullFd >= 0) ::close(nullFd);
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on. The streams are copied
        // above 2 first, so one that is another's target is not lost.
        int moved[3];
        for (int i = 0; i < 3; ++i) moved[i] = streams[i] >= 0 ? ::fcntl(streams[i], F_DUPFD_CLOEXEC, 3) : -1;
        for (int i = 0; i < 3; ++i)
            if (moved[i] >= 0) ::dup2(moved[i], i);
        int error = 0;
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) error = errno;
        if (!error) {
            ::execve(argvPtrs[0], argvPtrs.data(), envPtrs.data());
            error = errno;
        }
        ssize_t ignored = ::write(pipeFds[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (nullFd >= 0) ::close(nullFd);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    int childError = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    if (n > 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return Fail(ExecError(childError));
    }

    auto state = std::make_shared<ProcessState>();
    state->pid = pid;
    auto process = std::make_shared<ProcessObject>();
    process->state = state;
    auto thread = std::make_shared<ThreadObject>();
    thread->state = state;
    lpProcessInformation->hProcess = sim::AddHandle(process);
    lpProcessInformation->hThread = sim::AddHandle(thread);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    std::shared_ptr<ProcessState> state;
    if (auto process = sim::HandleObject<ProcessObject>(hHandle))
        state = process->state;
    else if (auto thread = sim::HandleObject<ThreadObject>(hHandle))
        state = thread->state;
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (dwMilliseconds == INFINITE) {
        state->Poll(true);
        return WAIT_OBJECT_0;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    auto step = std::chrono::milliseconds(1);
    while (!state->Poll(false)) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, deadline - now));
        if (step < std::chrono::milliseconds(20)) step *= 2;
    }
    return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    auto process = sim::HandleObject<ProcessObject>(hProcess);
    if (!process) return Fail(ERROR_INVALID_HANDLE);
    if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER);
    process->state->Poll(false);
    *lpExitCode = process->state->exitCode;
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    int index;
    switch (nStdHandle) {
    case STD_INPUT_HANDLE:
        index = 0;
        break;
    case STD_OUTPUT_HANDLE:
        index = 1;
        break;
    case STD_ERROR_HANDLE:
        index = 2;
        break;
    default:
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE& slot = StdHandleSlot(index);
    if (!slot) {
        auto stream = std::make_shared<sim::FileObject>();
        stream->fd = index;
        stream->ownsDescriptor = false;
        slot = sim::AddHandle(stream);
    }
    return slot;
}

DWORD WINAPI GetTickCount() {
    return static_cast<DWORD>(ClockBase() + static_cast<DWORD>(g_sleptMs.load()));
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    // A wait that never ends cannot be skipped.
    if (dwMilliseconds == INFINITE) {
        for (;;) ::pause();
    }
    g_sleptMs += dwMilliseconds;
}
