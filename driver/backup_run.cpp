#include "core/object_store.h"
#include "core/preview.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/control_paths.h"
#include "driver/corvanrator.h"
#include "driver/entry_value.h"
#include "driver/report_writer.h"
#include "platform/text.h"

using corvan::Format;

namespace {

// Reads the selection of one resource kind: the names to re-select, and a
// whole-set file from an ALL entry. Returns whether there was any entry.
// A whole-set file that is no plain file name is left out and returned in
// `refused`; the set is then saved under the name it had.
bool ReadSelection(CObjectStore& control, const std::wstring& key, std::vector<std::wstring>& selected,
                   std::wstring& wholeSetFile, std::vector<std::wstring>& refused) {
    std::vector<std::wstring> values;
    control.GetValues(L"BACKUP", key, values);
    selected.clear();
    bool all = false;
    for (const auto& value : values) {
        EntryParts parts = SplitEntry(value);
        if (parts.name == L"ALL") {
            all = true;
            std::wstring file = Unquote(parts.rest);
            if (parts.rest.empty())
                continue;
            else if (IsPlainFileName(file))
                wholeSetFile = file;
            else
                refused.push_back(file);
        } else {
            selected.push_back(parts.name);
        }
    }
    if (all) selected.clear();
    return !values.empty();
}


}  // namespace

std::wstring CCorvanrator::UniqueFileName(const std::wstring& wanted) {
    std::wstring name = wanted;
    size_t dot = wanted.find_last_of(L'.');
    std::wstring stem = dot == std::wstring::npos ? wanted : wanted.substr(0, dot);
    std::wstring extension = dot == std::wstring::npos ? L"" : wanted.substr(dot);
    // Looked up, not compared with each name taken: a backup of thousands of
    // shares names thousands of files.
    for (int n = 2; usedFileNames_.count(corvan::ToLower(name)); ++n)
        name = Format(L"%ls_%d%ls", stem.c_str(), n, extension.c_str());
    usedFileNames_.insert(corvan::ToLower(name));
    if (name != wanted && Logger)
        Logger->Dispatch(CTextLogMessage(
            kLogWarning, Format(L"Backup file %ls is taken by an earlier entry of this run; using %ls.",
                                wanted.c_str(), name.c_str())));
    return name;
}

void CCorvanrator::ServiceEntries(CObjectStore& control, const std::wstring& section, int backup,
                                  const std::wstring& server) {
    std::vector<std::wstring> values;
    control.GetValues(section, L"SERVICE", values);
    CReportWriter report(*this, control, backup);
    for (const auto& value : values) {
        EntryParts parts = SplitEntry(value);
        if (!parts.hasComma) continue;
        std::wstring service = Unquote(parts.name);
        EntryParts operation = SplitEntry(parts.rest);
        std::wstring action = Unquote(operation.name);
        std::wstring startType = operation.hasComma ? Unquote(operation.rest) : std::wstring();
        if (ProcessService(server, service, action, startType, &report)) continue;
        RunSucceeded = 0;
        // A preview's failures are in the report and the outcome keys only.
        if (corvan::PreviewOnly()) continue;
        // A service that could not be stopped, started or reconfigured fails the run.
        const wchar_t* prefix = backup ? L"Backup" : L"Restore";
        control.SetValue(L"Control", Format(L"%lsErrorFile", prefix), service);
        control.SetValue(L"Control", Format(L"%lsErrorStep", prefix), L"SERVICE");
        control.AddEntry(backup ? L"BACKUPERROR" : L"RESTOREERROR", L"SERVICE",
                         Format(L"%ls,\"%ls\"", parts.rest.c_str(), service.c_str()));
    }
}

void CCorvanrator::WriteOutcome(CObjectStore& control, const std::wstring& prefix) {
    auto set = [&](const wchar_t* key, const std::wstring& value) { control.SetValue(L"Control", prefix + key, value); };
    set(L"Machine", MachineName);
    // A key left by an earlier restore onto another machine is emptied, not kept.
    std::wstring earlierTarget;
    if (prefix == L"Restore" && (TargetRequested || control.GetValue(L"Control", L"RestoreTargetMachine", earlierTarget)))
        set(L"TargetMachine", TargetRequested ? TargetMachineName : L"");
    set(L"MajorVersion", Format(L"%.8x", MajorVersion));
    set(L"ExecutionDatetime", LocalTimeText(L"%d.%m.%Y %H:%M:%S "));
    if (corvan::PreviewOnly()) {
        // Nothing was done: the keys say so, and what the preview foresaw.
        set(L"Status", L"preview");
        set(L"LastError", RunSucceeded ? L"0" : OutcomeErrorCode);
        set(L"ErrorText", RunSucceeded ? L"Preview only: nothing was changed; no object would fail." : OutcomeErrorText);
    } else if (RunSucceeded) {
        set(L"Status", L"success");
        set(L"LastError", L"0");
        set(L"ErrorText", Format(L"Successful %ls!", prefix.c_str()));
    } else {
        set(L"Status", L"error");
        set(L"LastError", OutcomeErrorCode);
        set(L"ErrorText", OutcomeErrorText);
    }
}

