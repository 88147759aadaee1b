#include "core/object_store.h"
#include "driver/corvanrator.h"
#include "platform/text.h"
#include "registry/composite_reg_key.h"

int CCorvanrator::ProcessRegistryKey(int /*backup*/, const std::wstring& keyPath, const std::wstring& server) {
    std::wstring parentPath;
    std::wstring keyName;
    size_t slash = keyPath.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        parentPath = keyPath.substr(0, slash);
        keyName = keyPath.substr(slash + 1);
    }
    // Only a leading root name is dropped: cutting five characters wherever
    // "HKLM\" occurs would mangle a key that merely contains it.
    for (const wchar_t* root : {L"HKLM\\", L"HKEY_LOCAL_MACHINE\\"}) {
        std::wstring prefix = root;
        if (parentPath.compare(0, prefix.size(), prefix) == 0) {
            parentPath = parentPath.substr(prefix.size());
            break;
        }
    }
    for (const wchar_t* root : {L"HKLM", L"HKEY_LOCAL_MACHINE"})
        if (parentPath == root) parentPath.clear();

    CCompositeRegKey key(server);
    HKEY parent = nullptr;
    int result = key.Enum(parentPath, keyName, parent);
    if (parent) RegCloseKey(parent);
    if (!result) {
        OutcomeErrorCode = key.ErrorCode;
        OutcomeErrorText = key.ErrorDescription;
    }

    // A backup file that could not be written is no backup.
    CObjectStore store;
    key.SaveProperties(store);
    if (!store.SaveToFile(RegistryFilePath) && result) {
        result = 0;
        OutcomeErrorCode = store.ErrorCode;
        OutcomeErrorText = store.ErrorDescription;
    }
    return result;
}
