// A registry-export file of any bytes, as a machine's HKLM.reg: what reads
// is written back, and what is written back reads into the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/sim/hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::RegKey root(L"HKEY_LOCAL_MACHINE");
    std::wstring error;
    if (!sim::ParseRegExport(std::string(reinterpret_cast<const char*>(data), size), root, error)) return 0;
    const std::string written = sim::WriteRegExport(root);
    sim::RegKey again(L"HKEY_LOCAL_MACHINE");
    if (!sim::ParseRegExport(written, again, error)) std::abort();
    if (sim::WriteRegExport(again) != written) std::abort();
    return 0;
}
