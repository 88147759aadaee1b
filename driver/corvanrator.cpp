#include "driver/corvanrator.h"

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <vector>

#include "core/object_store.h"
#include "core/preview.h"
#include "core/store_value.h"
#include "diagnostics/log_setup.h"
#include "driver/control_paths.h"
#include "driver/entry_value.h"
#include "platform/text.h"
#include "platform/win32.h"

using corvan::Format;

namespace {

// The example machines of the usage text: the one worked on, and the one
// a restore goes to instead.
const wchar_t kUsageMachine[] = L"SRV01";
const wchar_t kUsageTarget[] = L"SRV02";

// True when a listing of the pattern finds at least one entry.
bool FindsSomething(const std::wstring& pattern) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

}  // namespace

CCorvanrator::CCorvanrator() {
    std::wstring temp = TemporaryFolder();
    DefaultMigLocation = temp;
    DefaultLogLocation = temp;
    DefaultDataLocation = temp;
    BackupLocation = temp;
    RestoreLocation = temp;
}

CCorvanrator::~CCorvanrator() = default;

int CCorvanrator::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (corvan::EqualsNoCase(key, L"Name")) CStoreValue::GetString(value, Name);
    });
}

int CCorvanrator::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CCorvanrator");
    store.AddStringToSection(L"Name", Name);
    return CBaseObject::SaveProperties(store);
}

void CCorvanrator::ReportStatus(CObjectStore& /*reportStore*/) {}

void CCorvanrator::Dump() { corvan::ConsoleOut(L"\nm_strName == " + Name + L" "); }

std::wstring CCorvanrator::TemporaryFolder() {
    std::vector<wchar_t> buffer(512);
    DWORD n = ExpandEnvironmentStringsW(L"%TEMP%", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n > buffer.size()) {
        buffer.resize(n);
        n = ExpandEnvironmentStringsW(L"%TEMP%", buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (n == 0 || n > buffer.size()) return L"C:\\Temp";
    return std::wstring(buffer.data());
}

std::wstring CCorvanrator::ReadCurrentDirectory() {
    // Read at its full length: a cut directory would put every default
    // location somewhere else.
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return std::wstring();
    std::vector<wchar_t> buffer(needed + 1);
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return std::wstring(buffer.data(), n);
}

void CCorvanrator::ShowMessage(const std::wstring& text) { corvan::ConsoleOut(L"\n" + text + L" "); }

void CCorvanrator::Usage() {
    std::wstring upper = kUsageMachine;
    std::wstring lower = corvan::ToLower(upper);
    std::wstring text;
    text += L"Usage:\n";
    text += L"Corvan  /B[Backup] /R[Restore]\n";
    text += L"\t[/C:<Path to Control file>] \n";
    text += L"\t[/M:<Path to Migration data location>] \n";
    text += L"\t[/L:<Log path>] \n";
    text += L"/B  Backup the machine resources.\n";
    text += L"/R  Restore the machine resources.\n";
    text += L"/C: Full path to control file. \n";
    text += L"/M: Full path to migration data location (default d:\\migration). \n";
    text += L"/L: Path to log file directory (default %Temp%). \n";
    text += L"/S: NETBIOS machine name, i.e. " + upper + L". \n";
    text += L"/T: NETBIOS name of the machine to restore onto (with /R), i.e. " + std::wstring(kUsageTarget) +
            L". \n";
    text += L"/P  Preview: report what /B or /R would do; change nothing. \n";
    text += L"\n";
    text += L"Ex1: Corvan /Backup /C:ControlBackup.ini /S:" + lower + L" \n";
    text += L"Ex1: Corvan /B /s:" + lower + L" \n";
    text += L"Ex2: Corvan /R /C:ControlRestore.ini \n";
    text += L"\n";
    corvan::ConsoleOut(text);
}

int CCorvanrator::ParseCommandLine(int argc, wchar_t** argv) {
    if (argc <= 1) {
        Usage();
        return 0;
    }
    bool failed = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i] ? argv[i] : L"";
        if (arg == L"/?") {
            Usage();
            return 0;
        }
        if (corvan::StartsWithNoCase(arg, L"/B")) {
            BackupRequested = 1;
        } else if (corvan::StartsWithNoCase(arg, L"/R")) {
            RestoreRequested = 1;
        } else if (corvan::StartsWithNoCase(arg, L"/C:")) {
            ControlFilePath = arg.substr(3);
        } else if (corvan::StartsWithNoCase(arg, L"/L:")) {
            LogPathArgument = arg.substr(3);
        } else if (corvan::StartsWithNoCase(arg, L"/S:")) {
            MachineName = arg.substr(3);
        } else if (corvan::StartsWithNoCase(arg, L"/T:")) {
            TargetRequested = 1;
            TargetMachineName = arg.substr(3);
        } else if (corvan::StartsWithNoCase(arg, L"/P")) {
            PreviewRequested = 1;
        } else {
            ShowMessage(L"Parameter unknown - " + arg);
            failed = true;
        }
    }
    // Alone they would do nothing, which the caller would take for done.
    if (TargetRequested && !RestoreRequested) {
        ShowMessage(L"Parameter /T: is used with /R only.");
        failed = true;
    }
    if (PreviewRequested && !BackupRequested && !RestoreRequested) {
        ShowMessage(L"Parameter /P is used with /B or /R.");
        failed = true;
    }
    return failed ? 0 : 1;
}

