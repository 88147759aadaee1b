// Kinds whose classes have not landed yet are refused like the others.
#include "core/object_store.h"
#include "driver/corvanrator.h"

int CCorvanrator::ProcessShares(int backup, CObjectStore& control, const std::wstring& /*server*/) {
    return RefuseKind(backup, control, L"SHARE");
}

int CCorvanrator::ProcessRegistryKey(int /*backup*/, const std::wstring& /*keyPath*/, const std::wstring& /*server*/) {
    OutcomeErrorCode = L"50";
    OutcomeErrorText = L"REGISTRY entries are not supported by this version of Corvan.";
    return 0;
}

int CCorvanrator::ProcessService(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&) {
    OutcomeErrorCode = L"50";
    OutcomeErrorText = L"SERVICE entries are not supported by this version of Corvan.";
    return 0;
}
