// An access control list taken apart into its entries, and rebuilt from
// them (with the accounts found again by name) on the target machine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "security/ace.h"

class CAcl : public CAce {
public:
    CAcl();
    ~CAcl() override;
    CAcl(const CAcl&) = delete;
    CAcl& operator=(const CAcl&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Takes ownership; null is ignored.
    virtual void AddAce(CAce* ace);
    virtual int GetCount() const;
    // Null for an index below 0 or not below the count.
    virtual CAce* GetAt(int index) const;

    // Appends one entry per entry of `list`; null marks the source list as
    // absent. Returns 1.
    int Enum(PACL list);
    // Builds the list from the entries; the object keeps ownership and frees
    // the list of an earlier Get. An empty list comes back null unless the
    // source was a present, empty list. Returns 1, or 0 with `list` null.
    int Get(PACL& list);

    // Why the last Get failed (0 and empty after a success), so the owner
    // of the list can report it.
    DWORD GetBuildError() const { return buildError_; }
    const std::wstring& GetBuildFailure() const { return buildFailure_; }

    // 1 when the source list was absent or a null pointer: an empty list then
    // means "no list" (everybody may access), not "nobody may access".
    DWORD NullAcl = 1;

private:
    // The description of what failed below, when there is one, is kept.
    int FailBuild(const std::wstring& failure, DWORD code, const std::wstring& description = L"");
    void FreeBuilt();

    std::vector<std::unique_ptr<CAce>> aces_;
    PACL built_ = nullptr;
    DWORD buildError_ = 0;
    std::wstring buildFailure_;
};