namespace {

int MajorVersionOf(const std::wstring& machine, DWORD& majorVersion) {
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetServerGetInfo(const_cast<LMSTR>(machine.c_str()), 101, &buffer);
    int ok = 0;
    if (status == NERR_Success && buffer) {
        majorVersion = reinterpret_cast<SERVER_INFO_101*>(buffer)->sv101_version_major;
        ok = 1;
    }
    if (buffer) NetApiBufferFree(buffer);
    return ok;
}

// "SRV" or "\\SRV" becomes SRV. A backslash anywhere else, or nothing
// after the leading pair, names no machine, and the local one must not
// stand in: false.
bool PlainMachineName(std::wstring& name) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    std::wstring plain = name;
    if (plain.size() >= 2 && separator(plain[0]) && separator(plain[1])) plain.erase(0, 2);
    if (plain.empty() || plain.find_first_of(L"\\/") != std::wstring::npos) return false;
    name = plain;
    return true;
}

}  // namespace

int CCorvanrator::GetServerVersion(DWORD& majorVersion) { return MajorVersionOf(MachineName, majorVersion); }

int CCorvanrator::Validate() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    RunStamp = LocalTimeText(L"%y%m%d%H%M%S") + Format(L"%.3d", std::rand() % 100);

    if (!FindsSomething(Format(L"%ls\\*.*", LogPathArgument.c_str()))) {
        ShowMessage(Format(L"Input argument for Log Path %ls is incorrect.", LogPathArgument.c_str()));
        return 0;
    }
    // The log files go where /L: says, as the usage text promises; a relative
    // folder is taken from the working directory of this moment.
    if (!LogPathArgument.empty()) {
        bool absolute = LogPathArgument.find(L':') != std::wstring::npos ||
                        LogPathArgument.find_first_of(L"\\/") == 0;
        CLogSetup::Instance().SetLogFolder(absolute ? LogPathArgument
                                                    : ReadCurrentDirectory() + L"\\" + LogPathArgument);
    }
    if (!FindsSomething(ControlFilePath)) {
        ShowMessage(Format(L"Control file Path \"%ls\" is incorrect.", ControlFilePath.c_str()));
        return 0;
    }

    if (!MachineName.empty()) {
        if (!PlainMachineName(MachineName)) {
            ShowMessage(Format(L"Machine name \"%ls\" is incorrect.", MachineName.c_str()));
            return 0;
        }
    } else {
        std::vector<wchar_t> buffer(512);
        DWORD n = ExpandEnvironmentStringsW(L"%ComputerName%", buffer.data(), 512);
        if (n > 0 && n <= 512) {
            MachineName = corvan::ToLower(buffer.data());
        } else {
            DWORD size = 512;
            if (GetComputerNameW(buffer.data(), &size)) MachineName = corvan::ToLower(std::wstring(buffer.data(), size));
        }
    }
    ServerName = Format(L"\\\\%ls", MachineName.c_str());

    if (!GetServerVersion(MajorVersion)) {
        ShowMessage(Format(L"Machine name \"%ls\" is incorrect.", MachineName.c_str()));
        return 0;
    }

    // The target is checked as the machine is.
    if (TargetRequested) {
        const std::wstring given = TargetMachineName;
        if (!PlainMachineName(TargetMachineName) || !MajorVersionOf(TargetMachineName, TargetMajorVersion)) {
            ShowMessage(Format(L"Target machine name \"%ls\" is incorrect.", given.c_str()));
            return 0;
        }
    }
    return 1;
}

