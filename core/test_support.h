// Helpers shared by the unit tests of core/ and diagnostics/ (test code only).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/base_object.h"
#include "diagnostics/log_target.h"
#include "platform/text.h"

namespace corvan_test {

// A fresh folder per test, which is also the simulated world, so no test
// reaches $HOME. Removed, and CORVAN_WORLD restored, at the end.
class ScopedTempDir {
public:
    ScopedTempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("corvan-") + info->test_suite_name() + "-" + info->name();
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "world");
        if (const char* old = std::getenv("CORVAN_WORLD")) oldWorld_ = old;
        setenv("CORVAN_WORLD", (dir_ / "world").c_str(), 1);
    }
    ~ScopedTempDir() {
        if (oldWorld_)
            setenv("CORVAN_WORLD", oldWorld_->c_str(), 1);
        else
            unsetenv("CORVAN_WORLD");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& path() const { return dir_; }
    // The path of a file in the folder, as the product receives it.
    std::wstring File(const std::string& name) const { return corvan::FromUtf8((dir_ / name).string()); }

private:
    std::filesystem::path dir_;
    std::optional<std::string> oldWorld_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::filesystem::path SourceFile(const std::string& relative) {
    return std::filesystem::path(CORVAN_SOURCE_DIR) / relative;
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

}  // namespace corvan_test
