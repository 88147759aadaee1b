// File handles of the simulated build, shared by the file calls and by the
// standard handles that processes hand to each other.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/sim/handles.h"
#include "platform/sim/wintypes.h"

namespace sim {

struct FileObject;

// Opens of this process that take part in Windows' sharing rules: an open for
// reading, writing or deleting. Other processes' opens are not seen.
void TrackOpen(FileObject* file);
void ForgetOpen(FileObject* file);
// ERROR_SHARING_VIOLATION when an open of the file with this access and this
// share mode would clash with one that is open now, else ERROR_SUCCESS.
DWORD SharingConflict(dev_t device, ino_t inode, DWORD access, DWORD share);

struct FileObject : KernelObject {
    int fd = -1;
    bool ownsDescriptor = true;  // false for the process's standard streams
    DWORD access = 0;            // as CreateFileW was asked for it
    std::wstring path;           // as it was opened, for the fault rules of the calls on it
    // The size the open found, good while no write of this process has
    // happened since (a log asks for it on every line; another process's
    // write in between is no different from one just after the question).
    bool sizeKnown = false;
    uint64_t sizeAtOpen = 0;
    uint64_t writesAtOpen = 0;
    // Which file it is and what it lets other opens do, while it is tracked.
    bool tracked = false;
    dev_t device = 0;
    ino_t inode = 0;
    DWORD share = 0;
    ~FileObject() override {
        if (tracked) ForgetOpen(this);
        if (fd >= 0 && ownsDescriptor) ::close(fd);
    }
};

}  // namespace sim
