#include "shares/share.h"

#include <algorithm>

#include "core/object_store.h"
#include "core/preview.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "diagnostics/progress.h"
#include "diagnostics/status_line.h"
#include "platform/text.h"
#include "registry/reg_value.h"

using corvan::Format;

const wchar_t CShare::kFixUpCommand[] = L"d:\\kitbox\\toolsdir\\FixW2KShares.cmd";
const wchar_t CShare::kParametersKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
const wchar_t CShare::kNullSessionValue[] = L"NullSessionShares";

namespace {

const wchar_t kLocalMachineWarning[] = L"ServerName not defined, using local machine.";
// The base type of a share: STYPE_MASK, which the MinGW-w64 headers lack.
constexpr DWORD kShareBaseType = 0x000000FF;

std::wstring TextOf(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

std::vector<WCHAR> Buffer(const std::wstring& text) {
    std::vector<WCHAR> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    return buffer;
}

bool ContainsNoCase(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::wstring& item) { return corvan::EqualsNoCase(item, name); });
}

// A path or share name with a blank would otherwise reach the command as
// several arguments. Quoted as the C runtime of the command splits them.
std::wstring CommandArgument(const std::wstring& text) {
    if (!text.empty() && text.find_first_of(L" \t\"") == std::wstring::npos) return text;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

// The folder that holds `path`: the text before its last backslash when
// that is not the first character, else the whole path.
std::wstring ParentFolder(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash < 1) return path;
    return path.substr(0, slash);
}

}  // namespace

CShare::CShare() = default;

CShare::CShare(const std::wstring& serverName) : CBaseObject(serverName) {}

CShare::CShare(const SHARE_INFO_502& info) { CopyFrom(info); }

CShare::CShare(const std::wstring& serverName, const SHARE_INFO_502& info) : CBaseObject(serverName) {
    CopyFrom(info);
}

CShare::~CShare() = default;

void CShare::CopyFrom(const SHARE_INFO_502& info) {
    NetName = TextOf(info.shi502_netname);
    Type = info.shi502_type;
    Remark = TextOf(info.shi502_remark);
    Permissions = info.shi502_permissions;
    MaxUses = info.shi502_max_uses;
    CurrentUses = info.shi502_current_uses;
    Path = TextOf(info.shi502_path);
    // Kept as the system gave it; never sent back.
    Passwd = info.shi502_passwd ? std::wstring(info.shi502_passwd) : std::wstring(L"(null)");
    if (info.shi502_security_descriptor && IsValidSecurityDescriptor(info.shi502_security_descriptor))
        SecurityDescriptor.Enum(info.shi502_security_descriptor);
}

LPWSTR CShare::ServerArgument(std::vector<WCHAR>& buffer) {
    if (ServerName.empty()) {
        Warning = kLocalMachineWarning;
        return nullptr;
    }
    buffer = Buffer(ServerName);
    return buffer.data();
}

