#include "core/store_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Encode(void (*set)(CStoreValue&)) {
    CStoreValue v;
    set(v);
    return v.GetEncoded();
}

TEST(StoreValueTest, EncodedForms) {
    EXPECT_EQ(L"\"Spooler\"", Encode([](CStoreValue& v) { v.SetString(L"Spooler"); }));
    EXPECT_EQ(L"dword:00000010", Encode([](CStoreValue& v) { v.SetDword(16); }));
    EXPECT_EQ(L"dword:ffffffff", Encode([](CStoreValue& v) { v.SetDword(0xFFFFFFFFu); }));
    EXPECT_EQ(L"word:ffff", Encode([](CStoreValue& v) { v.SetWord(65535); }));
    EXPECT_EQ(L"word:000a", Encode([](CStoreValue& v) { v.SetWord(10); }));
    EXPECT_EQ(L"short:-5", Encode([](CStoreValue& v) { v.SetShort(-5); }));
    EXPECT_EQ(L"short:-32768", Encode([](CStoreValue& v) { v.SetShort(static_cast<SHORT>(0x8000)); }));
    EXPECT_EQ(L"short:32767", Encode([](CStoreValue& v) { v.SetShort(32767); }));
    EXPECT_EQ(L"\"a\",\"b\"", Encode([](CStoreValue& v) { v.SetMultiString({L"a", L"b"}); }));
    EXPECT_EQ(L"", Encode([](CStoreValue& v) { v.SetMultiString({}); }));
    EXPECT_EQ(L"hex:01ab", Encode([](CStoreValue& v) { v.SetBinary(std::vector<BYTE>{0x01, 0xAB}); }));
    EXPECT_EQ(L"hex:", Encode([](CStoreValue& v) { v.SetBinary(nullptr, 0); }));
}

TEST(StoreValueTest, SetReplacesTheHeldText) {
    CStoreValue v;
    v.SetDword(1);
    v.SetString(L"x");
    std::wstring out;
    v.GetEncoded(out);
    EXPECT_EQ(L"\"x\"", out);
}

TEST(StoreValueTest, TextWithInnerQuotesRoundTrips) {
    CStoreValue v;
    v.SetString(L"say \"hi\"");
    EXPECT_EQ(L"\"say \"hi\"\"", v.GetEncoded());
    std::wstring out;
    CStoreValue::GetString(v.GetEncoded(), out);
    EXPECT_EQ(L"say \"hi\"", out);
}

TEST(StoreValueTest, GetStringRules) {
    std::wstring out = L"untouched";
    CStoreValue::GetString(L"", out);
    EXPECT_EQ(L"untouched", out);

    CStoreValue::GetString(L"\"keeps sz: inside\"", out);
    EXPECT_EQ(L"keeps sz: inside", out);
    CStoreValue::GetString(L"expand_sz:%SystemRoot%", out);
    EXPECT_EQ(L"%SystemRoot%", out);
    CStoreValue::GetString(L"abcsz:def", out);
    EXPECT_EQ(L"def", out);
    CStoreValue::GetString(L"plain", out);
    EXPECT_EQ(L"plain", out);
    CStoreValue::GetString(L"\"", out);
    EXPECT_EQ(L"", out);
}

TEST(StoreValueTest, HexNumberRule) {
    DWORD d = 7;
    CStoreValue::GetDword(L"dword:00000010", d);
    EXPECT_EQ(16u, d);
    CStoreValue::GetDword(L"FFFFFFFE", d);
    EXPECT_EQ(0xFFFFFFFEu, d);
    CStoreValue::GetDword(L"dword:123456789", d);  // nine digits: the last eight count
    EXPECT_EQ(0x23456789u, d);
    CStoreValue::GetDword(L"dword:12g4", d);
    EXPECT_EQ(0u, d);
    d = 7;
    CStoreValue::GetDword(L"", d);
    EXPECT_EQ(0u, d);
    CStoreValue::GetDword(L"\"dword:00000010\"", d);  // quotes are not removed
    EXPECT_EQ(0u, d);
    CStoreValue::GetDword(L"xdword:0000000a", d);
    EXPECT_EQ(10u, d);

    WORD w = 0;
    CStoreValue::GetWord(L"word:ffff", w);
    EXPECT_EQ(0xFFFFu, w);
    CStoreValue::GetWord(L"word:12345", w);
    EXPECT_EQ(0x2345u, w);
}

