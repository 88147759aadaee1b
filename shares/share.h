// One file share of a server with its permissions and its null-session
// setting: read from the live server, saved with the object store and
// created again on the machine that its server name names.
#pragma once

#include <string>
#include <vector>

#include "core/base_object.h"
#include "security/security_descriptor.h"

class CRegValueMultiSz;

class CShare : public CBaseObject {
public:
    CShare();
    explicit CShare(const std::wstring& serverName);
    explicit CShare(const SHARE_INFO_502& info);
    CShare(const std::wstring& serverName, const SHARE_INFO_502& info);
    ~CShare() override;
    CShare(const CShare&) = delete;
    CShare& operator=(const CShare&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    // Also the server part of a network path and the accounts of the old machine.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Virtual so that a composite nested in a composite is handled as one.
    // Add creates the share (replacing one of the same name); nonzero on success.
    virtual int Add();
    virtual void SetRestoreByName(const std::wstring& name, DWORD flag);
    virtual void SetRestoreByType(DWORD type, DWORD flag);

    int Delete();
    // Puts the name into the server's null-session list and, on systems of
    // major version 5 or later, runs the fix-up command. 0 or an error code.
    DWORD AddNullSessionShare(const std::wstring& shareName, const std::wstring& path);
    // Runs the command line (at most kMaxCommandLine characters) and waits
    // for it to end. 0 or the system error code.
    DWORD ExecuteCommand(const std::wstring& commandLine);

    static constexpr size_t kMaxCommandLine = 255;
    static const wchar_t kFixUpCommand[];
    static const wchar_t kParametersKey[];
    static const wchar_t kNullSessionValue[];

    std::wstring NetName;
    DWORD Type = 0;
    std::wstring Remark;
    DWORD Permissions = 0;
    DWORD MaxUses = 0;
    DWORD CurrentUses = 0;
    std::wstring Path;
    std::wstring Passwd;
    std::wstring UserorGroup;
    CSecurityDescriptor SecurityDescriptor;
    DWORD NullSession = 0;
    DWORD Restore = 1;

protected:
    // Null for the local machine. Sets the warning then.
    LPWSTR ServerArgument(std::vector<WCHAR>& buffer);
    // Reads the server's null-session list into `list`. An absent value (or
    // key) is an empty list; 0 only when the registry could not be read.
    static int ReadNullSessionList(CRegValueMultiSz& list);
    // Writes `names` as the whole list, creating the key when it is missing.
    // A preview writes nothing.
    static int WriteNullSessionList(CRegValueMultiSz& writer, const std::vector<std::wstring>& names);

private:
    void CopyFrom(const SHARE_INFO_502& info);
    // NetShareAdd; a preview asks instead what the call would find: the
    // folder, and a share of the name, which would be replaced.
    NET_API_STATUS AddOnServer(LPWSTR server, SHARE_INFO_502& info);
};
