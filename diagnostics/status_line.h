// The one line per resource that a step appends to the status report.
#pragma once

#include <string>

#include "platform/win32.h"

class CBaseObject;
class CObjectStore;

// "Result: %s;Type: %s;Name: %s;Prediction: %s;State: %s;Task: %s " with
// Result "OK" for a last error of 0, else "NOK". State is empty in a run;
// in a preview it holds `state` and the Task begins with "Preview ".
std::wstring BuildStatusLine(const std::wstring& typeWord, const std::wstring& name, const std::wstring& prediction,
                             const std::wstring& task, DWORD lastErrorCode, const std::wstring& state = L"");

// Adds the status entry (section, name, line, lastErrorCode) to the report
// store unless an identical one is there. Returns 1 if it was added.
int ReportStatusLine(CObjectStore& reportStore, const std::wstring& section, const std::wstring& name,
                     const std::wstring& typeWord, const std::wstring& prediction, const std::wstring& task,
                     DWORD lastErrorCode, const std::wstring& state = L"");

// The State of an object's line in a preview: why it would fail, else the
// note it left on what would be done (its Warning). Empty outside a preview.
std::wstring PreviewState(const CBaseObject& object);
// The same for a text of the caller's.
std::wstring PreviewState(std::wstring text);
