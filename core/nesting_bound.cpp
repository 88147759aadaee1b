#include "core/nesting_bound.h"

#include "core/base_object.h"
#include "platform/text.h"

int CTreeDepths::ChildLevel(const CBaseObject* container) const {
    // An unknown container is a loader's mistake: its child is refused.
    auto it = depths_.find(container);
    return it == depths_.end() ? kMaxNestingDepth + 1 : it->second + 1;
}

bool CTreeDepths::Add(const CBaseObject* container, int level) {
    if (level > kMaxNestingDepth) return false;
    depths_[container] = level;
    return true;
}

int RefuseNesting(CBaseObject& object, const std::wstring& function, const std::wstring& where) {
    object.SetError(function,
                    corvan::Format(L"nested deeper than %d levels at %ls", kMaxNestingDepth, where.c_str()),
                    ERROR_INVALID_DATA,
                    corvan::Format(L"Objects are nested deeper than %d levels.", kMaxNestingDepth));
    return 0;
}
