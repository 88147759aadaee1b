// Saving never leaves a part of a file: a save that fails keeps the file
// that was there, and an append that fails is taken back out.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/sim/world.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::WriteBytes;

class StoreSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_.Logger = nullptr;  // the log files must not meet the fault rules
        store_.AddEntry(L"S", L"k", L"new", 0);
    }

    // Every name in the folder: no temporary file may stay behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    corvan_test::ScopedTempDir dir_;
    CObjectStore store_;
};

TEST_F(StoreSaveTest, AFailedSaveKeepsTheFileThatWasThere) {
    struct Case {
        const wchar_t* rule;
        DWORD category;
        const wchar_t* description;
        const wchar_t* api;  // how the failed call is named: its start
    } cases[] = {
        {L"WriteFile:out.ini=112", 13, L"The disk is full.", L""},
        {L"WriteFile:out.ini=5", 5, L"Access to the file was denied.", L""},
        {L"MoveFileExW:out.ini=32", 11, L"The file is in use by another process.", L"MoveFileEx("},
        {L"CreateFileW:out.ini=3", 3, L"All or part of the path is invalid.", L"CStdioFile.Open()"},
    };
    for (const auto& c : cases) {
        WriteBytes(dir_.path() / "out.ini", "[S]\r\nk=old\r\n\r\n\r\n");
        sim::ClearFaultRules();
        sim::AddFaultRule(c.rule);
        EXPECT_EQ(0, store_.SaveToFile(dir_.File("out.ini"))) << corvan::ToUtf8(c.rule);
        EXPECT_EQ("[S]\r\nk=old\r\n\r\n\r\n", ReadBytes(dir_.path() / "out.ini"));
        EXPECT_EQ(c.category, store_.LastErrorCode);
        EXPECT_EQ(std::to_wstring(c.category), store_.ErrorCode);
        EXPECT_EQ(c.description, store_.ErrorDescription);
        EXPECT_EQ(0u, store_.ErrorWin32API.rfind(c.api, 0)) << corvan::ToUtf8(store_.ErrorWin32API);
        EXPECT_EQ(std::vector<std::string>{"out.ini"}, Names());
    }
    sim::ClearFaultRules();
    CObjectStore fresh;
    fresh.Logger = nullptr;
    fresh.AddEntry(L"S", L"k", L"new", 0);
    EXPECT_EQ(1, fresh.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ("[S]\r\nk=new\r\n\r\n\r\n", ReadBytes(dir_.path() / "out.ini"));
    EXPECT_EQ(std::vector<std::string>{"out.ini"}, Names());
    EXPECT_EQ(0u, fresh.LastErrorCode);  // a save that succeeded records no error
    EXPECT_EQ(L"", fresh.ErrorCode);
}

TEST_F(StoreSaveTest, AFailedAppendIsTakenBackOut) {
    sim::AddFaultRule(L"WriteFile:report.log=112");
    sim::AddFaultRule(L"WriteFile:new.log=112");
    WriteBytes(dir_.path() / "report.log", "earlier\r\n");
    EXPECT_EQ(0, store_.SaveToReport(dir_.File("report.log")));
    EXPECT_EQ("earlier\r\n", ReadBytes(dir_.path() / "report.log"));
    EXPECT_EQ(13u, store_.LastErrorCode);
    EXPECT_EQ(L"The disk is full.", store_.ErrorDescription);

    // A report the failed append would have begun is not left behind empty.
    EXPECT_EQ(0, store_.SaveToReport(dir_.File("new.log")));
    EXPECT_EQ(std::vector<std::string>{"report.log"}, Names());

    sim::ClearFaultRules();
    EXPECT_EQ(1, store_.SaveToReport(dir_.File("report.log")));
    EXPECT_EQ("earlier\r\nnew\r\n", ReadBytes(dir_.path() / "report.log"));
}

}  // namespace
