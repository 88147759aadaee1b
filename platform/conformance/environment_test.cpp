// The machine's name and the expansion of environment variables, with the
// buffer protocol of each.
#include <string>

#include "platform/conformance/testing/conformance.h"

namespace {

TEST(EnvironmentTest, ComputerNameAndExpansionFollowTheBufferProtocol) {
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    const DWORD length = size;  // without its NUL
    EXPECT_EQ(std::wstring(name).size(), length);

    WCHAR small[MAX_COMPUTERNAME_LENGTH + 1];
    wcscpy(small, L"x");
    size = length;
    EXPECT_FAILS_WITH(ERROR_BUFFER_OVERFLOW, GetComputerNameW(small, &size));
    EXPECT_EQ(length + 1, size);  // with it
    EXPECT_STREQ(L"x", small);

    // The environment knows the same name; unknown names stay as written.
    // The length returned counts the NUL.
    struct {
        const wchar_t *source, *expanded;
    } cases[] = {
        {L"%COMPUTERNAME%", name}, {L"%NOSUCHVAR_CORVAN%", L"%NOSUCHVAR_CORVAN%"}, {L"100%", L"100%"},
        {L"%%", L"%%"},           {L"", L""},
    };
    for (const auto& c : cases) {
        WCHAR buffer[64];
        EXPECT_EQ(wcslen(c.expanded) + 1, ExpandEnvironmentStringsW(c.source, buffer, 64));
        EXPECT_STREQ(c.expanded, buffer);
    }
    // A short buffer gets the size needed.
    WCHAR buffer[4];
    EXPECT_EQ(19u, ExpandEnvironmentStringsW(L"%NOSUCHVAR_CORVAN%", buffer, 4));
    EXPECT_EQ(19u, ExpandEnvironmentStringsW(L"%NOSUCHVAR_CORVAN%", nullptr, 0));
}

}  // namespace
