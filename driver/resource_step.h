// The one shape of the share, port and printer steps. On backup: enumerate
// the machine into the kind's composite, select, save each kept child into a
// file of its own and the whole set into one file, add a RESTORE entry per
// child. On restore: load each file, switch on its class, move it onto the
// target of /T:, restore it, save the result, report, and record STATUS or
// RESTOREERROR. A preview walks the same road: the objects themselves change
// nothing, and the step writes no file and no entry, only the status lines
// and the outcome. What differs between
// the kinds is a small description (ShareKind, PortKind, PrinterKind) with
// these members:
//
//   Composite, Item                 the composite class and the single class
//   kSetClass, kItemClass           their class names in a file
//   kEntryKey, kFileSuffix, kNoun   "PORT", "_port.bkp", "port"
//   kTypeWord                       "Port": the Type of the kind's status lines
//   kFullErrorPath                  BackupErrorFile names the whole path of the set
//   kDeferResults                   items are finished only after AfterRestore
//   WholeSetFile(migrator)          the field holding the whole-set file name
//   NameOf(item)                    the name the item's file is made from
//   Select(composite, migrator)     the selection calls of a backup
//   BackupFailure(item)             an item whose backup is incomplete, or null
//   RestoreItem(item), RestoreSet(composite)
//   StatusName(item, entryName)     the name in the item's STATUS entry
//   LoadFailureEntry(name, file, migrator)
//   AfterRestore(migrator, control) the kind's work after the loop
//   Recheck(object, ok)             an item's outcome after AfterRestore
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/file_name.h"
#include "core/object_store.h"
#include "core/preview.h"
#include "diagnostics/progress.h"
#include "diagnostics/status_line.h"
#include "driver/corvanrator.h"
#include "driver/report_writer.h"
#include "platform/text.h"

template <class Kind>
class CResourceStep {
public:
    CResourceStep(CCorvanrator& migrator, CObjectStore& control, const std::wstring& server, Kind& kind)
        : m_(migrator), control_(control), server_(server), kind_(kind) {}

    int Backup() {
        using corvan::Format;
        report_.emplace(m_, control_, 1);
        std::wstring& setField = kind_.WholeSetFile(m_);
        const std::wstring setFile = m_.UniqueFileName(setField);
        const std::wstring wholeSet = m_.BackupLocation + L"\\" + setFile;
        setField = Kind::kFullErrorPath ? wholeSet : setFile;
        const std::wstring errorFile = Kind::kFullErrorPath ? wholeSet : setFile;

        const bool preview = corvan::PreviewOnly();
        CProgress progress(Format(L"Backup %ls", Kind::kEntryKey));
        typename Kind::Composite composite(server_);
        int r = composite.Enum();
        if (r) {
            kind_.Select(composite, m_);
            for (int i = 0; i < composite.GetCount(); ++i) {
                typename Kind::Item* item = composite.GetAt(i);
                if (!item || !item->Restore) continue;
                CProgress::Advance(Kind::NameOf(*item));
                if (preview) {
                    // Its status line says whether it could be saved.
                    if (const CBaseObject* failure = Kind::BackupFailure(*item))
                        m_.FailRun(failure->ErrorCode, failure->ErrorDescription);
                    continue;
                }
                const std::wstring name = Kind::NameOf(*item);
                // A comma would end the name part of the entry early.
                const std::wstring label = LabelOf(name);
                const std::wstring file = m_.UniqueFileName(FileNameOf(name) + Kind::kFileSuffix);
                const std::wstring entry = Format(L"%ls,\"%ls\"", label.c_str(), file.c_str());
                const CBaseObject* failure = Kind::BackupFailure(*item);
                CObjectStore saved;
                if (!failure && Save(*item, m_.BackupLocation + L"\\" + file, saved)) {
                    control_.AddEntry(L"RESTORE", Kind::kEntryKey, entry);
                    continue;
                }
                // No restore entry for a file that was not written, or not whole.
                if (!failure) failure = &saved;
                m_.FailRun(failure->ErrorCode, failure->ErrorDescription);
                control_.AddEntry(L"BACKUPERROR", Kind::kEntryKey, entry);
                control_.SetValue(L"Control", L"BackupErrorFile",
                                  Kind::kFullErrorPath ? m_.BackupLocation + L"\\" + file : file);
                control_.SetValue(L"Control", L"BackupErrorStep", Kind::kEntryKey);
            }
        } else {
            m_.FailRun(composite.ErrorCode, composite.ErrorDescription);
            if (preview)
                ReportFailure(L"ALL", L"Backup", composite.ErrorDescription);
            else
                control_.AddEntry(L"BACKUPERROR", Kind::kEntryKey, Format(L"ALL,\"%ls\"", setFile.c_str()));
        }
        composite.ReportStatus(report_->Store());
        report_->Append();
        if (preview) return r;

        CObjectStore saved;
        if (!Save(composite, wholeSet, saved) && r) {
            r = 0;
            m_.OutcomeErrorCode = saved.ErrorCode;
            m_.OutcomeErrorText = saved.ErrorDescription;
            control_.AddEntry(L"BACKUPERROR", Kind::kEntryKey, Format(L"ALL,\"%ls\"", setFile.c_str()));
        }
        if (!r) {
            m_.RunSucceeded = 0;
            control_.SetValue(L"Control", L"BackupErrorFile", errorFile);
            control_.SetValue(L"Control", L"BackupErrorStep", Kind::kEntryKey);
        }
        return r;
    }

