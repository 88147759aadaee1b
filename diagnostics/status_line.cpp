#include "diagnostics/status_line.h"

#include "core/object_store.h"
#include "platform/text.h"

std::wstring BuildStatusLine(const std::wstring& typeWord, const std::wstring& name, const std::wstring& prediction,
                             const std::wstring& task, DWORD lastErrorCode) {
    return corvan::Format(L"Result: %ls;Type: %ls;Name: %ls;Prediction: %ls;State: %ls;Task: %ls ",
                          lastErrorCode == 0 ? L"OK" : L"NOK", typeWord.c_str(), name.c_str(), prediction.c_str(),
                          L"", task.c_str());
}

int ReportStatusLine(CObjectStore& reportStore, const std::wstring& section, const std::wstring& name,
                     const std::wstring& typeWord, const std::wstring& prediction, const std::wstring& task,
                     DWORD lastErrorCode) {
    return reportStore.AddEntry(section, name, BuildStatusLine(typeWord, name, prediction, task, lastErrorCode),
                                lastErrorCode);
}
