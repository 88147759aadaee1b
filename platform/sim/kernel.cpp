#include <cstdlib>
#include <cstring>
#include <map>
#include <pthread.h>
#include <unistd.h>

#include "platform/sim/handles.h"
#include "platform/sim/winapi.h"

namespace {

thread_local DWORD g_lastError = 0;

struct HandleTable {
    std::map<uintptr_t, std::shared_ptr<sim::KernelObject>> objects;
    uintptr_t next = 0x100;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

// LocalAlloc blocks carry their size in front, so LocalFree can tell a block
// of its own from a stray pointer only by trust, as on Windows.
struct LocalHeader {
    size_t size;
    size_t magic;
};
constexpr size_t kLocalMagic = 0x4c6f63616c426c6bULL;

}  // namespace

namespace sim {

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    uintptr_t value = table.next;
    table.next += 4;  // handle values are multiples of four on Windows
    table.objects[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    auto& objects = Table().objects;
    auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
    return Table().objects.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

}  // namespace sim

DWORD WINAPI GetLastError() { return g_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }

namespace {

pid_t g_processId = 0;  // 0 until asked, and again in a forked child

void ForgetProcessId() { g_processId = 0; }

}  // namespace

DWORD WINAPI GetCurrentProcessId() {
    // Every logged line carries it; the system is asked once per process.
    if (g_processId == 0) {
        static const bool registered = pthread_atfork(nullptr, nullptr, ForgetProcessId) == 0;
        (void)registered;
        g_processId = getpid();
    }
    return static_cast<DWORD>(g_processId);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!sim::RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    void* block = std::malloc(sizeof(LocalHeader) + uBytes);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* header = static_cast<LocalHeader*>(block);
    header->size = uBytes;
    header->magic = kLocalMagic;
    void* data = header + 1;
    if (uFlags & LMEM_ZEROINIT) std::memset(data, 0, uBytes);
    return data;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (!hMem) return nullptr;
    auto* header = static_cast<LocalHeader*>(hMem) - 1;
    if (header->magic != kLocalMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    header->magic = 0;
    std::free(header);
    return nullptr;
}