    int Restore() {
        CProgress progress(corvan::Format(L"Restore %ls", Kind::kEntryKey));
        report_.emplace(m_, control_, 0);
        std::vector<Outcome> outcomes;
        outcomes.reserve(m_.WorkFiles.size());
        for (size_t i = 0; i < m_.WorkFiles.size(); ++i) {
            outcomes.push_back(RestoreItem(m_.WorkNames[i], m_.WorkFiles[i]));
            if (!Kind::kDeferResults || !outcomes.back().object) Finish(outcomes.back());
        }
        kind_.AfterRestore(m_, control_);
        for (auto& outcome : outcomes) {
            if (outcome.finished) continue;
            outcome.ok = kind_.Recheck(*outcome.object, outcome.ok);
            Finish(outcome);
        }
        return outcomes.empty() ? 1 : outcomes.back().ok;
    }

private:
    struct Outcome {
        std::wstring name;
        std::wstring file;
        std::wstring target;
        std::unique_ptr<typename Kind::Item> object;  // null when nothing was loaded
        bool loadFailed = false;
        bool finished = false;
        int ok = 0;
    };

    static std::wstring LabelOf(const std::wstring& name) {
        std::wstring label = name;
        for (wchar_t& c : label)
            if (c == L',') c = L'_';
        return label;
    }

    template <class T>
    static int Save(T& object, const std::wstring& path, CObjectStore& store) {
        object.SaveProperties(store);
        return store.SaveToFile(path);
    }

    // The status line of a preview for an item that has no object to report
    // (a file that cannot be loaded, a whole set that cannot be listed).
    void ReportFailure(const std::wstring& name, const wchar_t* operation, const std::wstring& text) {
        std::wstring state = text;
        state.erase(state.find_last_not_of(L' ') + 1);
        ReportStatusLine(report_->Store(), Kind::kTypeWord, name, Kind::kTypeWord, L"",
                         corvan::Format(L"%ls %ls", operation, Kind::kTypeWord), ERROR_INVALID_DATA, state);
        report_->Append();
    }