namespace {

// A server that never had a null-session share may lack the list (or its
// key). Asked quietly, so such a server logs no error for it.
bool NullSessionListMissing(const std::wstring& server) {
    HKEY root = HKEY_LOCAL_MACHINE;
    if (!server.empty() && RegConnectRegistryW(server.c_str(), HKEY_LOCAL_MACHINE, &root) != ERROR_SUCCESS)
        return false;
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(root, CShare::kParametersKey, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueExW(key, CShare::kNullSessionValue, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    if (root != HKEY_LOCAL_MACHINE) RegCloseKey(root);
    return status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

int CShare::ReadNullSessionList(CRegValueMultiSz& list) {
    if (NullSessionListMissing(list.ServerName)) return 1;
    HKEY key = nullptr;
    int read = list.Enum(kParametersKey, kNullSessionValue, key);
    CRegKeyHandle guard(key);
    if (read) return 1;
    // A server that never had a null-session share may lack the value.
    return list.LastErrorCode == ERROR_FILE_NOT_FOUND && list.saValue.empty() ? 1 : 0;
}

int CShare::WriteNullSessionList(CRegValueMultiSz& writer, const std::vector<std::wstring>& names) {
    if (corvan::PreviewOnly()) return 1;
    writer.SetNameAndStrings(names, kNullSessionValue);
    writer.SetParentKeyName(L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer");
    writer.SetKeyName(L"Parameters");
    HKEY key = nullptr;
    if (!writer.Open(key)) return 0;
    CRegKeyHandle guard(key);
    return writer.Add(kParametersKey, kNullSessionValue, key);
}

NET_API_STATUS CShare::AddOnServer(LPWSTR server, SHARE_INFO_502& info) {
    if (!corvan::PreviewOnly()) return NetShareAdd(server, 502, reinterpret_cast<LPBYTE>(&info), nullptr);

    LPBYTE buffer = nullptr;
    DWORD entries = 0, total = 0;
    NET_API_STATUS status = NetShareEnum(server, 502, &buffer, MAX_PREFERRED_LENGTH, &entries, &total, nullptr);
    if (status != NERR_Success) {
        if (buffer) NetApiBufferFree(buffer);
        return status;
    }
    const auto* records = reinterpret_cast<const SHARE_INFO_502*>(buffer);
    for (DWORD i = 0; records && i < entries; ++i)
        if (records[i].shi502_netname && corvan::EqualsNoCase(records[i].shi502_netname, NetName))
            Warning = Format(L"Share %ls exists on %ls and is replaced.", NetName.c_str(), ServerName.c_str());
    NetApiBufferFree(buffer);

    // The folder, seen through the machine's administrative share.
    if ((Type & kShareBaseType) != STYPE_DISKTREE || Path.size() < 3 || Path[1] != L':' || Path[2] != L'\\')
        return NERR_Success;
    const std::wstring folder =
        ServerName.empty() ? Path : Format(L"%ls\\%lc$%ls", ServerName.c_str(), Path[0], Path.substr(2).c_str());
    // A folder the directory step would make is there when the share is made.
    if (corvan::Previewed(L"Folder", ServerName, folder)) return NERR_Success;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return NERR_UnknownDevDir;
    return NERR_Success;
}

int CShare::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    return CBaseObject::ReplaceServerName(oldText, newText) + ReplaceServerPart(Path, oldText, newText) +
           SecurityDescriptor.ReplaceServerName(oldText, newText);
}

int CShare::Add() {
    const std::wstring function = L"CShare::Add()";
    if (!Restore) return 1;
    if (corvan::PreviewOnly()) ClearError();
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = ServerArgument(serverBuffer);

    std::wstring errorText;
    std::wstring description;  // of what failed below, when it names more than the number
    DWORD errorCode = 0;
    // The accounts are found again on the machine the share is created on.
    for (CAcl* acl : {&SecurityDescriptor.SystemAcl, &SecurityDescriptor.DiscretionaryAcl})
        for (int i = 0; i < acl->GetCount(); ++i)
            if (CAce* ace = acl->GetAt(i); ace && ace->ServerName.empty()) ace->ServerName = ServerName;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    int ok = SecurityDescriptor.Get(descriptor);
    if (!ok || !descriptor || !IsValidSecurityDescriptor(descriptor)) {
        // Created without its permissions the share would be open to
        // everybody; it is left for the next restore instead.
        errorCode = descriptor ? GetLastError() : SecurityDescriptor.LastErrorCode;
        if (!errorCode) errorCode = ERROR_INVALID_SECURITY_DESCR;
        errorText = Format(L"CSecurityDescriptor::Get(%ls)", NetName.c_str());
        if (SecurityDescriptor.LastErrorCode == errorCode) description = SecurityDescriptor.ErrorDescription;
        ok = 0;
    } else {
        std::vector<WCHAR> name = Buffer(NetName);
        std::vector<WCHAR> remark = Buffer(Remark);
        std::vector<WCHAR> path = Buffer(Path);
        SHARE_INFO_502 info{};
        info.shi502_netname = name.data();
        info.shi502_type = Type;
        info.shi502_remark = remark.data();
        info.shi502_permissions = Permissions;
        info.shi502_max_uses = MaxUses;
        info.shi502_current_uses = CurrentUses;
        info.shi502_path = path.data();
        info.shi502_passwd = nullptr;
        info.shi502_reserved = 0;
        info.shi502_security_descriptor = descriptor;

        NET_API_STATUS status = AddOnServer(server, info);
        bool deleteFailed = false;
        if (status == NERR_DuplicateShare) {
            if (Delete())
                status = AddOnServer(server, info);
            else
                deleteFailed = true;
        }
        if (deleteFailed) {
            errorText = Format(L"CShare::Delete(%ls)", ServerName.c_str());
            errorCode = NERR_DuplicateShare;
            ok = 0;
        } else if (status != NERR_Success) {
            errorText = Format(L"NetShareAdd(%ls, %ls)", ServerName.c_str(), NetName.c_str());
            errorCode = status;
            ok = 0;
        } else if (NullSession) {
            if (DWORD result = AddNullSessionShare(NetName, Path)) {
                errorText = Format(L"AddNullSessionShare(%ls, %ls)", ServerName.c_str(), NetName.c_str());
                errorCode = result;
                ok = 0;
            }
        }
    }

    CProgress::Advance(NetName);
    ReportFlag = 1;
    Task = L"Restore Share";
    // After a preview the share is still to be restored.
    if (!corvan::PreviewOnly()) Restore = ok ? 0 : 1;
    if (ok)
        SetError(function, function, 0);
    else if (!description.empty())
        SetError(function, errorText, errorCode, description);
    else
        SetError(function, errorText, errorCode);
    return ok;
}

int CShare::Delete() {
    const std::wstring function = L"CShare::Delete()";
    if (!Restore || corvan::PreviewOnly()) return 1;
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = ServerArgument(serverBuffer);
    std::vector<WCHAR> name = Buffer(NetName);
    NET_API_STATUS status = NetShareDel(server, name.data(), 0);
    if (status != NERR_Success) {
        SetError(function, Format(L"NetShareDel(%ls)", ServerName.c_str()), status);
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

DWORD CShare::AddNullSessionShare(const std::wstring& shareName, const std::wstring& path) {
    const std::wstring name = corvan::ToUpper(shareName);
    CRegValueMultiSz reader(ServerName);
    CRegValueMultiSz writer(ServerName);

    DWORD result = 0;
    if (!ReadNullSessionList(reader)) {
        ErrorCode = reader.ErrorCode;
        ErrorDescription = reader.ErrorDescription;
        result = reader.LastErrorCode ? reader.LastErrorCode : ERROR_CANTREAD;
    } else {
        std::vector<std::wstring> names;
        reader.GetStrings(names);
        if (!ContainsNoCase(names, name)) {
            names.push_back(name);
            if (!WriteNullSessionList(writer, names)) {
                ErrorCode = writer.ErrorCode;
                ErrorDescription = writer.ErrorDescription;
                result = writer.LastErrorCode ? writer.LastErrorCode : ERROR_CANTWRITE;
            }
        }
    }

    DWORD major = 0;
    if (GetServerMajorVersion(major) && major >= 5) {
        const std::wstring command =
            Format(L"%ls %ls %ls %ls", kFixUpCommand, CommandArgument(name).c_str(), CommandArgument(path).c_str(),
                   CommandArgument(ParentFolder(path)).c_str());
        // A failed list update is not hidden by a command that ran.
        DWORD commandResult = ExecuteCommand(command);
        if (!result) result = commandResult;
    }
    return result;
}

DWORD CShare::ExecuteCommand(const std::wstring& commandLine) {
    const std::wstring function = L"CShare::ExecuteCommand()";
    if (commandLine.size() > kMaxCommandLine) {
        // Cut short it would run with wrong arguments.
        SetError(function,
                 Format(L"CreateProcess(%ls) failed. Command line too long (%u characters, at most %u).",
                        commandLine.c_str(), static_cast<unsigned>(commandLine.size()),
                        static_cast<unsigned>(kMaxCommandLine)),
                 ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    WCHAR buffer[kMaxCommandLine + 1] = {};
    std::copy(commandLine.begin(), commandLine.end(), buffer);
    if (corvan::PreviewOnly()) {
        // Whether the program is there to be started.
        const std::wstring program = commandLine.substr(0, commandLine.find(L' '));
        if (GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
        SetError(function, Format(L"CreateProcess(%ls) failed.", commandLine.c_str()), ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = startup.hStdOutput;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process)) {
        DWORD code = GetLastError();
        if (!code) code = ERROR_GEN_FAILURE;
        SetError(function, Format(L"CreateProcess(%ls) failed.", commandLine.c_str()), code);
        return code;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    SetError(function, function, 0);
    return 0;
}

void CShare::SetRestoreByName(const std::wstring& name, DWORD flag) {
    if (corvan::EqualsNoCase(NetName, name)) Restore = flag;
}

void CShare::SetRestoreByType(DWORD type, DWORD flag) {
    if (Type == type) Restore = flag;
}

int CShare::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CShare");
    const std::wstring own = store.GetCurrentSection();
    CStoreValue v;
    auto text = [&](const wchar_t* key, const std::wstring& value) {
        v.SetString(value);
        store.AddToSection(key, v.GetEncoded());
    };
    auto number = [&](const wchar_t* key, DWORD value) {
        v.SetDword(value);
        store.AddToSection(key, v.GetEncoded());
    };
    text(L"NetName", NetName);
    number(L"Type", Type);
    text(L"Remark", Remark);
    number(L"Permissions", Permissions);
    number(L"MaxUses", MaxUses);
    number(L"CurrentUses", CurrentUses);
    text(L"Path", Path);
    text(L"Passwd", Passwd);
    text(L"UserorGroup", UserorGroup);
    number(L"NullSession", NullSession);
    number(L"Restore", Restore);
    CBaseObject::SaveProperties(store);
    SecurityDescriptor.SaveProperties(store);
    store.SetCurrentSection(own);
    return 1;
}

int CShare::LoadProperty(CObjectStore& store) {
    struct TextKey {
        const wchar_t* key;
        std::wstring* field;
    };
    struct NumberKey {
        const wchar_t* key;
        DWORD* field;
    };
    const TextKey texts[] = {{L"NetName", &NetName}, {L"Remark", &Remark},           {L"Path", &Path},
                             {L"Passwd", &Passwd},   {L"UserorGroup", &UserorGroup}};
    const NumberKey numbers[] = {{L"Type", &Type},           {L"Permissions", &Permissions},
                                 {L"MaxUses", &MaxUses},     {L"CurrentUses", &CurrentUses},
                                 {L"NullSession", &NullSession}, {L"Restore", &Restore}};
    LoadSectionEntries(store, [&](const std::wstring& key, const std::wstring& value) {
        for (const auto& t : texts)
            if (key == t.key) return (void)CStoreValue::GetString(value, *t.field);
        for (const auto& n : numbers)
            if (key == n.key) return (void)CStoreValue::GetDword(value, *n.field);
    });
    if (store.Next()) {
        if (corvan::EqualsNoCase(store.CurrentKey(), L"class") && store.CurrentValue() == L"CSecurityDescriptor")
            SecurityDescriptor.LoadProperty(store);
        else
            store.Previous();
    }
    return 1;
}

void CShare::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag || !Restore) return;
    ReportStatusLine(reportStore, L"share", NetName, L"Share", Format(L"Path=%ls ", Path.c_str()), Task,
                     LastErrorCode, PreviewState(*this));
}

void CShare::Dump() {
    corvan::ConsoleOut(Format(L"\nshare: %ls - %ls  remark: \"%ls\", type=%d \n", NetName.c_str(), Path.c_str(),
                              Remark.c_str(), static_cast<int>(Type)));
    SecurityDescriptor.Dump();
}
