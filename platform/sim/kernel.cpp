#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/sim/handles.h"
#include "platform/sim/winapi.h"

namespace {

thread_local DWORD g_lastError = 0;

// Slot i holds the object of handle value kFirstHandle + 4 * i (handle
// values are multiples of four on Windows). A closed handle's value is handed
// out again, as Windows does: a log opens and closes a file for every line,
// and the table stays as small as the number of handles open at once.
constexpr uintptr_t kFirstHandle = 0x100;

struct HandleTable {
    std::vector<std::shared_ptr<sim::KernelObject>> slots;
    std::vector<size_t> closed;

    std::shared_ptr<sim::KernelObject>* Slot(HANDLE handle) {
        auto value = reinterpret_cast<uintptr_t>(handle);
        if (value < kFirstHandle || (value - kFirstHandle) % 4 != 0) return nullptr;
        size_t index = (value - kFirstHandle) / 4;
        return index < slots.size() && slots[index] ? &slots[index] : nullptr;
    }
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
    size_t index = table.slots.size();
    if (table.closed.empty()) {
        table.slots.push_back(std::move(object));
    } else {
        index = table.closed.back();
        table.closed.pop_back();
        table.slots[index] = std::move(object);
    }
    return reinterpret_cast<HANDLE>(kFirstHandle + 4 * index);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    std::shared_ptr<KernelObject>* slot = Table().Slot(handle);
    return slot ? *slot : nullptr;
}

bool RemoveHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::shared_ptr<KernelObject>* slot = table.Slot(handle);
    if (!slot) return false;
    // The object goes once the table is in order again: closing it may
    // touch the table itself.
    std::shared_ptr<KernelObject> object = std::move(*slot);
    table.closed.push_back(static_cast<size_t>(slot - table.slots.data()));
    return true;
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
