// A control file is obeyed only as far as it can be read, and what it
// cannot say is said by the run: a file the run cannot follow is named, a run
// with nothing to do says so, and a copy that could not be saved fails the run.
#include <vector>

#include "core/object_store.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/corvanrator.h"
#include "platform/text.h"

using corvan::Format;

namespace {

const wchar_t* const kRunSections[] = {L"EXCLUSION", L"BACKUP", L"RESTORE", L"BACKUPERROR", L"RESTOREERROR", L"STATUS"};

bool IsRunSection(const std::wstring& section) {
    // "Control" is read ignoring case; the others as they are spelt.
    if (corvan::EqualsNoCase(section, L"Control")) return true;
    for (const wchar_t* name : kRunSections)
        if (section == name) return true;
    return false;
}

}  // namespace

void CCorvanrator::CheckControlFile(const CObjectStore& control) {
    auto tell = [&](const std::wstring& what) {
        if (Logger)
            Logger->Dispatch(CTextLogMessage(kLogError, Format(L"Control file %ls %ls", ControlFilePath.c_str(),
                                                               what.c_str())));
    };
    if (control.LoadMetZero()) tell(L"holds a zero byte: it is no text file, and nothing after that byte is read.");
    bool known = false;
    for (size_t i = 0; i < control.GetEntryCount() && !known; ++i) known = IsRunSection(control.GetEntryAt(i).Section);
    if (!known)
        tell(L"has no section the run reads ([Control], [EXCLUSION], [BACKUP], [RESTORE]); nothing in it is "
             L"carried out.");
}

void CCorvanrator::CheckWork(const CObjectStore& control, int backup) {
    static const wchar_t* const kBackupKeys[] = {L"SHARE", L"PORT", L"PRINTER", L"DIRECTORY", L"REGISTRY", L"SERVICE"};
    static const wchar_t* const kRestoreKeys[] = {L"SHARE", L"PORT", L"PRINTER", L"DIRECTORY", L"SERVICE"};
    const wchar_t* section = backup ? L"BACKUP" : L"RESTORE";
    for (size_t i = 0; i < control.GetEntryCount(); ++i) {
        const CStoreEntry& entry = control.GetEntryAt(i);
        if (entry.Section != section) continue;
        if (backup) {
            for (const wchar_t* key : kBackupKeys)
                if (entry.Key == key) return;
        } else {
            for (const wchar_t* key : kRestoreKeys)
                if (entry.Key == key) return;
        }
    }
    if (Logger)
        Logger->Dispatch(CTextLogMessage(
            kLogWarning, Format(L"Control file %ls names nothing to %ls in its [%ls] section.", ControlFilePath.c_str(),
                                backup ? L"back up" : L"restore", section)));
}

bool CCorvanrator::SaveControlCopies(CObjectStore& control, const std::vector<std::wstring>& copies) {
    std::vector<std::wstring> saved;
    std::vector<std::pair<std::wstring, CBaseObject>> failed;
    for (const auto& copy : copies) {
        if (control.SaveToFile(copy)) {
            saved.push_back(copy);
        } else {
            failed.emplace_back(copy, CBaseObject());
            failed.back().second.TakeError(control);
        }
    }
    if (failed.empty()) return true;

    for (int backup : {1, 0}) {
        if (!(backup ? BackupRequested : RestoreRequested)) continue;
        for (const auto& [copy, failure] : failed) SaveFailed(control, backup, L"CONTROL", copy, failure);
        const std::wstring prefix = backup ? L"Backup" : L"Restore";
        control.SetValue(L"Control", prefix + L"Status", L"error");
        control.SetValue(L"Control", prefix + L"LastError", OutcomeErrorCode);
        control.SetValue(L"Control", prefix + L"ErrorText", OutcomeErrorText);
    }
    for (const auto& copy : saved) control.SaveToFile(copy);
    return false;
}
