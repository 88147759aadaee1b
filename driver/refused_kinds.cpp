// Printer ports and printers are not migrated by this build.
// Their entries are refused openly: an error entry per item, a warning in
// the log and a failed run, so no caller takes them for migrated.
#include "core/object_store.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/corvanrator.h"
#include "driver/entry_value.h"
#include "platform/text.h"

using corvan::Format;

int CCorvanrator::RefuseKind(int backup, CObjectStore& control, const std::wstring& kind) {
    std::wstring text = Format(L"%ls entries are not supported by this version of Corvan.", kind.c_str());
    if (Logger) Logger->Dispatch(CTextLogMessage(kLogWarning, text));

    if (backup) {
        std::vector<std::wstring> values;
        control.GetValues(L"BACKUP", kind, values);
        for (const auto& value : values)
            control.AddEntry(L"BACKUPERROR", kind, Format(L"%ls,\"Not supported.\"", value.c_str()));
    } else {
        for (size_t i = 0; i < WorkNames.size(); ++i)
            control.AddEntry(L"RESTOREERROR", kind,
                             Format(L"%ls,\"%ls\"", WorkNames[i].c_str(), WorkFiles[i].c_str()));
    }
    RunSucceeded = 0;
    OutcomeErrorCode = Format(L"%u", static_cast<unsigned>(ERROR_NOT_SUPPORTED));
    OutcomeErrorText = text;
    control.SetValue(L"Control", backup ? L"BackupErrorStep" : L"RestoreErrorStep", kind);
    return 0;
}

int CCorvanrator::ProcessPorts(int backup, CObjectStore& control, const std::wstring& /*server*/) {
    return RefuseKind(backup, control, L"PORT");
}

int CCorvanrator::ProcessPrinters(int backup, CObjectStore& control, const std::wstring& /*server*/) {
    return RefuseKind(backup, control, L"PRINTER");
}