    Outcome RestoreItem(const std::wstring& name, const std::wstring& file) {
        using corvan::Format;
        Outcome out;
        out.name = name;
        out.file = file;
        out.target = Format(L"%ls\\%ls", m_.RestoreLocation.c_str(), file.c_str());
        const std::wstring source = m_.BackupLocation + L"\\" + file;
        const std::wstring invalid = Format(L"%u", static_cast<unsigned>(ERROR_INVALID_DATA));

        CObjectStore store;
        if (!store.LoadFromFile(source)) {
            m_.FailRun(store.ErrorCode, store.ErrorDescription);
            out.loadFailed = true;
            return out;
        }
        if (!store.Next() || !corvan::EqualsNoCase(store.CurrentKey(), L"class")) {
            m_.FailRun(invalid, Format(L"%ls holds no %ls.", source.c_str(), Kind::kNoun));
            return out;
        }
        typename Kind::Composite* set = nullptr;
        if (corvan::EqualsNoCase(store.CurrentValue(), Kind::kSetClass)) {
            auto composite = std::make_unique<typename Kind::Composite>(server_);
            set = composite.get();
            out.object = std::move(composite);
        } else if (corvan::EqualsNoCase(store.CurrentValue(), Kind::kItemClass)) {
            out.object = std::make_unique<typename Kind::Item>(server_);
        } else {
            m_.FailRun(invalid, Format(L"%ls holds a %ls, not a %ls.", source.c_str(), store.CurrentValue().c_str(),
                                 Kind::kNoun));
            return out;
        }
        if (!out.object->LoadProperty(store)) {
            // A file refused while loading restores nothing of it.
            m_.FailRun(out.object->ErrorCode, out.object->ErrorDescription);
            out.object.reset();
            return out;
        }
        if (!m_.Retarget(*out.object)) {
            m_.FailRun(invalid, Format(L"%ls names no machine its %ls could be moved from onto %ls.", source.c_str(),
                                 Kind::kNoun, m_.TargetMachineName.c_str()));
            out.object.reset();
            return out;
        }
        if (set) {
            out.ok = kind_.RestoreSet(*set);
        } else {
            out.name = kind_.StatusName(*out.object, name);
            out.ok = kind_.RestoreItem(*out.object);
        }
        return out;
    }

    // Saves the result, reports, and records the item's entry; a preview
    // only reports.
    void Finish(Outcome& out) {
        using corvan::Format;
        const bool preview = corvan::PreviewOnly();
        out.finished = true;
        if (out.object) {
            if (!out.ok) m_.FailRun(out.object->ErrorCode, out.object->ErrorDescription);
            CObjectStore saved;
            if (!preview && !Save(*out.object, out.target, saved) && out.ok) {
                // Without its result file a retry could not tell what is left to do.
                out.ok = 0;
                m_.FailRun(saved.ErrorCode, saved.ErrorDescription);
            }
            out.object->ReportStatus(report_->Store());
            report_->Append();
        } else if (preview) {
            ReportFailure(out.name, L"Restore", m_.OutcomeErrorText);
        }
        if (preview) return;
        // Every item ends in STATUS or RESTOREERROR: one that was not
        // restored is never left unreported.
        if (out.ok) {
            control_.AddEntry(L"STATUS", Kind::kEntryKey, Format(L"%ls,\"0,Success.\"", out.name.c_str()));
            return;
        }
        m_.RunSucceeded = 0;
        control_.AddEntry(L"RESTOREERROR", Kind::kEntryKey,
                          out.loadFailed ? Kind::LoadFailureEntry(out.name, out.file, m_)
                                         : Format(L"%ls,\"%ls\"", out.name.c_str(), out.file.c_str()));
        control_.SetValue(L"Control", L"RestoreErrorFile", out.target);
        control_.SetValue(L"Control", L"RestoreErrorStep", Kind::kEntryKey);
    }

    CCorvanrator& m_;
    CObjectStore& control_;
    const std::wstring server_;
    Kind& kind_;
    // Made by Backup or Restore: a report that cannot be written fails that run.
    std::optional<CReportWriter> report_;
};
