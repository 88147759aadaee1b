// The system's message texts, the network message table and the message
// formatter from a string, as the tool's error descriptions and log lines use them.
#include <string>
#include <utility>

#include "platform/conformance/testing/conformance.h"

namespace {

std::wstring SystemText(DWORD code, HMODULE module = nullptr) {
    LPWSTR buffer = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    DWORD n = FormatMessageW(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0) return L"<none>";
    std::wstring text(buffer, n);
    EXPECT_EQ(nullptr, LocalFree(buffer));
    return text;
}

// The inserts are "a", "b", ... "t" after the first.
std::wstring FromString(const wchar_t* format, const wchar_t* insert) {
    static const wchar_t* const letters[] = {L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i", L"j", L"k",
                                             L"l", L"m", L"n", L"o", L"p", L"q", L"r", L"s", L"t"};
    DWORD_PTR args[20] = {reinterpret_cast<DWORD_PTR>(insert)};
    for (int i = 0; i < 19; ++i) args[i + 1] = reinterpret_cast<DWORD_PTR>(letters[i]);
    LPWSTR buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                 FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             format, 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                             reinterpret_cast<va_list*>(args));
    if (n == 0) return L"<failed>";
    std::wstring text(buffer, n);
    LocalFree(buffer);
    return text;
}

TEST(MessageTextTest, UnknownNumbersAndShortBuffersFailNetworkTextsComeFromNetmsg) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(L"<none>", SystemText(2118));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
    EXPECT_EQ(L"<none>", SystemText(0x7ffffff0));
    EXPECT_EQ(L"<failed>", FromString(L"%0", L"x"));
    wchar_t buffer[4];
    EXPECT_FAILS_WITH(ERROR_INSUFFICIENT_BUFFER,
                      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0, buffer,
                                     4, nullptr));

    EXPECT_EQ(nullptr, LoadLibraryExW(L"nosuch.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!conformance::WineDeviates("a missing data file fails with ERROR_FILE_NOT_FOUND"))
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    if (conformance::WineDeviates("there is no netmsg.dll")) return;
    HMODULE netmsg = LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, netmsg);
    EXPECT_EQ(L"The share name is already in use on this server.\r\n", SystemText(2118, netmsg));
    // With the module the system table is still searched after it.
    EXPECT_EQ(L"Access is denied.\r\n", SystemText(5, netmsg));
    EXPECT_TRUE(FreeLibrary(netmsg));
}

TEST(MessageTextTest, FromStringExpandsInsertsAndEscapes) {
    EXPECT_EQ(L"a Qon2Vel Migration/ b", FromString(L"a %1 b", L"Qon2Vel Migration/"));
    EXPECT_EQ(L"50% done", FromString(L"50%% done", L"x"));
    EXPECT_EQ(L"line\r\nnext\ttab", FromString(L"line%nnext%ttab", L"x"));
    EXPECT_EQ(L"cut", FromString(L"cut%0 never", L"x"));
    EXPECT_EQ(L"[42]", FromString(L"[%1!ls!]", L"42"));
    EXPECT_EQ(L"i j s t0 x", FromString(L"%9 %10 %19 %200 %1", L"x"));  // at most two digits
    // A percent sign before a character without an escape is dropped.
    EXPECT_EQ(L"keep s", FromString(L"keep %s", L"x"));
    // An insert with nothing to take it from is refused.
    WCHAR buffer[8];
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER,
                      FormatMessageW(FORMAT_MESSAGE_FROM_STRING, L"a %1", 0, 0, buffer, 8, nullptr));
}

}  // namespace
