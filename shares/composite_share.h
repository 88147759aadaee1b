// All shares of one server together with its null-session share list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "shares/share.h"

class CRegValueMultiSz;

class CCompositeShare : public CShare {
public:
    CCompositeShare();
    explicit CCompositeShare(const std::wstring& serverName);
    ~CCompositeShare() override;

    // 0 when the sets nest deeper than the nesting bound; nothing is then
    // to be restored from the store.
    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Takes ownership; null is ignored.
    virtual void AddChild(CShare* child);
    virtual int GetCount() const;
    // Null when the index is out of range.
    virtual CShare* GetAt(int index) const;

    // Reads the server's shares and its null-session list. Nonzero on success.
    int Enum();
    // Creates every child still to be restored, then merges the former
    // null-session shares into the target's list. Nonzero when all went well.
    int Add() override;
    void SetRestoreByName(const std::wstring& name, DWORD flag) override;
    void SetRestoreByType(DWORD type, DWORD flag) override;

    // Null when there is none (a fresh composite).
    CRegValueMultiSz* GetNullSessionList() const { return nullSessionList_.get(); }
    void SetNullSessionList(std::unique_ptr<CRegValueMultiSz> list);

private:
    std::vector<std::unique_ptr<CShare>> children_;
    std::unique_ptr<CRegValueMultiSz> nullSessionList_;
    // Set on a composite inside a composite: it stops loading at the first
    // section that does not belong to it.
    bool nested_ = false;
};
