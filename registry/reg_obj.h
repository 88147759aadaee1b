// A registry key below HKEY_LOCAL_MACHINE, local or on another machine: a
// parent path and a name, with the operations that act on names. Values and
// key trees derive from it.
#pragma once

#include <string>

#include "core/base_object.h"
#include "platform/win32.h"

class CRegObj : public CBaseObject {
public:
    CRegObj() = default;
    explicit CRegObj(const std::wstring& serverName) : CBaseObject(serverName) {}
    ~CRegObj() override = default;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;

    // Registry operations, in slot order after those of CBaseObject.
    virtual void SetParentKeyName(const std::wstring& name);
    virtual void SetKeyName(const std::wstring& name);
    // Creates the key, or opens it, for full access; the caller closes the handle.
    virtual int Open(HKEY& handle);
    virtual int Enum(const std::wstring& keyPath, const std::wstring& name, HKEY& handle);
    virtual int Noop();
    virtual int Add(const std::wstring& keyPath, const std::wstring& name, HKEY& handle);
    virtual int DumpKeys();
    virtual void PrintList(const std::wstring& valueName);
    virtual void RenameKey(const std::wstring& oldName, const std::wstring& newName);
    virtual void ReplaceInValue(const std::wstring& oldText, const std::wstring& newText);
    virtual void ReplaceInKeyNames(const std::wstring& oldText, const std::wstring& newText);
    // Returns 1 when ParentKeyName matched `parent` and KeyName was extended.
    virtual int AppendToKeyName(const std::wstring& parent, const std::wstring& suffix);
    virtual void AppendToParentKeyName(const std::wstring& suffix);
    virtual int Apply(HKEY& handle);
    virtual int FindValue(const std::wstring& name, std::wstring& buffer);
    // Mode 4 writes the short key line; any other mode the HKEY_LOCAL_MACHINE one.
    virtual void WriteReport(CObjectStore& store, DWORD mode);

    // ParentKeyName\KeyName; KeyName alone when there is no parent path, so
    // that a key read from the top of the hive yields paths the registry accepts.
    std::wstring FullPath() const;

    std::wstring ParentKeyName;
    std::wstring KeyName;

protected:
    // The "KeyName" and "ParentKeyName" entries of a section; 1 if `key` was one.
    int LoadKeyNames(const std::wstring& key, const std::wstring& value);
    // Creates or opens FullPath() on `server` for full access into `handle`
    // (null when there is no parent path). Records failures only, under `function`.
    int CreateKey(const std::wstring& function, const std::wstring& server, HKEY& handle);
};

// Closes a registry handle when it leaves scope.
class CRegKeyHandle {
public:
    CRegKeyHandle() = default;
    explicit CRegKeyHandle(HKEY key) : key_(key) {}
    ~CRegKeyHandle() { Close(); }
    CRegKeyHandle(const CRegKeyHandle&) = delete;
    CRegKeyHandle& operator=(const CRegKeyHandle&) = delete;

    HKEY Get() const { return key_; }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};
