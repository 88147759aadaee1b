// Machine name, environment and command line of the simulated build.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

extern char** environ;

namespace {

std::wstring ComputerName() { return corvan::ToUpper(sim::LocalMachineName()); }

std::wstring TempFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    std::wstring text = corvan::FromUtf8(temp.string());
    while (text.size() > 1 && text.back() == L'/') text.pop_back();
    return text;
}

// Windows names ignore case; an exact match on the host wins over another spelling.
std::optional<std::wstring> Variable(const std::wstring& name) {
    if (name.empty()) return std::nullopt;
    if (corvan::EqualsNoCase(name, L"ComputerName")) return ComputerName();
    if (corvan::EqualsNoCase(name, L"TEMP") || corvan::EqualsNoCase(name, L"TMP")) return TempFolder();
    std::optional<std::wstring> other;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (!eq || eq == *entry) continue;
        std::wstring key = corvan::FromUtf8(std::string(*entry, static_cast<size_t>(eq - *entry)));
        if (key == name) return corvan::FromUtf8(eq + 1);
        if (!other && corvan::EqualsNoCase(key, name)) other = corvan::FromUtf8(eq + 1);
    }
    return other;
}

// As Windows expands: an unknown %NAME% stays as written, and its closing
// percent sign may open the next name.
std::wstring Expand(const std::wstring& source) {
    std::wstring out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] != L'%') {
            size_t next = source.find(L'%', i);
            if (next == std::wstring::npos) next = source.size();
            out.append(source, i, next - i);
            i = next;
            continue;
        }
        size_t close = source.find(L'%', i + 1);
        if (close == std::wstring::npos) {
            out.append(source, i, std::wstring::npos);
            break;
        }
        std::optional<std::wstring> value = Variable(source.substr(i + 1, close - i - 1));
        if (value) {
            out += *value;
            i = close + 1;
        } else {
            out.append(source, i, close - i);
            i = close;
        }
    }
    return out;
}

// Quoted so that the Windows rules for splitting a command line give the arguments back.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

std::wstring BuildCommandLine() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::wstring line;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        if (!line.empty()) line += L' ';
        line += QuoteArgument(corvan::FromUtf8(bytes.substr(start, end - start)));
        start = end + 1;
    }
    return line;
}

}  // namespace

BOOL WINAPI GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring name = ComputerName();
    if (DWORD fault = sim::InjectedFault("GetComputerNameW", sim::LocalMachineName(), {})) {
        SetLastError(fault);
        return FALSE;
    }
    auto needed = static_cast<DWORD>(name.size() + 1);
    if (!lpBuffer || *nSize < needed) {
        *nSize = needed;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(lpBuffer, name.c_str(), needed * sizeof(WCHAR));
    *nSize = needed - 1;
    return TRUE;
}

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (DWORD fault = sim::InjectedFault("ExpandEnvironmentStringsW", sim::LocalMachineName(), {lpSrc})) {
        SetLastError(fault);
        return 0;
    }
    std::wstring result = Expand(lpSrc);
    auto needed = static_cast<DWORD>(result.size() + 1);
    if (lpDst && nSize >= needed) std::memcpy(lpDst, result.c_str(), needed * sizeof(WCHAR));
    return needed;
}

LPWSTR WINAPI GetCommandLineW() {
    static std::wstring* line = new std::wstring(BuildCommandLine());
    return line->data();
}
