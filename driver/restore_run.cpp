#include "core/object_store.h"
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

int CCorvanrator::RunRestore(CObjectStore& control) {
    std::wstring server = Format(L"\\\\%ls", MachineName.c_str());

    // Each kind starts from empty lists: after a backup in the same process
    // they still hold the backup's entries, which are not restore work.
    // Folders come first: a share can only be made of a folder that exists.
    ReadWork(control, L"DIRECTORY", WorkNames, WorkFiles);
    if (!WorkNames.empty()) ProcessDirectories(0, control, server);
    if (ReadWork(control, L"SHARE", WorkNames, WorkFiles)) ProcessShares(0, control, server);
    if (ReadWork(control, L"PORT", WorkNames, WorkFiles)) ProcessPorts(0, control, server);
    if (ReadWork(control, L"PRINTER", WorkNames, WorkFiles)) ProcessPrinters(0, control, server);
    ServiceEntries(control, L"RESTORE", 0);

    WriteOutcome(control, L"Restore");
    return RunSucceeded;
}
