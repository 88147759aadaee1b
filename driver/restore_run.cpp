#include "core/object_store.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/control_paths.h"
#include "driver/corvanrator.h"
#include "driver/entry_value.h"
#include "platform/text.h"

using corvan::Format;

bool CCorvanrator::ReadRestoreWork(CObjectStore& control, const std::wstring& key) {
    std::vector<std::wstring> values;
    control.GetValues(L"RESTORE", key, values);
    WorkNames.clear();
    WorkFiles.clear();
    for (const auto& value : values) {
        EntryParts parts = SplitEntry(value);
        if (!parts.hasComma) {
            RefuseEntry(control, 0, key, Format(L"%ls,\"Missing file.\"", value.c_str()), L"",
                        Format(L"The entry %ls=%ls names no backup file.", key.c_str(), value.c_str()),
                        ERROR_INVALID_DATA);
            continue;
        }
        // The restore reads this file from the backup's folder and writes its
        // result under the same name into its own: nowhere else.
        std::wstring file = Unquote(parts.rest);
        if (!IsPlainFileName(file)) {
            RefuseEntry(control, 0, key, Format(L"%ls,\"%ls\"", parts.name.c_str(), file.c_str()), file,
                        Format(L"The entry %ls=%ls names no plain file name: \"%ls\".", key.c_str(), value.c_str(),
                               file.c_str()),
                        ERROR_INVALID_NAME);
            continue;
        }
        WorkNames.push_back(parts.name);
        WorkFiles.push_back(file);
    }
    return !values.empty();
}

int CCorvanrator::Retarget(CBaseObject& object) {
    if (!TargetRequested) return 1;
    const std::wstring from = object.ServerName;
    const std::wstring to = Format(L"\\\\%ls", TargetMachineName.c_str());
    if (from.empty()) return 0;
    object.ReplaceServerName(from, to);
    if (Logger && !corvan::EqualsNoCase(from, to))
        Logger->Dispatch(CTextLogMessage(kLogInformation, Format(L"Restored onto %ls instead of %ls.", to.c_str(),
                                                                  from.c_str())));
    return 1;
}

int CCorvanrator::RunRestore(CObjectStore& control) {
    // Every step's own calls go where the objects go.
    std::wstring server = Format(L"\\\\%ls", TargetRequested ? TargetMachineName.c_str() : MachineName.c_str());
    CheckWork(control, 0);

    // Each kind starts from empty lists: after a backup in the same process
    // they still hold the backup's entries, which are not restore work.
    // Folders come first: a share can only be made of a folder that exists.
    ReadRestoreWork(control, L"DIRECTORY");
    if (!WorkNames.empty()) ProcessDirectories(0, control, server);
    if (ReadRestoreWork(control, L"SHARE")) ProcessShares(0, control, server);
    if (ReadRestoreWork(control, L"PORT")) ProcessPorts(0, control, server);
    if (ReadRestoreWork(control, L"PRINTER")) ProcessPrinters(0, control, server);
    ServiceEntries(control, L"RESTORE", 0, TargetRequested ? server : ServerName);

    WriteOutcome(control, L"Restore");
    return RunSucceeded;
}
