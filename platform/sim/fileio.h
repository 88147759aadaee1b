// File handles of the simulated build, shared by the file calls and by the
// standard handles that processes hand to each other.
#pragma once

#include <unistd.h>

#include <string>

#include "platform/sim/handles.h"

namespace sim {

struct FileObject : KernelObject {
    int fd = -1;
    bool ownsDescriptor = true;  // false for the process's standard streams
    std::wstring path;           // as it was opened, for the fault rules of the calls on it
    ~FileObject() override {
        if (fd >= 0 && ownsDescriptor) ::close(fd);
    }
};

}  // namespace sim
