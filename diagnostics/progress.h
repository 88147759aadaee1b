// The progress of a long step on the console: one line that says which
// step runs, how many objects and bytes it has done, which object it is at
// and how long it has taken, redrawn as it goes and taken away when the
// step ends. Only a console shows it: redirected output, the logs and the
// report never hold it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CProgress {
public:
    // Begins a step; the one before, if any, ends. Ends with the object.
    explicit CProgress(const std::wstring& step);
    ~CProgress();
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;

    // One more object of the step that runs, if any, done with its bytes.
    static void Advance(const std::wstring& object, uint64_t bytes = 0);

    // "<step>: <n> objects, <size>, <mm:ss> <object>", the object cut at its
    // start to fit into `columns`.
    static std::wstring Line(const std::wstring& step, uint64_t objects, uint64_t bytes, uint64_t elapsedMs,
                             const std::wstring& object, size_t columns);

    // Redraws at most this often.
    static constexpr int kRedrawMs = 100;

private:
    void Draw(bool force);

    std::wstring step_;
    uint64_t objects_ = 0;
    uint64_t bytes_ = 0;
    std::wstring object_;
    std::chrono::steady_clock::time_point begun_;
    std::chrono::steady_clock::time_point drawn_;
    bool everDrawn_ = false;
    CProgress* outer_ = nullptr;
};