int CCorvanrator::RunBackup(CObjectStore& control) {
    std::wstring server = Format(L"\\\\%ls", MachineName.c_str());
    usedFileNames_.clear();
    CheckWork(control, 1);

    ExcludedShareNames.clear();
    ExcludedShareTypes.clear();
    control.GetValues(L"EXCLUSION", L"ShareName", ExcludedShareNames);
    control.GetDwordValues(L"EXCLUSION", L"ShareType", ExcludedShareTypes);
    std::vector<std::wstring> refused;
    // A file name the run will not write to, refused before any step writes.
    auto refuse = [&](const std::wstring& key, const std::wstring& entry, const std::wstring& file) {
        RefuseEntry(control, 1, key, entry, file,
                    Format(L"The entry %ls names no plain file name: \"%ls\".", key.c_str(), file.c_str()),
                    ERROR_INVALID_NAME);
    };
    auto refuseWholeSets = [&](const std::wstring& key) {
        for (const auto& file : refused) refuse(key, Format(L"ALL,\"%ls\"", file.c_str()), file);
        refused.clear();
    };
    bool shares = ReadSelection(control, L"SHARE", SelectedShareNames, SharesFile, refused);
    refuseWholeSets(L"SHARE");
    if (shares) ProcessShares(1, control, server);

    ExcludedPortNames.clear();
    ExcludedPortTypes.clear();
    control.GetValues(L"EXCLUSION", L"PortName", ExcludedPortNames);
    control.GetDwordValues(L"EXCLUSION", L"PortType", ExcludedPortTypes);
    bool ports = ReadSelection(control, L"PORT", SelectedPortNames, PortsFile, refused);
    refuseWholeSets(L"PORT");
    if (ports) ProcessPorts(1, control, server);

    ExcludedPrinterNames.clear();
    ExcludedPrinterTypes.clear();
    ExcludedDriverNames.clear();
    control.GetValues(L"EXCLUSION", L"PrinterName", ExcludedPrinterNames);
    control.GetDwordValues(L"EXCLUSION", L"PrinterType", ExcludedPrinterTypes);
    control.GetValues(L"EXCLUSION", L"DriverName", ExcludedDriverNames);
    bool printers = ReadSelection(control, L"PRINTER", SelectedPrinterNames, PrintersFile, refused);
    refuseWholeSets(L"PRINTER");
    if (printers) ProcessPrinters(1, control, server);

    WorkNames.clear();
    WorkFiles.clear();
    std::vector<std::wstring> directories;
    control.GetValues(L"BACKUP", L"DIRECTORY", directories);
    for (const auto& value : directories) {
        EntryParts parts = SplitEntry(value);
        std::wstring file = parts.hasComma ? Unquote(parts.rest) : Format(L"%ls_dir.bkp", RunStamp.c_str());
        if (!IsPlainFileName(file)) {
            refuse(L"DIRECTORY", Format(L"%ls,\"%ls\"", Unquote(parts.name).c_str(), file.c_str()), file);
            continue;
        }
        WorkFiles.push_back(UniqueFileName(file));
        WorkNames.push_back(Unquote(parts.name));
    }
    if (!WorkNames.empty()) ProcessDirectories(1, control, server);

    std::vector<std::wstring> keys;
    control.GetValues(L"BACKUP", L"REGISTRY", keys);
    CReportWriter report(*this, control, 1);
    for (const auto& value : keys) {
        EntryParts parts = SplitEntry(value);
        std::wstring keyPath = Unquote(parts.name);
        std::wstring file = parts.hasComma ? Unquote(parts.rest) : Format(L"%ls_reg.bkp", RunStamp.c_str());
        if (!IsPlainFileName(file)) {
            refuse(L"REGISTRY", Format(L"\"%ls\",\"%ls\"", keyPath.c_str(), file.c_str()), file);
            continue;
        }
        file = UniqueFileName(file);
        RegistryFilePath = BackupLocation + L"\\" + file;
        if (ProcessRegistryKey(1, keyPath, server, &report)) continue;
        RunSucceeded = 0;
        if (corvan::PreviewOnly()) continue;
        control.SetValue(L"Control", L"BackupErrorFile", RegistryFilePath);
        control.SetValue(L"Control", L"BackupErrorStep", L"REGISTRY");
        control.AddEntry(L"BACKUPERROR", L"REGISTRY", Format(L"\"%ls\",\"%ls\"", keyPath.c_str(), file.c_str()));
    }

    ServiceEntries(control, L"BACKUP", 1, ServerName);

    WriteOutcome(control, L"Backup");
    return RunSucceeded;
}
