// Stored values of any text through every decoder; numbers that decode
// encode back into the same number.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/store_value.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring encoded = corvan::FromLatin1(std::string(reinterpret_cast<const char*>(data), size));
    std::wstring text;
    CStoreValue::GetString(encoded, text);
    StoreTextRule(encoded);
    StoreDwordRule(encoded);
    std::vector<std::wstring> items;
    CStoreValue::GetMultiString(encoded, items);
    std::vector<BYTE> bytes;
    CStoreValue::GetBinary(encoded, bytes, size / 2);
    WORD word = 0;
    CStoreValue::GetWord(encoded, word);
    SHORT number = 0;
    CStoreValue::GetShort(encoded, number);

    DWORD value = 0, back = 0;
    CStoreValue::GetDword(encoded, value);
    CStoreValue again;
    again.SetDword(value);
    CStoreValue::GetDword(again.GetEncoded(), back);
    if (back != value) std::abort();
    again.SetMultiString(items);
    if (!bytes.empty()) {
        std::vector<BYTE> decoded;
        again.SetBinary(bytes);
        if (!CStoreValue::GetBinary(again.GetEncoded(), decoded, bytes.size()) || decoded != bytes) std::abort();
    }
    return 0;
}
