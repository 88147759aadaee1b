#include "core/object_store.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/corvanrator.h"
#include "driver/entry_value.h"
#include "platform/text.h"

using corvan::Format;

namespace {

// Reads the RESTORE entries of one kind into the work lists; an entry without
// a file part is refused with a "Missing file." entry. Returns whether there
// was any entry.
bool ReadWork(CObjectStore& control, const std::wstring& key, std::vector<std::wstring>& names,
              std::vector<std::wstring>& files) {
    std::vector<std::wstring> values;
    control.GetValues(L"RESTORE", key, values);
    names.clear();
    files.clear();
    for (const auto& value : values) {
        EntryParts parts = SplitEntry(value);
        if (!parts.hasComma) {
            control.AddEntry(L"RESTOREERROR", key, Format(L"%ls,\"Missing file.\"", value.c_str()));
            continue;
        }
        names.push_back(parts.name);
        files.push_back(Unquote(parts.rest));
    }
    return !values.empty();
}


}  // namespace

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

    // Each kind starts from empty lists: after a backup in the same process
    // they still hold the backup's entries, which are not restore work.
    if (ReadWork(control, L"SHARE", WorkNames, WorkFiles)) ProcessShares(0, control, server);
    if (ReadWork(control, L"PORT", WorkNames, WorkFiles)) ProcessPorts(0, control, server);
    if (ReadWork(control, L"PRINTER", WorkNames, WorkFiles)) ProcessPrinters(0, control, server);
    ReadWork(control, L"DIRECTORY", WorkNames, WorkFiles);
    if (!WorkNames.empty()) ProcessDirectories(0, control, server);
    ServiceEntries(control, L"RESTORE", 0, TargetRequested ? server : ServerName);

    WriteOutcome(control, L"Restore");
    return RunSucceeded;
}
