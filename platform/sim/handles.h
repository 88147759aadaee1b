// Kernel handles of the simulated build: one table for files, find handles,
// processes and threads, so CloseHandle works on all of them as on Windows.
#pragma once

#include <memory>

#include "platform/sim/wintypes.h"

namespace sim {

struct KernelObject {
    virtual ~KernelObject() = default;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// Removes the handle; false when it was not open.
bool RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> HandleObject(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace sim
