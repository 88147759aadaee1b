// Helpers shared by the unit tests of the product's classes (test code only).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/base_object.h"
#include "core/object_store.h"
#include "diagnostics/log_setup.h"
#include "diagnostics/log_target.h"
#include "diagnostics/logger.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"

namespace corvan_test {

// A fresh simulated world for the test's lifetime, with a folder of the
// test's own files beside the machines, so no test reaches $HOME.
class ScopedTempDir {
public:
    ScopedTempDir() { std::filesystem::create_directories(path()); }
    std::filesystem::path path() const { return world_.Root() / "files"; }
    // The path of a file in the folder, as the product receives it.
    std::wstring File(const std::string& name) const { return corvan::FromUtf8((path() / name).string()); }

private:
    sim::ScopedWorld world_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A file kept beside the tests, as the product names it.
inline std::wstring TestData(const std::string& relative) { return corvan::FromUtf8(CORVAN_SOURCE_DIR "/" + relative); }

// The bytes of an expected file kept beside the tests.
inline std::string Golden(const std::string& relative) { return ReadBytes(CORVAN_SOURCE_DIR "/" + relative); }

// Every entry of a store as "section|key=value", in order.
inline std::vector<std::wstring> EntryLines(const CObjectStore& store) {
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        const CStoreEntry& e = store.GetEntryAt(i);
        lines.push_back(e.Section + L"|" + e.Key + L"=" + e.Value);
    }
    return lines;
}

// The bytes of the file an object saves itself to.
inline std::string SavedBytes(CBaseObject& object, const std::wstring& file) {
    CObjectStore store;
    object.SaveProperties(store);
    EXPECT_EQ(1, store.SaveToFile(file));
    return ReadBytes(corvan::ToUtf8(file));
}

// An object loaded from the first section of a saved file, as a restore loads it.
template <class T>
std::unique_ptr<T> LoadedFrom(const std::wstring& file) {
    CObjectStore store;
    EXPECT_EQ(1, store.LoadFromFile(file));
    EXPECT_TRUE(store.Next());
    auto object = std::make_unique<T>();
    EXPECT_EQ(1, object->LoadProperty(store));
    return object;
}

// The error an object records: code (as text and number), function, call
// and description, to compare with one expected tuple.
inline std::tuple<std::wstring, DWORD, std::wstring, std::wstring, std::wstring> ErrorOf(const CBaseObject& object) {
    return {object.ErrorCode, object.LastErrorCode, object.ErrorFunction, object.ErrorWin32API,
            object.ErrorDescription};
}
using Error = std::tuple<std::wstring, DWORD, std::wstring, std::wstring, std::wstring>;

// What a call prints on standard output.
inline std::string Printed(const std::function<void()>& print) {
    ::testing::internal::CaptureStdout();
    print();
    return ::testing::internal::GetCapturedStdout();
}

// Keeps every message it accepts: level and expanded text.
class RecordingTarget : public CLogTarget {
public:
    explicit RecordingTarget(DWORD mask = 0xFFFFFFFFu) : CLogTarget(L"Recorder") { EnableLevel(mask); }
    void Write(const CLogMessage& message) override {
        if (!Accepts(message.GetLevel())) return;
        levels.push_back(message.GetLevel());
        texts.push_back(message.GetText());
    }
    std::vector<DWORD> levels;
    std::vector<std::wstring> texts;
};

// A fresh world whose application logs go to its folder, and a logger that
// records the lines of the objects a test watches.
class WorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        CLogSetup::Instance().SetLogFolder(corvan::FromUtf8(WorldRoot().string()));
        logger_.AddTarget(L"Recorder", &log_);
    }

    // A file of the world's folder, outside every machine, as the product names it.
    std::wstring WorldFile(const std::string& name) const { return corvan::FromUtf8((WorldRoot() / name).string()); }

    // Routes the object's log lines to the recorder.
    void Watch(CBaseObject& object) { object.Logger = &logger_; }
    // A recorded line that is `line`, or that begins with it when it ends
    // in a comma (the error code, before the description).
    bool Logged(const std::wstring& line) const {
        for (const auto& l : log_.texts)
            if (l == line || (line.back() == L',' && l.compare(0, line.size(), line) == 0)) return true;
        return false;
    }

    RecordingTarget log_;
    CLogger logger_;
};

}  // namespace corvan_test
