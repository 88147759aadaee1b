// Test fixture of the registry classes (test code only): a world whose local
// machine is HOST, logs kept in the world folder, and a logger that records
// the lines of the objects a test watches.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/base_object.h"
#include "core/test_support.h"
#include "diagnostics/log_setup.h"
#include "diagnostics/logger.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"

namespace corvan_test {

class RegClassFixture : public sim::SimWorldTest {
protected:
    void SetUp() override {
        sim::SimWorldTest::SetUp();
        SetLocalMachine(L"HOST");
        std::filesystem::create_directories(WorldRoot() / "logs");
        CLogSetup::Instance().SetLogFolder(corvan::FromUtf8((WorldRoot() / "logs").string()));
        logger_.AddTarget(L"Recorder", &log_);
    }

    // Routes the object's log lines to the recorder.
    void Watch(CBaseObject& object) { object.Logger = &logger_; }
    const std::vector<std::wstring>& LogLines() const { return log_.texts; }
    // A recorded line that is `line`, or that begins with it when it ends
    // in a comma (the error code, before the description).
    bool Logged(const std::wstring& line) const {
        for (const auto& l : log_.texts)
            if (l == line || (line.back() == L',' && l.compare(0, line.size(), line) == 0)) return true;
        return false;
    }

    static std::vector<BYTE> Bytes(const std::wstring& text) {  // as the W calls see it, NUL included
        std::vector<BYTE> bytes((text.size() + 1) * sizeof(WCHAR));
        std::memcpy(bytes.data(), text.c_str(), bytes.size());
        return bytes;
    }

private:
    CLogger logger_;
    RecordingTarget log_;
};

}  // namespace corvan_test
