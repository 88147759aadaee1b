// Entries of a control file that are not carried out are refused openly:
// an error entry, a failed run and a line in the error log that names the
// entry, never passed over in silence. The same holds for a file of the run
// that could not be saved.
#include "core/object_store.h"
#include "driver/corvanrator.h"
#include "platform/text.h"

using corvan::Format;

void CCorvanrator::RefuseEntry(CObjectStore& control, int backup, const std::wstring& key, const std::wstring& entry,
                               const std::wstring& file, const std::wstring& why, DWORD code) {
    const std::wstring prefix = backup ? L"Backup" : L"Restore";
    SetError(Format(L"CCorvanrator::Run%ls()", prefix.c_str()),
             Format(L"%ls %ls=%ls", backup ? L"BACKUP" : L"RESTORE", key.c_str(), entry.c_str()), code, why);
    FailRun(ErrorCode, ErrorDescription);
    control.AddEntry(backup ? L"BACKUPERROR" : L"RESTOREERROR", key, entry);
    if (!file.empty()) control.SetValue(L"Control", prefix + L"ErrorFile", file);
    control.SetValue(L"Control", prefix + L"ErrorStep", key);
}

void CCorvanrator::SaveFailed(CObjectStore& control, int backup, const std::wstring& step, const std::wstring& file,
                              const CBaseObject& failure) {
    const std::wstring prefix = backup ? L"Backup" : L"Restore";
    FailRun(failure.ErrorCode, failure.ErrorDescription);
    control.AddEntry(backup ? L"BACKUPERROR" : L"RESTOREERROR", step, Format(L"\"%ls\"", file.c_str()));
    control.SetValue(L"Control", prefix + L"ErrorFile", file);
    control.SetValue(L"Control", prefix + L"ErrorStep", step);
}
