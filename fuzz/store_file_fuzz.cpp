// A store file of any bytes: it loads, its objects load, and what is saved
// settles: once a saved file has been loaded and saved again, saving it once
// more changes nothing.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_support.h"

namespace {

std::string Bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Loads `from` and saves it as `to`; false when either fails.
bool Resave(const std::filesystem::path& from, const std::filesystem::path& to) {
    CObjectStore store;
    return store.LoadFromFile(corvan::FromUtf8(from.string())) && store.SaveToFile(corvan::FromUtf8(to.string()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& scratch = corvan_fuzz::Scratch();
    std::ofstream(scratch / "input.ini", std::ios::binary).write(reinterpret_cast<const char*>(data), size);

    CObjectStore store;
    if (!store.LoadFromFile(corvan::FromUtf8((scratch / "input.ini").string()))) return 0;
    corvan_fuzz::LoadEveryObject(store);
    if (!store.SaveToFile(corvan::FromUtf8((scratch / "once.ini").string()))) return 0;
    if (!Resave(scratch / "once.ini", scratch / "twice.ini") || !Resave(scratch / "twice.ini", scratch / "thrice.ini"))
        std::abort();
    if (Bytes(scratch / "twice.ini") != Bytes(scratch / "thrice.ini")) std::abort();
    return 0;
}
