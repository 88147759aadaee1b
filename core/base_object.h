// The base of every object that is backed up, restored or persisted: the
// machine it works on, its error record, its logger link, and the virtual
// operations through which it is written to and re-created from a store.
#pragma once

#include <functional>
#include <string>

#include "core/runtime_class.h"
#include "platform/win32.h"

class CArchive;  // the archive hook is kept for its slot; persistence goes through stores
class CLogger;
class CObjectStore;

class CBaseObject {
public:
    CBaseObject();
    explicit CBaseObject(const std::wstring& serverName);

    static const CRuntimeClass classCBaseObject;

    // Virtual operations, in slot order.
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CBaseObject();
    virtual void Serialize(CArchive* archive);
    virtual int LoadProperty(CObjectStore& store);
    virtual int SaveProperties(CObjectStore& store);
    virtual void ReportStatus(CObjectStore& reportStore);
    virtual void Dump();
    virtual int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText);

    // Records the outcome of an operation; code 0 records nothing but logs a success line.
    void SetError(const std::wstring& function, const std::wstring& api, DWORD code);
    // The same with a description of the tool's own instead of the system's
    // text for the number: for numbers that are not system errors (the file
    // categories) and for failures the system's text would misname.
    void SetError(const std::wstring& function, const std::wstring& api, DWORD code,
                  const std::wstring& description);
    // The system's text for the number on one line, or the fixed text used
    // when the system has none.
    static std::wstring SystemDescription(DWORD code);
    // Forgets an earlier failure: a preview reports what it finds now, not
    // what a backup file remembers of an earlier run.
    void ClearError();
    // Copies the error record of `other` (which has logged it already).
    void TakeError(const CBaseObject& other);
    // Major version of the system named by ServerName; 0 when it cannot be asked.
    int GetServerMajorVersion(DWORD& majorVersion);

    // Leaf save protocol: opens the object's numbered section with "class" and
    // "parent". The caller then adds its own keys and calls
    // CBaseObject::SaveProperties last.
    static void BeginLeafSection(CObjectStore& store, const std::wstring& className);
    // Composite save protocol: opens the section and returns its name, which
    // SaveChildSection needs for every child.
    static std::wstring BeginCompositeSection(CObjectStore& store, const std::wstring& className);
    static void SaveChildSection(CObjectStore& store, const std::wstring& ownSection, CBaseObject& child);

    // Derived LoadProperty loop: the store's current entry is the section's
    // "class" entry. Calls `onEntry` with the key and value of every further
    // entry of the section (sections compared ignoring case) and passes each
    // to CBaseObject::LoadProperty; leaves the cursor on the first entry of
    // the next section. Returns 1.
    int LoadSectionEntries(CObjectStore& store,
                           const std::function<void(const std::wstring& key, const std::wstring& value)>& onEntry);

    CLogger* Logger = nullptr;
    std::wstring ServerName;
    int ReportFlag = 0;
    std::wstring Task;
    std::wstring Warning;
    std::wstring Migration;
    std::wstring ErrorCode;
    std::wstring ErrorWin32API;
    std::wstring ErrorFunction;
    std::wstring ErrorDescription;
    DWORD LastErrorCode = 0;
};
