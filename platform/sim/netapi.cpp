// Server information of the simulated build, from each machine's machine.ini.
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

// Net buffers carry a header so that NetApiBufferFree can refuse a stray pointer.
struct NetHeader {
    size_t magic;
    size_t size;
};
constexpr size_t kNetMagic = 0x4e65744275666672ULL;

DWORD NumberSetting(const std::wstring& machine, const wchar_t* key, DWORD fallback) {
    std::wstring text = sim::MachineSetting(machine, L"Machine", key, L"");
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(text.c_str(), &end, 0);
    return end && *end == 0 ? static_cast<DWORD>(value) : fallback;
}

}  // namespace

namespace sim {

void* NetApiAllocate(size_t bytes) {
    auto* header = static_cast<NetHeader*>(std::calloc(1, sizeof(NetHeader) + bytes));
    if (!header) return nullptr;
    header->magic = kNetMagic;
    header->size = bytes;
    return header + 1;
}

}  // namespace sim

NET_API_STATUS WINAPI NetServerGetInfo(LMSTR servername, DWORD level, LPBYTE* bufptr) {
    std::wstring machine;
    DWORD unreachable = sim::ResolveMachine(servername, machine, ERROR_BAD_NETPATH);
    if (unreachable) {
        machine = servername ? servername : L"";
        machine.erase(0, machine.find_first_not_of(L'\\'));
    }
    if (DWORD fault = sim::InjectedFault("NetServerGetInfo", machine, {servername ? servername : L""}))
        return fault;
    if (unreachable) return unreachable;
    if (level != 101) return ERROR_INVALID_LEVEL;
    if (!bufptr) return ERROR_INVALID_PARAMETER;

    std::wstring name = corvan::ToUpper(machine);
    std::wstring comment = sim::MachineSetting(machine, L"Machine", L"Comment", L"");
    size_t bytes = sizeof(SERVER_INFO_101) + (name.size() + 1 + comment.size() + 1) * sizeof(WCHAR);
    auto* info = static_cast<SERVER_INFO_101*>(sim::NetApiAllocate(bytes));
    if (!info) return ERROR_NOT_ENOUGH_MEMORY;
    auto* text = reinterpret_cast<WCHAR*>(info + 1);
    std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    info->sv101_name = text;
    text += name.size() + 1;
    std::memcpy(text, comment.c_str(), (comment.size() + 1) * sizeof(WCHAR));
    info->sv101_comment = text;
    info->sv101_platform_id = PLATFORM_ID_NT;
    info->sv101_version_major = NumberSetting(machine, L"VersionMajor", 5);
    info->sv101_version_minor = NumberSetting(machine, L"VersionMinor", 2);
    info->sv101_type = NumberSetting(machine, L"Type", SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT);
    *bufptr = reinterpret_cast<LPBYTE>(info);
    return NERR_Success;
}

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID Buffer) {
    if (!Buffer) return NERR_Success;
    auto* header = static_cast<NetHeader*>(Buffer) - 1;
    if (header->magic != kNetMagic) return ERROR_INVALID_PARAMETER;
    header->magic = 0;
    std::free(header);
    return NERR_Success;
}
