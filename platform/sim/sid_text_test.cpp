#include "platform/sim/sid_text.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<BYTE>;

TEST(SidTextTest, ParsesIntoBinaryLayout) {
    Bytes sid;
    ASSERT_TRUE(sim::ParseSidText(L"S-1-5-32-544", sid));
    EXPECT_EQ(sid, (Bytes{1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0}));

    ASSERT_TRUE(sim::ParseSidText(L"S-1-1-0", sid));
    EXPECT_EQ(sid, (Bytes{1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));

    ASSERT_TRUE(sim::ParseSidText(L"S-1-5", sid));
    EXPECT_EQ(sid, (Bytes{1, 0, 0, 0, 0, 0, 0, 5}));
}

TEST(SidTextTest, RoundTripsDomainAccountsAndLargeNumbers) {
    for (const wchar_t* text : {L"S-1-5-21-1004336348-1177238915-682003330-500", L"S-1-5-18",
                                L"S-1-5-21-3000000000-4294967295-0-1001", L"S-1-4-7"}) {
        Bytes sid;
        ASSERT_TRUE(sim::ParseSidText(text, sid)) << text;
        EXPECT_EQ(sim::SidToText(sid.data()), text);
    }
}

TEST(SidTextTest, WideAuthorityIsHex) {
    Bytes sid;
    ASSERT_TRUE(sim::ParseSidText(L"S-1-0x123456789ABC-7", sid));
    EXPECT_EQ(sid, (Bytes{1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 7, 0, 0, 0}));
    EXPECT_EQ(sim::SidToText(sid.data()), L"S-1-0x123456789ABC-7");

    // An authority that fits 32 bits is written in decimal however it was given.
    ASSERT_TRUE(sim::ParseSidText(L"S-1-0x10-1", sid));
    EXPECT_EQ(sim::SidToText(sid.data()), L"S-1-16-1");
}

TEST(SidTextTest, FifteenSubAuthoritiesAtMost) {
    std::wstring text = L"S-1-5";
    for (int i = 0; i < 15; ++i) text += L"-1";
    Bytes sid;
    ASSERT_TRUE(sim::ParseSidText(text, sid));
    EXPECT_EQ(sid.size(), 68u);
    EXPECT_FALSE(sim::ParseSidText(text + L"-1", sid));
}

TEST(SidTextTest, RejectsMalformedTexts) {
    Bytes sid{0xEE};
    for (const wchar_t* text :
         {L"", L"S", L"S-", L"S-1", L"S-1-", L"S-2-5-32", L"X-1-5", L"S-1-5-", L"S-1--5", L"S-1-5-32-abc",
          L"S-1-5-4294967296", L"S-1-281474976710656", L"S-1-0x1234567890ABC", L"S-1-5-32 ", L"S-1-0x"}) {
        EXPECT_FALSE(sim::ParseSidText(text, sid)) << text;
    }
    EXPECT_EQ(sid, Bytes{0xEE});
}

TEST(SidTextTest, InvalidBinarySidHasNoText) {
    BYTE wrongRevision[] = {2, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    BYTE tooManySubs[8 + 4 * 16] = {1, 16, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(sim::SidToText(wrongRevision), L"");
    EXPECT_EQ(sim::SidToText(tooManySubs), L"");
    EXPECT_EQ(sim::SidToText(nullptr), L"");
}

}  // namespace
