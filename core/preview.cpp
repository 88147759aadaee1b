#include "core/preview.h"

#include <set>

#include "platform/text.h"

namespace corvan {

namespace {

bool previewOnly = false;

std::set<std::wstring>& Made() {
    static std::set<std::wstring> made;
    return made;
}

std::wstring Key(const std::wstring& kind, const std::wstring& machine, const std::wstring& name) {
    return ToUpper(kind + L"|" + machine + L"|" + name);
}

}  // namespace

bool PreviewOnly() { return previewOnly; }

void SetPreviewOnly(bool on) {
    previewOnly = on;
    Made().clear();
}

void NotePreviewed(const std::wstring& kind, const std::wstring& machine, const std::wstring& name) {
    Made().insert(Key(kind, machine, name));
}

bool Previewed(const std::wstring& kind, const std::wstring& machine, const std::wstring& name) {
    return Made().count(Key(kind, machine, name)) > 0;
}

}  // namespace corvan
