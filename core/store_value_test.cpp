#include "core/store_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StoreValueTest, EncodedForms) {
    CStoreValue v;
    v.SetString(L"say \"hi\"");
    EXPECT_EQ(L"\"say \"hi\"\"", v.GetEncoded());  // inner quotes are not escaped
    v.SetDword(16);
    EXPECT_EQ(L"dword:00000010", v.GetEncoded());
    v.SetWord(65535);
    EXPECT_EQ(L"word:ffff", v.GetEncoded());
    v.SetShort(static_cast<SHORT>(0x8000));
    EXPECT_EQ(L"short:-32768", v.GetEncoded());
    v.SetMultiString({L"a", L"b"});
    EXPECT_EQ(L"\"a\",\"b\"", v.GetEncoded());
    v.SetMultiString({});
    EXPECT_EQ(L"", v.GetEncoded());
    v.SetBinary(std::vector<BYTE>{0x01, 0xAB});
    EXPECT_EQ(L"hex:01ab", v.GetEncoded());
    v.SetBinary(nullptr, 0);
    EXPECT_EQ(L"hex:", v.GetEncoded());
}

TEST(StoreValueTest, TextRulesOfTheClassAndOfTheStore) {
    std::wstring out = L"untouched";
    CStoreValue::GetString(L"", out);
    EXPECT_EQ(L"untouched", out);
    CStoreValue::GetString(L"\"say \"hi\"\"", out);
    EXPECT_EQ(L"say \"hi\"", out);
    CStoreValue::GetString(L"\"keeps sz: inside\"", out);
    EXPECT_EQ(L"keeps sz: inside", out);
    CStoreValue::GetString(L"expand_sz:%SystemRoot%", out);
    EXPECT_EQ(L"%SystemRoot%", out);
    CStoreValue::GetString(L"\"opened, never closed", out);  // quoted only when both ends are quotes
    EXPECT_EQ(L"\"opened, never closed", out);

    EXPECT_EQ(L" inside", StoreTextRule(L"\"keeps sz: inside\""));  // the store drops it even when quoted
    EXPECT_EQ(L"open", StoreTextRule(L"\"open"));
    EXPECT_EQ(L"close", StoreTextRule(L"close\""));
    EXPECT_EQ(L"", StoreTextRule(L"\""));
    EXPECT_EQ(16u, StoreDwordRule(L"\"dword:00000010\""));
}

TEST(StoreValueTest, NumberRules) {
    DWORD d = 7;
    CStoreValue::GetDword(L"dword:123456789", d);  // nine digits: the last eight count
    EXPECT_EQ(0x23456789u, d);
    CStoreValue::GetDword(L"dword:12g4", d);
    EXPECT_EQ(0u, d);
    CStoreValue::GetDword(L"\"dword:00000010\"", d);  // quotes are not removed here
    EXPECT_EQ(0u, d);
    CStoreValue::GetDword(L"FFFFFFFE", d);
    EXPECT_EQ(0xFFFFFFFEu, d);
    WORD w = 0;
    CStoreValue::GetWord(L"word:12345", w);
    EXPECT_EQ(0x2345u, w);

    SHORT s = 1;
    CStoreValue::GetShort(L"short:  -12abc", s);
    EXPECT_EQ(-12, s);
    CStoreValue::GetShort(L"short:abc", s);
    EXPECT_EQ(0, s);
    CStoreValue::GetShort(L"short:70000", s);  // low 16 bits
    EXPECT_EQ(4464, s);
    CStoreValue::GetShort(L"short:100000000000000000000000000001", s);  // no overflow at any length
    EXPECT_EQ(1, s);
}

TEST(StoreValueTest, MultiString) {
    std::vector<std::wstring> out{L"kept"};
    CStoreValue::GetMultiString(L"multi_sz:\"x\",\"\",\"y\"", out);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"x", L"", L"y"}), out);
    out.clear();
    CStoreValue::GetMultiString(L"", out);
    EXPECT_EQ(std::vector<std::wstring>{L""}, out);
    out.clear();
    CStoreValue::GetMultiString(L"\",\"z\"", out);  // a separator at the very start
    EXPECT_EQ((std::vector<std::wstring>{L"", L"z"}), out);
}

TEST(StoreValueTest, Binary) {
    BYTE bytes[2] = {};
    EXPECT_EQ(1, CStoreValue::GetBinary(L"hex:abc", bytes, 2));
    EXPECT_EQ(0xAB, bytes[0]);
    EXPECT_EQ(0xC0, bytes[1]);
    // Failures leave the buffer as it was.
    BYTE guard[3] = {0x5A, 0x5A, 0x5A};
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:", guard, 0));
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:0102", guard, 3));
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:01zz03", guard, 3));
    EXPECT_EQ(0x5A5A5Au, guard[0] << 16 | guard[1] << 8 | guard[2]);
}

}  // namespace
