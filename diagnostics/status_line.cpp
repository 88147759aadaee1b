#include "diagnostics/status_line.h"

#include "core/object_store.h"
#include "core/preview.h"
#include "platform/text.h"

std::wstring BuildStatusLine(const std::wstring& typeWord, const std::wstring& name, const std::wstring& prediction,
                             const std::wstring& task, DWORD lastErrorCode, const std::wstring& state) {
    const bool preview = corvan::PreviewOnly();
    return corvan::Format(L"Result: %ls;Type: %ls;Name: %ls;Prediction: %ls;State: %ls;Task: %ls%ls ",
                          lastErrorCode == 0 ? L"OK" : L"NOK", typeWord.c_str(), name.c_str(), prediction.c_str(),
                          preview ? state.c_str() : L"", preview ? L"Preview " : L"", task.c_str());
}

int ReportStatusLine(CObjectStore& reportStore, const std::wstring& section, const std::wstring& name,
                     const std::wstring& typeWord, const std::wstring& prediction, const std::wstring& task,
                     DWORD lastErrorCode, const std::wstring& state) {
    return reportStore.AddEntry(section, name,
                                BuildStatusLine(typeWord, name, prediction, task, lastErrorCode, state),
                                lastErrorCode);
}

std::wstring PreviewState(const CBaseObject& object) {
    return PreviewState(object.LastErrorCode ? object.ErrorDescription : object.Warning);
}

std::wstring PreviewState(std::wstring state) {
    if (!corvan::PreviewOnly()) return L"";
    // The fields of the line are separated by semicolons.
    for (wchar_t& c : state)
        if (c == L';') c = L',';
    size_t end = state.find_last_not_of(L' ');
    return end == std::wstring::npos ? L"" : state.substr(0, end + 1);
}
