// The migrator: one per process. It reads the switches, validates them,
// loads the control file, makes the run's folders and drives the backup and
// restore runs, which report their outcome into the control file.
#pragma once

#include <string>
#include <vector>

#include "core/base_object.h"

class CObjectStore;
template <class Kind>
class CResourceStep;

class CCorvanrator : public CBaseObject {
public:
    CCorvanrator();
    ~CCorvanrator() override;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;

    int ParseCommandLine(int argc, wchar_t** argv);
    void Usage();
    void ShowMessage(const std::wstring& text);
    int Validate();
    int GetServerVersion(DWORD& majorVersion);
    // Makes a restored object, loaded from a backup file, act on the target
    // of /T: (its server name and the texts that embed it); nothing without
    // /T:. 0 when the object names no machine to move it from.
    int Retarget(CBaseObject& object);
    int Run();
    int CheckDirectories(const std::wstring& path);

    int RunBackup(CObjectStore& control);
    int RunRestore(CObjectStore& control);

    // The per-kind steps; backup is 1 on the backup side, 0 on restore.
    int ProcessShares(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessPorts(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessPrinters(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessDirectories(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessRegistryKey(int backup, const std::wstring& keyPath, const std::wstring& server);
    // Returns 1 when every requested operation succeeded.
    int ProcessService(const std::wstring& server, const std::wstring& service, const std::wstring& action,
                       const std::wstring& startType);

    std::wstring Name;
    int BackupRequested = 0;
    int RestoreRequested = 0;
    std::wstring ControlFilePath = L"ControlBackup.ini";
    std::wstring LogPathArgument;
    std::wstring MachineName;
    std::wstring RunStamp;
    DWORD MajorVersion = 0;
    // /T: the machine a restore re-creates every object on, and its version.
    int TargetRequested = 0;
    std::wstring TargetMachineName;
    DWORD TargetMajorVersion = 0;
    // /P: ask and report, change nothing.
    int PreviewRequested = 0;

    std::wstring DefaultMigLocation;
    std::wstring DefaultLogLocation;
    std::wstring DefaultDataLocation;
    std::wstring DefaultReportName = L"StatusReport.log";
    std::wstring BackupLocation;
    std::wstring RestoreLocation;
    std::wstring ControlRestoreFileName = L"ControlRestore.ini";
    std::wstring SharesFile = L"shares_backup.dat";
    std::wstring PortsFile = L"ports_backup.dat";
    std::wstring PrintersFile = L"printers_backup.dat";
    std::wstring RegistryFilePath;

    std::vector<std::wstring> ExcludedShareNames;
    std::vector<DWORD> ExcludedShareTypes;
    std::vector<std::wstring> SelectedShareNames;
    std::vector<std::wstring> ExcludedPortNames;
    std::vector<DWORD> ExcludedPortTypes;
    std::vector<std::wstring> SelectedPortNames;
    std::vector<std::wstring> ExcludedPrinterNames;
    std::vector<DWORD> ExcludedPrinterTypes;
    std::vector<std::wstring> ExcludedDriverNames;
    std::vector<std::wstring> SelectedPrinterNames;
    std::vector<std::wstring> WorkNames;
    std::vector<std::wstring> WorkFiles;

    int RunSucceeded = 1;
    std::wstring OutcomeErrorCode;
    std::wstring OutcomeErrorText;

private:
    template <class Kind>
    friend class CResourceStep;

    // Items of a kind this build cannot migrate: refused in the error
    // section of the run, never passed over in silence.
    int RefuseKind(int backup, CObjectStore& control, const std::wstring& kind);
    // A backup file name no earlier entry of this run has taken.
    std::wstring UniqueFileName(const std::wstring& wanted);
    // The six outcome keys of a run: prefix is "Backup" or "Restore".
    void WriteOutcome(CObjectStore& control, const std::wstring& prefix);
    void ServiceEntries(CObjectStore& control, const std::wstring& section, int backup, const std::wstring& server);

    std::vector<std::wstring> usedFileNames_;
    std::wstring TemporaryFolder();
    std::wstring ReadCurrentDirectory();
};

// The process entry on every platform: wide arguments in, exit code out.
int CorvanMain(int argc, wchar_t** argv);
