// The ordered list of (section, key, value, number) entries that every
// backup file, control file and status report is read into and written from.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base_object.h"

class CTextFileWriter;

struct CStoreEntry {
    std::wstring Section;
    std::wstring Key;
    std::wstring Value;  // still encoded
    DWORD EntryNumber = 0;
};

class CObjectStore : public CBaseObject {
public:
    CObjectStore();
    ~CObjectStore() override;
    CObjectStore(const CObjectStore&) = delete;
    CObjectStore& operator=(const CObjectStore&) = delete;

    // Writing entries; values are stored as given (callers encode them).
    // AddEntry returns 0 when an entry with the same section, key and value exists.
    int AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 DWORD number = 0);
    int AddToSection(const std::wstring& key, const std::wstring& value);
    // AddToSection of a text as quoted text, and of a number in the dword form.
    int AddStringToSection(const std::wstring& key, const std::wstring& text);
    int AddDwordToSection(const std::wstring& key, DWORD value);
    int NewSection(const std::wstring& key, const std::wstring& value, DWORD number = 0);
    // Replaces the value of the first entry with this exact section and key,
    // or adds the entry.
    void SetValue(const std::wstring& section, const std::wstring& key, const std::wstring& value);

    // Reading entries. GetValue ignores case and decodes the last match; it
    // leaves `out` untouched and returns 0 when nothing matches.
    int GetValue(const std::wstring& section, const std::wstring& key, std::wstring& out) const;
    // Exact matches in entry order, appended to `out`.
    void GetValues(const std::wstring& section, const std::wstring& key, std::vector<std::wstring>& out) const;
    void GetDwordValues(const std::wstring& section, const std::wstring& key, std::vector<DWORD>& out) const;
    int FindEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                  DWORD& number) const;

    // The cursor.
    void Rewind() { cursor_ = 0; }
    int Next();
    int Previous();
    int NextEntry(std::wstring& section, std::wstring& key, std::wstring& value, DWORD& number);
    size_t GetCursor() const { return cursor_; }

    // The entry that Next last made current.
    const std::wstring& CurrentKey() const { return currentKey_; }
    const std::wstring& CurrentValue() const { return currentValue_; }
    const std::wstring& CurrentEntrySection() const { return currentEntrySection_; }
    DWORD CurrentNumber() const { return currentNumber_; }
    void GetCurrentKey(std::wstring& out) const { out = currentKey_; }
    void GetCurrentValue(std::wstring& out) const { out = currentValue_; }
    void GetCurrentEntrySection(std::wstring& out) const { out = currentEntrySection_; }

    // Registers of section numbering.
    int GetSectionCounter() const { return sectionCounter_; }
    const std::wstring& GetCurrentSection() const { return currentSection_; }
    void SetCurrentSection(const std::wstring& section) { currentSection_ = section; }
    const std::wstring& GetParentSection() const { return parentSection_; }
    void SetParentSection(const std::wstring& section) { parentSection_ = section; }

    // Section name -> object re-created from it; the store does not own them.
    void RegisterObject(const std::wstring& section, CBaseObject* object);
    int LookupObject(const std::wstring& section, CBaseObject*& object) const;

    // How many nested loaders are reading this store at the moment (see
    // core/nesting_bound.h).
    int& NestingDepth() { return nestingDepth_; }

    size_t GetEntryCount() const { return entries_.size(); }
    const CStoreEntry& GetEntryAt(size_t index) const { return entries_[index]; }

    int LoadFromFile(const std::wstring& path);
    // Whether the last load met a zero character, which ended its text early.
    bool LoadMetZero() const { return loadMetZero_; }
    int SaveToFile(const std::wstring& path);
    int SaveToReport(const std::wstring& path);
    void Dump() override;

private:
    struct Indexes;

    // Lets writeLines fill the file and records the outcome the way both save
    // operations report it. A file is written whole or not at all: beside
    // the target under a name of its own, then moved over it in one step. An
    // append is written at the end of the file in place, and cut back to the
    // old end when it fails.
    int WriteTextFile(const std::wstring& op, const std::wstring& path, bool append,
                      const std::function<bool(CTextFileWriter&)>& writeLines);
    // Records a file failure: the category of the Win32 error, described by its own meaning.
    int FileFailure(const std::wstring& op, const std::wstring& api, DWORD category);

    void Append(std::wstring section, std::wstring key, std::wstring value, DWORD number);
    int AddEntryMoved(std::wstring section, std::wstring key, std::wstring value, DWORD number);

    size_t cursor_ = 0;
    int sectionCounter_ = 0;
    std::wstring currentSection_;
    std::wstring parentSection_ = L"NULL";
    std::wstring currentKey_;
    std::wstring currentValue_;
    std::wstring currentEntrySection_;
    DWORD currentNumber_ = 0;
    int nestingDepth_ = 0;
    bool loadMetZero_ = false;
    std::vector<CStoreEntry> entries_;
    std::unordered_map<std::wstring, CBaseObject*> objects_;
    std::unique_ptr<Indexes> indexes_;
};
