// A store built in memory from any bytes, one entry per line of the form
// "section TAB key TAB value", the first byte of a line choosing how the
// entry is added; the loaders of every composite then read it.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvan_fuzz::Scratch();
    std::wstring text = corvan::FromLatin1(std::string(reinterpret_cast<const char*>(data), size));
    CObjectStore store;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        wchar_t how = line[0];
        line.erase(0, 1);
        size_t tab1 = line.find(L'\t');
        size_t tab2 = tab1 == std::wstring::npos ? std::wstring::npos : line.find(L'\t', tab1 + 1);
        std::wstring section = line.substr(0, tab1);
        std::wstring key = tab1 == std::wstring::npos ? L"" : line.substr(tab1 + 1, tab2 - tab1 - 1);
        std::wstring value = tab2 == std::wstring::npos ? L"" : line.substr(tab2 + 1);
        switch (how % 4) {
            case 0: store.AddEntry(section, key, value); break;
            case 1: store.SetValue(section, key, value); break;
            case 2: store.NewSection(key, value); break;
            default: store.AddToSection(key, value); break;
        }
    }
    corvan_fuzz::LoadEveryObject(store);
    std::wstring found;
    store.GetValue(L"Control", L"BackupLocation", found);
    return 0;
}
