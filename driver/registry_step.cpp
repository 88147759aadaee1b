#include <vector>

#include "core/object_store.h"
#include "core/preview.h"
#include "diagnostics/status_line.h"
#include "driver/corvanrator.h"
#include "driver/report_writer.h"
#include "platform/text.h"
#include "registry/composite_reg_key.h"

namespace {

// The preview's line for a key: how many keys and values it would save.
void ReportKey(CReportWriter& report, const std::wstring& keyPath, const CCompositeRegKey& key, int result) {
    DWORD keys = 0, values = 0;
    std::vector<const CCompositeRegKey*> pending{&key};
    while (!pending.empty()) {
        const CCompositeRegKey* next = pending.back();
        pending.pop_back();
        ++keys;
        for (int i = 0; i < next->GetCount(); ++i) {
            if (const auto* sub = dynamic_cast<const CCompositeRegKey*>(next->GetAt(i)))
                pending.push_back(sub);
            else
                ++values;
        }
    }
    std::wstring state = result ? L"" : key.ErrorDescription;
    state.erase(state.find_last_not_of(L' ') + 1);
    ReportStatusLine(report.Store(), L"Registry", keyPath, L"Registry",
                     corvan::Format(L"Keys=%lu Values=%lu ", static_cast<unsigned long>(result ? keys : 0),
                                    static_cast<unsigned long>(result ? values : 0)),
                     L"Backup Registry", result ? 0 : (key.LastErrorCode ? key.LastErrorCode : ERROR_CANTREAD), state);
    report.Append();
}

}  // namespace

int CCorvanrator::ProcessRegistryKey(int /*backup*/, const std::wstring& keyPath, const std::wstring& server,
                                     CReportWriter* report) {
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

    if (corvan::PreviewOnly()) {
        if (report) ReportKey(*report, keyPath, key, result);
        return result;
    }
    // A backup file that could not be written is no backup. It is written
    // as the key's sections are made: a large key's file is never held whole.
    CObjectStore store;
    bool saved = store.BeginFile(RegistryFilePath) != 0;
    if (saved) {
        key.SaveProperties(store);
        saved = store.EndFile() != 0;
    }
    if (!saved && result) {
        result = 0;
        OutcomeErrorCode = store.ErrorCode;
        OutcomeErrorText = store.ErrorDescription;
    }
    return result;
}
