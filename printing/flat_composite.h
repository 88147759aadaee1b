// The container half of CCompositePort, CCompositeDriver and
// CCompositePrinter: an ordered list of owned children (leaves or nested
// composites of the same kind) with the load, save, report and dump loops
// they share. Leaf is the element class (CPort, ...), Self the composite.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "platform/text.h"

template <class Leaf, class Self>
class CFlatComposite : public Leaf {
public:
    CFlatComposite() = default;
    explicit CFlatComposite(const std::wstring& serverName) : Leaf(serverName) {}

    // Reads the composite's own entries, then one child per following
    // section of the leaf or the composite class; other classes are passed
    // over. Returns 0, with the error recorded, for nesting deeper than
    // kMaxNestingDepth: every operation on the tree recurses once per level.
    int LoadProperty(CObjectStore& store) override {
        const std::wstring own = store.CurrentEntrySection();
        CNestingLevel level(store.NestingDepth());
        if (level.TooDeep())
            return RefuseNesting(*this, std::wstring(Self::kClassName) + L"::LoadProperty()", own);
        this->LoadSectionEntries(store, nullptr);
        std::wstring section = own;
        while (store.Next()) {
            // Only the first entry of a section counts; the rest of a section
            // passed over is skipped with it.
            if (corvan::EqualsNoCase(store.CurrentEntrySection(), section)) continue;
            section = store.CurrentEntrySection();
            if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
            if (level.Depth() > 1 && ParentOfCurrentSection(store) != own) {
                store.Previous();
                break;
            }
            const std::wstring className = store.CurrentValue();
            if (className == Leaf::kClassName) {
                auto child = std::make_unique<Leaf>(this->ServerName);
                child->LoadProperty(store);
                AddChild(child.release());
            } else if (className == Self::kClassName) {
                auto nested = std::make_unique<Self>(this->ServerName);
                if (!nested->LoadProperty(store)) {
                    // Too deep somewhere below: the whole set is refused.
                    CopyError(*nested);
                    return 0;
                }
                AddChild(nested.release());
            } else {
                continue;
            }
            // The child has read its sections; what follows is new.
            section.clear();
        }
        return 1;
    }

    int SaveProperties(CObjectStore& store) override {
        const std::wstring own = CBaseObject::BeginCompositeSection(store, Self::kClassName);
        CBaseObject::SaveProperties(store);
        for (auto& child : children_) CBaseObject::SaveChildSection(store, own, *child);
        return 1;
    }

    void ReportStatus(CObjectStore& reportStore) override {
        for (auto& child : children_) child->ReportStatus(reportStore);
    }

    void Dump() override {
        for (auto& child : children_) child->Dump();
    }

    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override {
        int count = Leaf::ReplaceServerName(oldText, newText);
        for (auto& child : children_) count += child->ReplaceServerName(oldText, newText);
        return count;
    }

    // Takes ownership; null is ignored.
    virtual void AddChild(Leaf* child) {
        if (child) children_.emplace_back(child);
    }
    virtual int GetCount() const { return static_cast<int>(children_.size()); }
    // Null when the index is out of range.
    virtual Leaf* GetAt(int index) const {
        if (index < 0 || index >= GetCount()) return nullptr;
        return children_[static_cast<size_t>(index)].get();
    }

    // Calls visit(leaf) for every leaf below, nested composites included, in list order.
    template <class Visit>
    void ForEachLeaf(Visit&& visit) const {
        for (const auto& child : children_) {
            if (auto* nested = dynamic_cast<Self*>(child.get()))
                nested->ForEachLeaf(visit);
            else
                visit(*child);
        }
    }

protected:
    void CopyError(const CBaseObject& from) {
        this->ErrorCode = from.ErrorCode;
        this->ErrorWin32API = from.ErrorWin32API;
        this->ErrorFunction = from.ErrorFunction;
        this->ErrorDescription = from.ErrorDescription;
        this->LastErrorCode = from.LastErrorCode;
    }

    std::vector<std::unique_ptr<Leaf>> children_;

private:
    // The "parent" value of the section whose "class" entry is current,
    // read without moving the cursor; empty when there is none.
    static std::wstring ParentOfCurrentSection(const CObjectStore& store) {
        size_t next = store.GetCursor();
        if (next >= store.GetEntryCount()) return L"";
        const CStoreEntry& entry = store.GetEntryAt(next);
        if (!corvan::EqualsNoCase(entry.Section, store.CurrentEntrySection()) || entry.Key != L"parent") return L"";
        return entry.Value;
    }
};
