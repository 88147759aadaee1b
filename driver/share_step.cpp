// The share step: the resource step over shares.
#include "driver/resource_step.h"
#include "shares/composite_share.h"
#include "shares/share.h"

namespace {

struct ShareKind {
    using Composite = CCompositeShare;
    using Item = CShare;
    static constexpr const wchar_t* kSetClass = L"CCompositeShare";
    static constexpr const wchar_t* kItemClass = L"CShare";
    static constexpr const wchar_t* kEntryKey = L"SHARE";
    static constexpr const wchar_t* kFileSuffix = L"_shr.bkp";
    static constexpr const wchar_t* kNoun = L"share";
    static constexpr const wchar_t* kTypeWord = L"Share";
    static constexpr bool kFullErrorPath = false;
    static constexpr bool kDeferResults = false;

    std::wstring& WholeSetFile(CCorvanrator& m) { return m.SharesFile; }
    static std::wstring NameOf(const CShare& share) { return share.NetName; }
    void Select(CCompositeShare& composite, CCorvanrator& m) {
        for (const auto& name : m.ExcludedShareNames) composite.SetRestoreByName(name, 0);
        for (DWORD type : m.ExcludedShareTypes) composite.SetRestoreByType(type, 0);
        for (const auto& name : m.SelectedShareNames) composite.SetRestoreByName(name, 1);
    }
    static const CBaseObject* BackupFailure(const CShare&) { return nullptr; }

    int RestoreItem(CShare& share) { return share.Add(); }
    int RestoreSet(CCompositeShare& composite) { return composite.Add(); }
    std::wstring StatusName(const CShare& share, const std::wstring&) { return share.NetName; }
    static std::wstring LoadFailureEntry(const std::wstring& name, const std::wstring& file, const CCorvanrator&) {
        return corvan::Format(L"%ls,\"%ls\"", name.c_str(), file.c_str());
    }
    void AfterRestore(CCorvanrator&, CObjectStore&) {}
    int Recheck(CShare&, int ok) { return ok; }
};

}  // namespace

int CCorvanrator::ProcessShares(int backup, CObjectStore& control, const std::wstring& server) {
    ShareKind kind;
    CResourceStep<ShareKind> step(*this, control, server, kind);
    return backup ? step.Backup() : step.Restore();
}
