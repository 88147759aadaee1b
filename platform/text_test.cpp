// The text helpers of every layer: UTF-8 at each length boundary (with
// surrogate pairs where wchar_t is 16 bits), bytes that are not UTF-8, case
// rules and the console's status line. Built into the Windows test program
// as well.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

TEST(TextTest, Utf8AtEachLengthBoundaryBothWays) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"\u007f", "\x7f"},
        {L"\u0080", "\xc2\x80"},
        {L"\u07ff", "\xdf\xbf"},
        {L"\u0800", "\xe0\xa0\x80"},
        {L"\uffff", "\xef\xbf\xbf"},
        {L"\U00010000", "\xf0\x90\x80\x80"},
        {L"a\U0001F600b", "a\xf0\x9f\x98\x80" "b"},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(bytes, corvan::ToUtf8(text)) << testing::PrintToString(bytes);
        EXPECT_EQ(text, corvan::FromUtf8(bytes)) << testing::PrintToString(bytes);
        std::string single;  // the writer of text files takes one character at a time
        for (size_t i = 0; i < text.size();) corvan::AppendUtf8(single, corvan::NextCodePoint(text, i));
        EXPECT_EQ(bytes, single);
    }
}

TEST(TextTest, BytesThatAreNotUtf8StayAsTheirLatin1Characters) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"caf\xe9", L"caf\u00e9"},                    // a lead byte without its follower
        {"\xc3", L"\u00c3"},                          // cut at the end
        {"\xe2\x82", L"\u00e2\u0082"},                // a three-byte form cut short
        {"\xff\xfe", L"\u00ff\u00fe"},                // never a lead byte
        {"\xc3\xa9\x80", L"\u00e9\u0080"},            // a stray follower
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(text, corvan::FromUtf8(bytes)) << testing::PrintToString(bytes);
    // And back, up to the last character Latin-1 holds.
    std::string latin1;
    EXPECT_TRUE(corvan::ToLatin1(L"caf\u00e9\u00ff", latin1) && latin1 == "caf\xe9\xff") << latin1;
    EXPECT_FALSE(corvan::ToLatin1(L"\u0100", latin1));
}

TEST(TextTest, CaseRulesPairTheLettersOfLatin1GreekAndCyrillic) {
    // Capitals, their small letters; the multiplication and division signs,
    // sharp s and the final sigma have no pair.
    const std::wstring upper = L"AZ\u00c0\u00d6\u00d8\u00de\u0391\u03ab\u0400\u040f\u0410\u042f\u00d7\u00df";
    const std::wstring lower = L"az\u00e0\u00f6\u00f8\u00fe\u03b1\u03cb\u0450\u045f\u0430\u044f\u00d7\u00df";
    EXPECT_EQ(lower, corvan::ToLower(upper));
    EXPECT_EQ(upper, corvan::ToUpper(lower));
    EXPECT_EQ(L"\u00f7\u03c2@[", corvan::ToUpper(L"\u00f7\u03c2@["));
    EXPECT_TRUE(corvan::EqualsNoCase(L"\u041e\u0442\u0447\u0451\u0442", L"\u043e\u0422\u0427\u0401\u0422"));
    EXPECT_EQ(2u, corvan::FindNoCase(L"a\\B\u00c9c", L"b\u00e9"));
    EXPECT_EQ(0u, corvan::FindNoCase(L"abc", L""));  // found at the start, as std::wstring::find has it
    EXPECT_TRUE(corvan::StartsWithNoCase(L"/backup", L"/B"));
}

#ifndef _WIN32
// A status line longer than the console stops one column short of its width:
// filling it would wrap the line, and the next could not replace it. The test
// program runs this test again on a terminal of 100 columns to show one.
TEST(TextTest, StatusLineStopsOneColumnShortOfTheConsole) {
    if (std::getenv("CORVAN_STATUS_LINE_ON_TERMINAL")) {
        corvan::ConsoleStatus(std::wstring(150, L'x'));
        return;
    }
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    winsize size{};
    size.ws_col = 100;
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_NE(-1, child);
    if (child == 0) {
        setenv("CORVAN_STATUS_LINE_ON_TERMINAL", "1", 1);
        execl("/proc/self/exe", "corvan_tests", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<size_t>(n));
    close(terminal);
    waitpid(child, nullptr, 0);
    EXPECT_NE(std::string::npos, shown.find("\r" + std::string(99, 'x'))) << shown;
    EXPECT_EQ(std::string::npos, shown.find(std::string(100, 'x')));
}
#endif

}  // namespace
