#include "platform/sim/sid_text.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<BYTE>;

TEST(SidTextTest, ParsesIntoBinaryLayoutAndBackAndRefusesMalformedTextsAndInvalidSids) {
    std::wstring fifteen = L"S-1-5";
    for (int i = 0; i < 15; ++i) fifteen += L"-1";
    struct {
        std::wstring text;
        Bytes sid;  // empty: only its length and text are checked
        const wchar_t* written;
    } cases[] = {
        {L"S-1-5-32-544", {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0}, L"S-1-5-32-544"},
        {L"S-1-1-0", {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, L"S-1-1-0"},
        {L"S-1-5", {1, 0, 0, 0, 0, 0, 0, 5}, L"S-1-5"},
        // A wide authority is hex; one that fits 32 bits is decimal however it was given.
        {L"S-1-0x123456789ABC-7", {1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 7, 0, 0, 0}, L"S-1-0x123456789ABC-7"},
        {L"S-1-0x10-1", {}, L"S-1-16-1"},
        {L"S-1-0xFFFFFFFF-1", {}, L"S-1-4294967295-1"},
        {L"S-1-5-21-3000000000-4294967295-0-1001", {}, L"S-1-5-21-3000000000-4294967295-0-1001"},
        {fifteen, Bytes(68), fifteen.c_str()},
    };
    for (const auto& c : cases) {
        Bytes sid;
        ASSERT_TRUE(sim::ParseSidText(c.text, sid)) << testing::PrintToString(c.text);
        if (c.sid.size() == 68) EXPECT_EQ(68u, sid.size());
        else if (!c.sid.empty()) EXPECT_EQ(c.sid, sid);
        EXPECT_EQ(c.written, sim::SidToText(sid.data()));
    }

    const std::wstring sixteen = fifteen + L"-1";
    Bytes sid{0xEE};
    for (const wchar_t* text : {L"", L"S", L"S-", L"S-1", L"S-1-", L"S-2-5-32", L"X-1-5", L"S-1-5-", L"S-1--5",
                                L"S-1-5-32-abc", L"S-1-5-4294967296", L"S-1-281474976710656", L"S-1-0x1234567890ABC",
                                L"S-1-5-32 ", L"S-1-0x", sixteen.c_str()})
        EXPECT_FALSE(sim::ParseSidText(text, sid)) << testing::PrintToString(std::wstring(text));
    EXPECT_EQ(sid, Bytes{0xEE});

    BYTE wrongRevision[] = {2, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    BYTE tooManySubs[8 + 4 * 16] = {1, 16, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(sim::SidToText(wrongRevision), L"");
    EXPECT_EQ(sim::SidToText(tooManySubs), L"");
    EXPECT_EQ(sim::SidToText(nullptr), L"");
}

}  // namespace
