#include "diagnostics/system_message.h"

bool SystemMessageText(DWORD code, std::wstring& text) {
    HMODULE module = nullptr;
    if (code >= 2100 && code <= 2999) module = LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    LPWSTR buffer = nullptr;
    DWORD length = FormatMessageW(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    bool found = length != 0 && buffer != nullptr;
    if (found) text.assign(buffer, length);
    if (buffer) LocalFree(buffer);
    if (module) FreeLibrary(module);
    return found;
}
