// File handles of the simulated build, shared by the file calls and by the
// standard handles that processes hand to each other.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/sim/handles.h"
#include "platform/sim/wintypes.h"

namespace sim {

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
    ~FileObject() override {
        if (fd >= 0 && ownsDescriptor) ::close(fd);
    }
};

}  // namespace sim
