// Whether this process may change the machines it works on. A preview asks
// every question a run asks and changes nothing: each resource kind looks
// here at the one place where it would make its changes, and reports what
// it would have done instead.
#pragma once

#include <string>

namespace corvan {

bool PreviewOnly();
void SetPreviewOnly(bool on);

// What a preview would have made, so that a later step's questions get the
// answers the run would get: a printer's port that the port step adds.
// Names and machines are compared ignoring case.
void NotePreviewed(const std::wstring& kind, const std::wstring& machine, const std::wstring& name);
bool Previewed(const std::wstring& kind, const std::wstring& machine, const std::wstring& name);

// Sets the switch for its lifetime and puts the old value back.
class PreviewScope {
public:
    explicit PreviewScope(bool on) : saved_(PreviewOnly()) { SetPreviewOnly(on); }
    ~PreviewScope() { SetPreviewOnly(saved_); }
    PreviewScope(const PreviewScope&) = delete;
    PreviewScope& operator=(const PreviewScope&) = delete;

private:
    bool saved_;
};

}  // namespace corvan