int CCorvanrator::CheckDirectories(const std::wstring& path) {
    const std::wstring function = L"CCorvanrator::CheckDirectories()";
    if (FindsSomething(Format(L"%ls\\*.*", path.c_str()))) {
        SetError(function, function, 0);
        return 1;
    }

    // The walk moves the working directory; put it back whatever happens, or
    // every later relative path would resolve inside the last folder made.
    std::wstring saved = ReadCurrentDirectory();
    auto restore = [&] {
        if (!saved.empty()) SetCurrentDirectoryW(saved.c_str());
    };
    auto fail = [&] {
        DWORD error = GetLastError();
        restore();
        SetError(function, Format(L"CreateDirectory(%ls)", path.c_str()), error);
        return 0;
    };

    // Windows takes "/" as a separator too, so the walk does.
    size_t i = path.find_first_of(L"\\/");
    if (i == std::wstring::npos) return fail();
    bool passed = false;
    while (i + 1 < path.size()) {
        std::wstring base = path.substr(0, i) + L"\\";
        if (!SetCurrentDirectoryW(base.c_str())) return fail();
        size_t j = path.find_first_of(L"\\/", i + 1);
        if (j == std::wstring::npos) j = path.size();
        std::wstring component = path.substr(i + 1, j - i - 1);
        // Another run started at the same moment may make the folder between
        // the look and the make: a folder that is there by then will do.
        if (!SetCurrentDirectoryW(component.c_str()) && !CreateDirectoryW(component.c_str(), nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS || !SetCurrentDirectoryW(component.c_str())) {
                SetLastError(error);
                return fail();
            }
        }
        passed = true;
        i = j;
    }
    if (!passed) return fail();
    restore();
    SetError(function, function, 0);
    return 1;
}

