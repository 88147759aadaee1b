#include "core/server_name.h"

#include <gtest/gtest.h>

#include "core/base_object.h"

namespace {

TEST(ServerNameTest, OnlyTheServerPartThatBeginsATextIsReplaced) {
    const struct {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"\\\\OLD\\D$\\Data", L"\\\\NEW\\D$\\Data"},
        {L"\\\\old\\LASER01", L"\\\\NEW\\LASER01"},  // names ignore case
        {L"\\\\OLD", L"\\\\NEW"},
        {L"\\\\OLDER\\D$", L"\\\\OLDER\\D$"},  // another machine
        {L"D:\\OLD\\x", L"D:\\OLD\\x"},
        {L"\\\\SRV\\OLD", L"\\\\SRV\\OLD"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        const int replaced = std::wstring(c.text) != c.expected ? 1 : 0;
        EXPECT_EQ(replaced, ReplaceServerPart(text, L"\\\\OLD", L"NEW")) << c.text;
        EXPECT_EQ(c.expected, text);
    }
    std::wstring unchanged = L"\\\\OLD\\x";
    EXPECT_EQ(0, ReplaceServerPart(unchanged, L"\\\\", L"\\\\NEW"));
}

TEST(ServerNameTest, ServerNamesAndDomainsFollowTheMachine) {
    CBaseObject object(L"\\\\srv01");
    EXPECT_EQ(1, object.ReplaceServerName(L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"\\\\SRV02", object.ServerName);

    std::wstring domain = L"srv01";
    EXPECT_EQ(1, ReplaceServerWord(domain, L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"SRV02", domain);
    domain = L"CORP";
    EXPECT_EQ(0, ReplaceServerWord(domain, L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"CORP", domain);
}

}  // namespace
