// What the harnesses share: a scratch world, so that no harness reaches
// $HOME, and the loaders of every class a backup file can hold.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "core/object_store.h"
#include "platform/text.h"
#include "registry/composite_reg_key.h"
#include "registry/reg_value.h"
#include "security/security_descriptor.h"
#include "shares/composite_share.h"

namespace corvan_fuzz {

// A scratch folder per process, which is also the simulated world.
inline const std::filesystem::path& Scratch() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("corvan-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path / "world");
        setenv("CORVAN_WORLD", (path / "world").c_str(), 1);
        return path;
    }();
    return folder;
}

inline std::unique_ptr<CBaseObject> ObjectOfClass(const std::wstring& name) {
    if (corvan::EqualsNoCase(name, L"CCompositeShare")) return std::make_unique<CCompositeShare>(L"\\\\SRV01");
    if (corvan::EqualsNoCase(name, L"CShare")) return std::make_unique<CShare>(L"\\\\SRV01");
    if (name == L"CCompositeRegKey") return std::make_unique<CCompositeRegKey>();
    if (name == L"CSecurityDescriptor") return std::make_unique<CSecurityDescriptor>();
    if (name == L"CRegValueDword") return std::make_unique<CRegValueDword>();
    if (name == L"CRegValueString") return std::make_unique<CRegValueString>();
    if (name == L"CRegValueMultiSz") return std::make_unique<CRegValueMultiSz>();
    if (name == L"CRegValueBinary") return std::make_unique<CRegValueBinary>();
    return nullptr;
}

// Walks the store as the restore steps do: every "class" entry whose class
// is known makes an object that loads its sections; each loaded object is
// then saved again, which walks the whole tree it holds.
inline void LoadEveryObject(CObjectStore& store) {
    store.Rewind();
    while (store.Next()) {
        if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
        std::unique_ptr<CBaseObject> object = ObjectOfClass(store.CurrentValue());
        if (!object) continue;
        size_t before = store.GetCursor();
        if (object->LoadProperty(store)) {
            CObjectStore saved;
            object->SaveProperties(saved);
        }
        if (store.GetCursor() < before) break;  // a loader that stepped back past its start
    }
}

}  // namespace corvan_fuzz
