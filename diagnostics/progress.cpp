#include "diagnostics/progress.h"

#include "platform/text.h"

namespace {

CProgress*& Current() {
    static CProgress* current = nullptr;
    return current;
}

std::wstring SizeText(uint64_t bytes) {
    const wchar_t* units[] = {L"bytes", L"KB", L"MB", L"GB", L"TB"};
    if (bytes < 1024) return corvan::Format(L"%llu bytes", static_cast<unsigned long long>(bytes));
    double size = static_cast<double>(bytes);
    int unit = 0;
    while (size >= 1024 && unit < 4) {
        size /= 1024;
        ++unit;
    }
    return corvan::Format(L"%.1f %ls", size, units[unit]);
}

}  // namespace

CProgress::CProgress(const std::wstring& step)
    : step_(step), begun_(std::chrono::steady_clock::now()), outer_(Current()) {
    Current() = this;
    Draw(true);
}

CProgress::~CProgress() {
    Current() = outer_;
    // The step's line goes; a step around it shows its own again.
    if (outer_)
        outer_->Draw(true);
    else if (everDrawn_)
        corvan::ConsoleStatus(L"");
}

void CProgress::Advance(const std::wstring& object, uint64_t bytes) {
    CProgress* current = Current();
    if (!current) return;
    ++current->objects_;
    current->bytes_ += bytes;
    current->object_ = object;
    current->Draw(false);
}

std::wstring CProgress::Line(const std::wstring& step, uint64_t objects, uint64_t bytes, uint64_t elapsedMs,
                             const std::wstring& object, size_t columns) {
    const uint64_t seconds = elapsedMs / 1000;
    std::wstring line = corvan::Format(L"%ls: %llu %ls, %ls, %02llu:%02llu", step.c_str(),
                                       static_cast<unsigned long long>(objects), objects == 1 ? L"object" : L"objects",
                                       SizeText(bytes).c_str(), static_cast<unsigned long long>(seconds / 60),
                                       static_cast<unsigned long long>(seconds % 60));
    if (object.empty() || line.size() + 5 >= columns) return line.substr(0, columns);
    const size_t room = columns - line.size() - 1;
    return line + L" " + (object.size() <= room ? object : L"..." + object.substr(object.size() - (room - 3)));
}

void CProgress::Draw(bool force) {
    if (!corvan::StandardOutputIsConsole()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && everDrawn_ && now - drawn_ < std::chrono::milliseconds(kRedrawMs)) return;
    drawn_ = now;
    everDrawn_ = true;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - begun_).count();
    corvan::ConsoleStatus(Line(step_, objects_, bytes_, static_cast<uint64_t>(elapsed), object_,
                               static_cast<size_t>(corvan::ConsoleColumns() - 1)));
}