int CCorvanrator::MakeRunFolder(std::wstring& location) {
    // Taken with one CreateDirectoryW, so that of two runs started in the
    // same second only one gets a stamp; the other moves on. Any other
    // failure is left to CheckDirectories to report.
    while (!runFolderClaimed_) {
        location = Format(L"%ls\\%ls", DefaultDataLocation.c_str(), RunStamp.c_str());
        if (CreateDirectoryW(location.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) {
            runFolderClaimed_ = true;
            break;
        }
        unsigned serial = RunStamp.size() == 15 ? std::wcstoul(RunStamp.c_str() + 12, nullptr, 10) : 999;
        if (serial >= 999) {
            SetError(L"CCorvanrator::MakeRunFolder()", Format(L"CreateDirectory(%ls)", location.c_str()),
                     ERROR_ALREADY_EXISTS);
            return 0;
        }
        RunStamp = RunStamp.substr(0, 12) + Format(L"%.3u", serial + 1);
    }
    location = Format(L"%ls\\%ls", DefaultDataLocation.c_str(), RunStamp.c_str());
    return CheckDirectories(location);
}

int CCorvanrator::Run() {
    corvan::PreviewScope preview(PreviewRequested != 0);
    std::wstring current = ReadCurrentDirectory();
    CObjectStore control;
    int result = control.LoadFromFile(ControlFilePath);
    if (result) CheckControlFile(control);

    control.GetValue(L"Control", L"DefaultMigLocation", DefaultMigLocation);
    control.GetValue(L"Control", L"DefaultLogLocation", DefaultLogLocation);
    control.GetValue(L"Control", L"DefaultDataLocation", DefaultDataLocation);
    control.GetValue(L"Control", L"DefaultReportName", DefaultReportName);
    control.GetValue(L"Control", L"BackupLocation", BackupLocation);
    control.GetValue(L"Control", L"RestoreLocation", RestoreLocation);
    control.GetValue(L"Control", L"ControlRestoreFileName", ControlRestoreFileName);

    // Copies three and four go by this name into two folders: a name that
    // reaches another folder or a device is refused, and they are not written.
    const bool restoreNameOk = IsPlainFileName(ControlRestoreFileName);
    if (!restoreNameOk)
        RefuseEntry(control, BackupRequested ? 1 : 0, L"ControlRestoreFileName",
                    Format(L"\"%ls\"", ControlRestoreFileName.c_str()), ControlRestoreFileName,
                    Format(L"ControlRestoreFileName \"%ls\" is no plain file name; the restore control file is not "
                           L"written.",
                           ControlRestoreFileName.c_str()),
                    ERROR_INVALID_NAME);

    // A folder that cannot be made ends the resolution; the copies of the
    // control file are still written below.
    bool restoreRefused = false, backupRan = false;
    auto resolve = [&]() -> bool {
        if (DefaultMigLocation.empty()) DefaultMigLocation = current;
        if (!CheckDirectories(DefaultMigLocation)) return false;

        for (auto* location : {&DefaultLogLocation, &DefaultDataLocation}) {
            if (location->empty()) {
                *location = Format(location == &DefaultLogLocation ? L"%ls\\Log" : L"%ls\\Data", current.c_str());
                if (!CheckDirectories(*location)) return false;
            }
            if (location->find(MachineName) == std::wstring::npos) *location += L"\\" + MachineName;
            if (!CheckDirectories(*location)) return false;
        }

        // A full path is the report's own place: a restore reads back the
        // path its backup resolved and must not put the folder in front again.
        if (!IsFullPath(DefaultReportName))
            DefaultReportName = DefaultLogLocation + L"\\" + MachineName + L"_" + DefaultReportName;

        if (BackupRequested) {
            if (!MakeRunFolder(BackupLocation)) return false;
            backupRan = true;
            RunBackup(control);
        }
        if (RestoreRequested) {
            if (BackupLocation.empty()) BackupLocation = DefaultDataLocation;
            // The run's own folder first: a backup made in the same second
            // holds the stamp's folder, and this run moves on from it. So
            // does a restore after the backup of the same run, whose results
            // would otherwise replace the backup files they are read from.
            if (BackupRequested) runFolderClaimed_ = false;
            if (!MakeRunFolder(RestoreLocation)) return false;
            // The restored state of each file goes under the file's own name
            // into RestoreLocation: in the backup's folder it would replace
            // the backup it was read from.
            if (SameFolder(RestoreLocation, BackupLocation)) {
                restoreRefused = true;
                RefuseEntry(control, 0, L"RestoreLocation", Format(L"\"%ls\"", RestoreLocation.c_str()),
                            RestoreLocation,
                            Format(L"The restore would write into the folder of the backup it reads (%ls); nothing "
                                   L"was restored.",
                                   BackupLocation.c_str()),
                            ERROR_INVALID_PARAMETER);
                WriteOutcome(control, L"Restore");
                return true;
            }
            RunRestore(control);
        }
        return true;
    };
    if (!resolve()) {
        result = 0;
        // A run stopped by a folder that cannot be made never ran. Its
        // outcome keys say so, and not what an earlier run left in the
        // control file, which the copies would otherwise carry on.
        FailRun(ErrorCode, ErrorDescription);
        if (BackupRequested && !backupRan) WriteOutcome(control, L"Backup");
        if (RestoreRequested) WriteOutcome(control, L"Restore");
    }

    control.SetValue(L"Control", L"DefaultMigLocation", DefaultMigLocation);
    control.SetValue(L"Control", L"DefaultLogLocation", DefaultLogLocation);
    control.SetValue(L"Control", L"DefaultDataLocation", DefaultDataLocation);
    control.SetValue(L"Control", L"DefaultReportName", DefaultReportName);
    control.SetValue(L"Control", L"BackupLocation", BackupLocation);
    control.SetValue(L"Control", L"RestoreLocation", RestoreLocation);

    const std::wstring base = LastPathPart(ControlFilePath);
    std::vector<std::wstring> copies;
    // A refused restore writes nothing into the backup's folder.
    if (BackupRequested || !restoreRefused)
        copies.push_back(
            Format(L"%ls\\%ls", BackupRequested ? BackupLocation.c_str() : RestoreLocation.c_str(), base.c_str()));
    copies.push_back(Format(L"%ls\\%ls_%ls", DefaultDataLocation.c_str(), RunStamp.c_str(), base.c_str()));
    // The restore control file that the next run reads is never replaced by
    // a preview, which saved nothing to restore.
    if (restoreNameOk && !PreviewRequested) {
        copies.push_back(Format(L"%ls\\%ls", DefaultMigLocation.c_str(), ControlRestoreFileName.c_str()));
        copies.push_back(Format(L"%ls\\%ls", DefaultDataLocation.c_str(), ControlRestoreFileName.c_str()));
    }
    if (!SaveControlCopies(control, copies)) result = 0;
    return result;
}

int CorvanMain(int argc, wchar_t** argv) {
    // The log targets and the "Application" logger exist before the migrator,
    // which links to the logger when it is built.
    CLogSetup::Instance();
    if (!GetCommandLineW()) return 1;
    auto* migrator = new CCorvanrator();
    int r = migrator->ParseCommandLine(argc, argv);
    if (r == 1) r = migrator->Validate();
    if (r == 1) r = migrator->Run();
    delete migrator;
    return r != 0 ? 0 : 1;
}
