// A registry key with its contents: one child per value, then one nested
// key per subkey. Reads a whole tree from the registry, saves it as one store
// section per object, re-creates it from a store and writes it back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "registry/reg_obj.h"

class CCompositeRegKey : public CRegObj {
public:
    CCompositeRegKey() = default;
    explicit CCompositeRegKey(const std::wstring& serverName) : CRegObj(serverName) {}
    ~CCompositeRegKey() override;

    // Re-creates the whole tree. The store's current entry is this key's
    // "class" entry; stops before the first section of a non-registry class.
    // 0 when keys nest deeper than the nesting bound: the tree is then unusable.
    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    // Returns the number of replacements in the whole tree.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Reads keyName below parentPath with all values and subkeys. A null
    // `handle` makes it open parentPath into it, left open for the caller.
    int Enum(const std::wstring& parentPath, const std::wstring& keyName, HKEY& handle) override;
    int Noop() override;
    int DumpKeys() override;
    void PrintList(const std::wstring& valueName) override;
    void RenameKey(const std::wstring& oldName, const std::wstring& newName) override;
    void ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) override;
    void ReplaceInKeyNames(const std::wstring& oldText, const std::wstring& newText) override;
    int AppendToKeyName(const std::wstring& parent, const std::wstring& suffix) override;
    // Creates the key and writes every child into it, stopping at the first
    // child that fails. Existing values and subkeys not in the tree stay.
    // Every handle it opens is closed again; `handle` comes back null.
    int Apply(HKEY& handle) override;
    int FindValue(const std::wstring& name, std::wstring& buffer) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    // Takes ownership; a null child is ignored.
    virtual void AddChild(CRegObj* child);
    virtual int GetCount() const;
    // Null for an index outside 0 .. count - 1.
    virtual CRegObj* GetAt(int index) const;

private:
    // Apply on `server`; nested keys without a server name of their own
    // follow their container's.
    int ApplyOn(const std::wstring& server);

    std::vector<std::unique_ptr<CRegObj>> children_;
};
