#include <memory>

#include "core/object_store.h"
#include "driver/corvanrator.h"
#include "driver/report_writer.h"
#include "platform/text.h"
#include "shares/composite_share.h"
#include "shares/share.h"

using corvan::Format;

namespace {

template <class T>
int SaveObject(T& object, const std::wstring& path, CObjectStore& errors) {
    CObjectStore store;
    object.SaveProperties(store);
    int saved = store.SaveToFile(path);
    if (!saved) {
        errors.ErrorCode = store.ErrorCode;
        errors.ErrorDescription = store.ErrorDescription;
    }
    return saved;
}

}  // namespace

int CCorvanrator::ProcessShares(int backup, CObjectStore& control, const std::wstring& server) {
    CReportWriter report(*this, control, backup);

    if (backup) {
        const std::wstring wholeSet = BackupLocation + L"\\" + SharesFile;
        CCompositeShare composite(server);
        int r = composite.Enum();
        if (r) {
            for (const auto& name : ExcludedShareNames) composite.SetRestoreByName(name, 0);
            for (DWORD type : ExcludedShareTypes) composite.SetRestoreByType(type, 0);
            for (const auto& name : SelectedShareNames) composite.SetRestoreByName(name, 1);
            for (int i = 0; i < composite.GetCount(); ++i) {
                CShare* share = composite.GetAt(i);
                if (!share || !share->Restore) continue;
                const std::wstring& name = share->NetName;
                CObjectStore failure;
                if (SaveObject(*share, Format(L"%ls\\%ls_shr.bkp", BackupLocation.c_str(), name.c_str()), failure)) {
                    control.AddEntry(L"RESTORE", L"SHARE", Format(L"%ls,\"%ls_shr.bkp\"", name.c_str(), name.c_str()));
                } else {
                    // No restore entry for a file that was never written.
                    RunSucceeded = 0;
                    OutcomeErrorCode = failure.ErrorCode;
                    OutcomeErrorText = failure.ErrorDescription;
                    control.AddEntry(L"BACKUPERROR", L"SHARE", Format(L"%ls,\"%ls_shr.bkp\"", name.c_str(), name.c_str()));
                    control.SetValue(L"Control", L"BackupErrorFile", name + L"_shr.bkp");
                    control.SetValue(L"Control", L"BackupErrorStep", L"SHARE");
                }
            }
        } else {
            RunSucceeded = 0;
            OutcomeErrorCode = composite.ErrorCode;
            OutcomeErrorText = composite.ErrorDescription;
            control.AddEntry(L"BACKUPERROR", L"SHARE", Format(L"ALL,\"%ls\"", SharesFile.c_str()));
        }
        composite.ReportStatus(report.Store());
        report.Append();

        CObjectStore failure;
        if (!SaveObject(composite, wholeSet, failure) && r) {
            r = 0;
            OutcomeErrorCode = failure.ErrorCode;
            OutcomeErrorText = failure.ErrorDescription;
            control.AddEntry(L"BACKUPERROR", L"SHARE", Format(L"ALL,\"%ls\"", SharesFile.c_str()));
        }
        if (!r) {
            RunSucceeded = 0;
            control.SetValue(L"Control", L"BackupErrorFile", SharesFile);
            control.SetValue(L"Control", L"BackupErrorStep", L"SHARE");
        }
        return r;
    }

    int r = 1;
    for (size_t i = 0; i < WorkFiles.size(); ++i) {
        const std::wstring& file = WorkFiles[i];
        const std::wstring& entryName = WorkNames[i];
        const std::wstring source = BackupLocation + L"\\" + file;
        const std::wstring target = Format(L"%ls\\%ls", RestoreLocation.c_str(), file.c_str());
        std::wstring name = entryName;
        int itemOk = 0;

        CObjectStore store;
        if (!store.LoadFromFile(source)) {
            OutcomeErrorCode = store.ErrorCode;
            OutcomeErrorText = store.ErrorDescription;
        } else if (!store.Next() || !corvan::EqualsNoCase(store.CurrentKey(), L"class")) {
            OutcomeErrorCode = Format(L"%u", static_cast<unsigned>(ERROR_INVALID_DATA));
            OutcomeErrorText = Format(L"%ls holds no share.", source.c_str());
        } else {
            std::unique_ptr<CShare> object;
            if (corvan::EqualsNoCase(store.CurrentValue(), L"CCompositeShare"))
                object = std::make_unique<CCompositeShare>(server);
            else if (corvan::EqualsNoCase(store.CurrentValue(), L"CShare"))
                object = std::make_unique<CShare>(server);
            if (!object) {
                OutcomeErrorCode = Format(L"%u", static_cast<unsigned>(ERROR_INVALID_DATA));
                OutcomeErrorText = Format(L"%ls holds a %ls, not a share.", source.c_str(), store.CurrentValue().c_str());
            } else if (!object->LoadProperty(store)) {
                // A file the loader refuses restores nothing.
                OutcomeErrorCode = object->ErrorCode;
                OutcomeErrorText = object->ErrorDescription;
            } else {
                if (!dynamic_cast<CCompositeShare*>(object.get())) name = object->NetName;
                itemOk = object->Add();
                if (!itemOk) {
                    OutcomeErrorCode = object->ErrorCode;
                    OutcomeErrorText = object->ErrorDescription;
                }
                // The restored state that a later restore retries from: an
                // item whose state could not be kept has failed.
                CObjectStore failure;
                if (!SaveObject(*object, target, failure) && itemOk) {
                    itemOk = 0;
                    OutcomeErrorCode = failure.ErrorCode;
                    OutcomeErrorText = failure.ErrorDescription;
                }
                object->ReportStatus(report.Store());
                report.Append();
            }
        }

        // Every item ends in STATUS or RESTOREERROR: one that was not
        // restored is never left unreported.
        if (itemOk) {
            control.AddEntry(L"STATUS", L"SHARE", Format(L"%ls,\"0,Success.\"", name.c_str()));
        } else {
            RunSucceeded = 0;
            control.AddEntry(L"RESTOREERROR", L"SHARE", Format(L"%ls,\"%ls\"", name.c_str(), file.c_str()));
            control.SetValue(L"Control", L"RestoreErrorFile", target);
            control.SetValue(L"Control", L"RestoreErrorStep", L"SHARE");
        }
        r = itemOk;
    }
    return r;
}
