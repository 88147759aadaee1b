#include "diagnostics/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressTest, LineSaysStepCountsTimeAndAsMuchOfTheObjectAsFits) {
    const struct {
        uint64_t objects, bytes, ms;
        const wchar_t* object;
        size_t columns;
        const wchar_t* line;
    } cases[] = {
        {1, 0, 999, L"", 80, L"Restore DIRECTORY: 1 object, 0 bytes, 00:00"},
        {2, 1023, 61000, L"a.txt", 80, L"Restore DIRECTORY: 2 objects, 1023 bytes, 01:01 a.txt"},
        {10000, 1536, 3599000, L"x", 80, L"Restore DIRECTORY: 10000 objects, 1.5 KB, 59:59 x"},
        {3, 5ull << 30, 0, L"D:\\Data\\deep\\file.txt", 60,
         L"Restore DIRECTORY: 3 objects, 5.0 GB, 00:00 ...deep\\file.txt"},
        {3, 0, 0, L"D:\\Data", 20, L"Restore DIRECTORY: 3"},
        {3, 0, 0, L"x", 49, L"Restore DIRECTORY: 3 objects, 0 bytes, 00:00"},  // five columns short: no object
    };
    for (const auto& c : cases) {
        std::wstring line = CProgress::Line(L"Restore DIRECTORY", c.objects, c.bytes, c.ms, c.object, c.columns);
        EXPECT_EQ(c.line, line);
        EXPECT_LE(line.size(), c.columns);
    }
}

}  // namespace
