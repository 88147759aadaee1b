// Message tables and the message formatter. The texts are worded as Windows
// words them, each ending in CR LF, for the error numbers this simulation
// can produce; "netmsg.dll" holds the network messages 2100-2999.
#include <algorithm>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/winapi.h"
#include "platform/text.h"

namespace {

const std::map<DWORD, const wchar_t*>& SystemTable() {
    static const std::map<DWORD, const wchar_t*> table = {
        {0, L"The operation completed successfully."},
        {1, L"Incorrect function."},
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {4, L"The system cannot open the file."},
        {5, L"Access is denied."},
        {6, L"The handle is invalid."},
        {7, L"The storage control blocks were destroyed."},
        {8, L"Not enough storage is available to process this command."},
        {9, L"The storage control block address is invalid."},
        {10, L"The environment is incorrect."},
        {11, L"An attempt was made to load a program with an incorrect format."},
        {12, L"The access code is invalid."},
        {13, L"The data is invalid."},
        {14, L"Not enough storage is available to complete this operation."},
        {17, L"The system cannot move the file to a different disk drive."},
        {18, L"There are no more files."},
        {29, L"The system cannot write to the specified device."},
        {30, L"The system cannot read from the specified device."},
        {31, L"A device attached to the system is not functioning."},
        {32, L"The process cannot access the file because it is being used by another process."},
        {33, L"The process cannot access the file because another process has locked a portion of the file."},
        {38, L"Reached the end of the file."},
        {50, L"The request is not supported."},
        {53, L"The network path was not found."},
        {64, L"The specified network name is no longer available."},
        {67, L"The network name cannot be found."},
        {80, L"The file exists."},
        {87, L"The parameter is incorrect."},
        {111, L"The file name is too long."},
        {112, L"There is not enough space on the disk."},
        {122, L"The data area passed to a system call is too small."},
        {123, L"The filename, directory name, or volume label syntax is incorrect."},
        {124, L"The system call level is not correct."},
        {126, L"The specified module could not be found."},
        {131, L"An attempt was made to move the file pointer before the beginning of the file."},
        {145, L"The directory is not empty."},
        {183, L"Cannot create a file when that file already exists."},
        {203, L"The system could not find the environment option that was entered."},
        {206, L"The filename or extension is too long."},
        {234, L"More data is available."},
        {258, L"The wait operation timed out."},
        {259, L"No more data is available."},
        {267, L"The directory name is invalid."},
        {317, L"The system cannot find message text for message number 0x%1 in the message file for %2."},
        {1004, L"Invalid flags."},
        {1009, L"The configuration registry database is corrupt."},
        {1010, L"The configuration registry key is invalid."},
        {1011, L"The configuration registry key could not be opened."},
        {1012, L"The configuration registry key could not be read."},
        {1013, L"The configuration registry key could not be written."},
        {1051, L"A stop control has been sent to a service that other running services are dependent on."},
        {1052, L"The requested control is not valid for this service."},
        {1053, L"The service did not respond to the start or control request in a timely fashion."},
        {1056, L"An instance of the service is already running."},
        {1057, L"The account name is invalid or does not exist, or the password is invalid for the account name specified."},
        {1058, L"The service cannot be started, either because it is disabled or because it has no enabled devices associated with it."},
        {1060, L"The specified service does not exist as an installed service."},
        {1061, L"The service cannot accept control messages at this time."},
        {1062, L"The service has not been started."},
        {1072, L"The specified service has been marked for deletion."},
        {1210, L"The format of the specified computer name is invalid."},
        {1215, L"The format of the specified network name is invalid."},
        {1231, L"The network location cannot be reached. For information about network troubleshooting, see Windows Help."},
        {1305, L"The revision level is unknown."},
        {1306, L"Indicates two revision levels are incompatible."},
        {1314, L"A required privilege is not held by the client."},
        {1332, L"No mapping between account names and security IDs was done."},
        {1336, L"The access control list (ACL) structure is invalid."},
        {1337, L"The security ID structure is invalid."},
        {1338, L"The security descriptor structure is invalid."},
        {1344, L"No more memory is available for security information updates."},
        {1460, L"This operation returned because the timeout period expired."},
        {1722, L"The RPC server is unavailable."},
        {1780, L"A null reference pointer was passed to the stub."},
        {1784, L"The supplied user buffer is not valid for the requested operation."},
        {1796, L"The specified port is unknown."},
        {1797, L"The printer driver is unknown."},
        {1798, L"The print processor is unknown."},
        {1799, L"The specified separator file is invalid."},
        {1800, L"The specified priority is invalid."},
        {1801, L"The printer name is invalid."},
        {1802, L"The printer already exists."},
        {1804, L"The specified datatype is invalid."},
        {1805, L"The environment specified is invalid."},
        {1905, L"The specified printer has been deleted."},
        {1921, L"The name of the file cannot be resolved by the system."},
    };
    return table;
}

const std::map<DWORD, const wchar_t*>& NetworkTable() {
    static const std::map<DWORD, const wchar_t*> table = {
        {2102, L"The workstation driver is not installed."},
        {2103, L"The server could not be located."},
        {2114, L"The Server service is not started."},
        {2116, L"The device or directory does not exist."},
        {2118, L"The share name is already in use on this server."},
        {2123, L"The API return buffer is too small."},
        {2138, L"The Workstation service has not been started."},
        {2220, L"The group name could not be found."},
        {2221, L"The user name could not be found."},
        {2310, L"This shared resource does not exist."},
        {2351, L"This computer name is invalid."},
    };
    return table;
}

// The one module this simulation can load: the network message table.
HMODULE NetmsgModule() {
    static int marker;
    return reinterpret_cast<HMODULE>(&marker);
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

struct Inserts {
    bool fromArray;
    const DWORD_PTR* array;
    va_list* list;
    std::vector<DWORD_PTR> consumed;  // va_list arguments are read once, in order

    DWORD_PTR Get(size_t index) {
        if (fromArray) return array[index - 1];
        while (consumed.size() < index) consumed.push_back(va_arg(*list, DWORD_PTR));
        return consumed[index - 1];
    }
};

// Expands the formatter's escapes. Returns false for an insert without an
// argument to take it from, as Windows refuses such a call.
bool Expand(const std::wstring& source, bool ignoreInserts, Inserts* inserts, std::wstring& out) {
    for (size_t i = 0; i < source.size(); ++i) {
        wchar_t c = source[i];
        if (c != L'%' || i + 1 >= source.size()) {
            out += c;
            continue;
        }
        wchar_t next = source[i + 1];
        if (next >= L'1' && next <= L'9') {
            size_t start = i;
            size_t index = next - L'0';
            i += 1;
            if (i + 1 < source.size() && source[i + 1] >= L'0' && source[i + 1] <= L'9') {
                index = index * 10 + (source[i + 1] - L'0');
                i += 1;
            }
            std::wstring format = L"%ls";
            if (i + 1 < source.size() && source[i + 1] == L'!') {
                size_t close = source.find(L'!', i + 2);
                if (close != std::wstring::npos) {
                    std::wstring spec = source.substr(i + 2, close - i - 2);
                    // Windows' wide formatter reads %s as a wide text.
                    if (spec == L"s" || spec == L"S") spec = L"ls";
                    format = L"%" + spec;
                    i = close;
                }
            }
            if (ignoreInserts) {
                out += source.substr(start, i - start + 1);
                continue;
            }
            if (!inserts) return false;
            DWORD_PTR arg = inserts->Get(index);
            if (format == L"%ls")
                out += arg ? reinterpret_cast<const wchar_t*>(arg) : L"(null)";
            else
                out += corvan::Format(format.c_str(), arg);
            continue;
        }
        i += 1;
        switch (next) {
        case L'0':
            return true;  // ends the message without a line break
        case L'n':
            out += L"\r\n";
            break;
        case L'r':
            out += L'\r';
            break;
        case L't':
            out += L'\t';
            break;
        case L'b':
            out += L' ';
            break;
        default:
            out += next;  // %% %. %! and a blank stand for themselves
            break;
        }
    }
    return true;
}

}  // namespace

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE /*hFile*/, DWORD /*dwFlags*/) {
    if (lpLibFileName && corvan::EqualsNoCase(BaseName(lpLibFileName), L"netmsg.dll")) {
        SetLastError(ERROR_SUCCESS);
        return NetmsgModule();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule != NetmsgModule()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    std::wstring source;
    bool found = false;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        if (!lpSource) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        source = static_cast<const wchar_t*>(lpSource);
        found = true;
    } else {
        if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) && lpSource == NetmsgModule()) {
            auto it = NetworkTable().find(dwMessageId);
            if (it != NetworkTable().end()) {
                source = std::wstring(it->second) + L"\r\n";
                found = true;
            }
        }
        if (!found && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) {
            auto it = SystemTable().find(dwMessageId);
            if (it != SystemTable().end()) {
                source = std::wstring(it->second) + L"\r\n";
                found = true;
            }
        }
    }
    if (!found) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }

    std::wstring text;
    Inserts inserts{(dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0,
                    reinterpret_cast<const DWORD_PTR*>(Arguments), Arguments, {}};
    bool ignore = (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    if (!Expand(source, ignore, Arguments ? &inserts : nullptr, text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (text.empty()) {
        SetLastError(ERROR_SUCCESS);
        return 0;
    }

    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t count = std::max<size_t>(text.size() + 1, nSize);
        auto* block = static_cast<LPWSTR>(LocalAlloc(LPTR, count * sizeof(WCHAR)));
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        text.copy(block, text.size());
        block[text.size()] = L'\0';
        *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
    } else {
        if (!lpBuffer || text.size() + 1 > nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        text.copy(lpBuffer, text.size());
        lpBuffer[text.size()] = L'\0';
    }
    return static_cast<DWORD>(text.size());
}