TEST(StoreValueTest, GetShortReadsLikeAtoi) {
    SHORT s = 1;
    CStoreValue::GetShort(L"short:-5", s);
    EXPECT_EQ(-5, s);
    CStoreValue::GetShort(L"short:  +12abc", s);
    EXPECT_EQ(12, s);
    CStoreValue::GetShort(L"short:abc", s);
    EXPECT_EQ(0, s);
    CStoreValue::GetShort(L"-32768", s);
    EXPECT_EQ(-32768, s);
    CStoreValue::GetShort(L"short:65535", s);  // low 16 bits
    EXPECT_EQ(-1, s);
    CStoreValue::GetShort(L"short:70000", s);
    EXPECT_EQ(4464, s);
    // However long, only the low 16 bits of the number are kept.
    CStoreValue::GetShort(L"short:100000000000000000000000000001", s);
    EXPECT_EQ(1, s);

    CStoreValue v;
    v.SetShort(-32768);
    CStoreValue::GetShort(v.GetEncoded(), s);
    EXPECT_EQ(-32768, s);
}

TEST(StoreValueTest, GetMultiString) {
    std::vector<std::wstring> out;
    CStoreValue::GetMultiString(L"\"a\",\"b\",\"c\"", out);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), out);

    // The list is appended to.
    CStoreValue::GetMultiString(L"\"d\"", out);
    EXPECT_EQ(4u, out.size());
    EXPECT_EQ(L"d", out.back());

    out.clear();
    CStoreValue::GetMultiString(L"", out);
    EXPECT_EQ(std::vector<std::wstring>{L""}, out);

    out.clear();
    CStoreValue::GetMultiString(L"multi_sz:\"x\",\"\",\"y\"", out);
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"", L"y"}), out);

    // A separator at the very start gives an empty first item, not a crash.
    out.clear();
    CStoreValue::GetMultiString(L"\",\"z\"", out);
    EXPECT_EQ((std::vector<std::wstring>{L"", L"z"}), out);

    CStoreValue v;
    v.SetMultiString({L"first item", L"with \"quote\"", L""});
    out.clear();
    CStoreValue::GetMultiString(v.GetEncoded(), out);
    EXPECT_EQ((std::vector<std::wstring>{L"first item", L"with \"quote\"", L""}), out);
}

TEST(StoreValueTest, GetBinary) {
    BYTE bytes[2] = {0x11, 0x22};
    EXPECT_EQ(1, CStoreValue::GetBinary(L"hex:abc", bytes, 2));
    EXPECT_EQ(0xAB, bytes[0]);
    EXPECT_EQ(0xC0, bytes[1]);

    EXPECT_EQ(1, CStoreValue::GetBinary(L"01FF", bytes, 2));
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0xFF, bytes[1]);

    // Failures leave the buffer as it was.
    BYTE guard[3] = {0x5A, 0x5A, 0x5A};
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:", guard, 0));
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:0102", guard, 3));
    EXPECT_EQ(0, CStoreValue::GetBinary(L"hex:01zz03", guard, 3));
    EXPECT_EQ(0x5A, guard[0]);
    EXPECT_EQ(0x5A, guard[1]);
    EXPECT_EQ(0x5A, guard[2]);

    CStoreValue v;
    std::vector<BYTE> data{0x00, 0x7F, 0x80, 0xFF};
    v.SetBinary(data);
    std::vector<BYTE> back;
    EXPECT_EQ(1, CStoreValue::GetBinary(v.GetEncoded(), back, data.size()));
    EXPECT_EQ(data, back);
}

TEST(StoreValueTest, StoreTextRule) {
    EXPECT_EQ(L"Spooler", StoreTextRule(L"\"Spooler\""));
    EXPECT_EQ(L"open", StoreTextRule(L"\"open"));
    EXPECT_EQ(L"close", StoreTextRule(L"close\""));
    EXPECT_EQ(L"", StoreTextRule(L""));
    EXPECT_EQ(L"", StoreTextRule(L"\""));
    // Unlike GetString, the store drops everything up to "sz:" inside quotes too.
    EXPECT_EQ(L" inside", StoreTextRule(L"\"keeps sz: inside\""));
    EXPECT_EQ(L"CWin32Service", StoreTextRule(L"CWin32Service"));
}

TEST(StoreValueTest, StoreDwordRule) {
    EXPECT_EQ(16u, StoreDwordRule(L"dword:00000010"));
    EXPECT_EQ(16u, StoreDwordRule(L"\"dword:00000010\""));
    EXPECT_EQ(0x1Fu, StoreDwordRule(L"1f"));
    EXPECT_EQ(0u, StoreDwordRule(L"12 "));
    EXPECT_EQ(0u, StoreDwordRule(L"\""));
}

}  // namespace
