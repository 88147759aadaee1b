// The ordered list of (section, key, value, number) entries that every
// backup file, control file and status report is read into and written from.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base_object.h"

class CTextFileWriter;
class CStoreFileStream;
class CStoreFileSource;

struct CStoreEntry {
    std::wstring Section;
    std::wstring Key;
    std::wstring Value;  // still encoded
    DWORD EntryNumber = 0;
};

// The entries in blocks that never move: a store of a million entries grows
// without copying itself into a buffer twice its size each time it doubles
// (and touching every page of it), and a small store stays small.
class CStoreEntryList {
public:
    size_t size() const { return size_; }
    CStoreEntry& operator[](size_t i) { return i < kFirst ? first_[i] : blocks_[(i - kFirst) >> kShift][(i - kFirst) & kMask]; }
    const CStoreEntry& operator[](size_t i) const {
        return i < kFirst ? first_[i] : blocks_[(i - kFirst) >> kShift][(i - kFirst) & kMask];
    }
    void push_back(CStoreEntry&& entry) { grow() = std::move(entry); }
    // The next entry, to be filled in: one the list let go of when it was
    // recycled, strings and their room still there, or a new one.
    CStoreEntry& grow() {
        std::vector<CStoreEntry>& block = size_ < kFirst ? first_ : Block(size_);
        size_t at = size_ < kFirst ? size_ : (size_ - kFirst) & kMask;
        if (block.capacity() == 0) block.reserve(size_ < kFirst ? kFirst : kMask + 1);
        if (at == block.size()) block.emplace_back();
        ++size_;
        return block[at];
    }
    // Room in the block table for `count` entries; the blocks come as they fill.
    void reserve(size_t count) {
        if (count > kFirst) blocks_.reserve(((count - kFirst) >> kShift) + 1);
    }
    // Drops the entries from `count` on.
    void truncate(size_t count) {
        size_ = std::min(size_, count);
        first_.resize(std::min(size_, kFirst));
        for (size_t b = 0; b < blocks_.size(); ++b) {
            size_t start = kFirst + (b << kShift);
            blocks_[b].resize(size_ > start ? std::min(size_ - start, kMask + 1) : 0);
        }
        while (!blocks_.empty() && blocks_.back().empty()) blocks_.pop_back();
    }
    // Drops the first `count` entries; their strings stay for grow to fill
    // again, as a store read in parts lets go of what it has read.
    void dropFront(size_t count) {
        count = std::min(count, size_);
        for (size_t i = count; i < size_; ++i) std::swap((*this)[i - count], (*this)[i]);
        size_ -= count;
    }
    // Empties the list but keeps its entries to be filled again by grow: a
    // store written as it is made fills the same few thousand entries over
    // and over, and need not free and allocate their strings each time.
    void recycle() { size_ = 0; }

private:
    static constexpr size_t kFirst = 64;
    static constexpr size_t kShift = 13;
    static constexpr size_t kMask = (size_t{1} << kShift) - 1;

    std::vector<CStoreEntry>& Block(size_t i) {
        size_t block = (i - kFirst) >> kShift;
        if (block == blocks_.size()) blocks_.emplace_back();
        return blocks_[block];
    }

    std::vector<CStoreEntry> first_;
    std::vector<std::vector<CStoreEntry>> blocks_;
    size_t size_ = 0;
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
    int AddToSection(std::wstring_view key, std::wstring_view value);
    // AddToSection of a text as quoted text, and of a number in the dword form.
    int AddStringToSection(std::wstring_view key, std::wstring_view text);
    int AddDwordToSection(std::wstring_view key, DWORD value);
    int NewSection(std::wstring_view key, std::wstring_view value, DWORD number = 0);
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
    // A store too large to be held whole is written as it is made: after
    // BeginFile the store keeps no more than a batch of entries, the rest
    // having gone to a temporary file beside path (the section numbering
    // goes on). EndFile writes what is left and puts the file in place
    // whole, or removes it and records the error as SaveToFile does. The
    // bytes are those SaveToFile would write.
    int BeginFile(const std::wstring& path);
    int EndFile();
    // Loads a file a batch of entries at a time as Next reaches them: the
    // entries before the one Next made current are let go. Next, Previous
    // and the entry after the current one see what LoadFromFile would have
    // given them. A file whose sections do not each come in one run, which
    // the tool never writes, is read whole as LoadFromFile reads it.
    int LoadFromFileInParts(const std::wstring& path);
    int SaveToReport(const std::wstring& path);
    void Dump() override;

private:
    struct Indexes;

    // Lets writeLines append to the file and records the outcome. An append
    // is written at the end of the file in place, and cut back to the old end
    // when it fails.
    int AppendTextFile(const std::wstring& op, const std::wstring& path,
                       const std::function<bool(CTextFileWriter&)>& writeLines);
    // Ends a file written through `out` (ok: nothing failed so far) and puts
    // it in place of path, or removes it; records the outcome either way.
    int PutInPlace(CStoreFileStream& out, const std::wstring& op, bool ok);
    // Records a file failure: the category of the Win32 error, described by its own meaning.
    int FileFailure(const std::wstring& op, const std::wstring& api, DWORD category);

    void Append(std::wstring section, std::wstring key, std::wstring value, DWORD number);
    // Copies into the next entry, filling the room of one let go of before.
    void AppendCopy(std::wstring_view section, std::wstring_view key, std::wstring_view value, DWORD number);
    // The next entry with its section and key; the caller fills in the value
    // and then calls Added.
    CStoreEntry& NewEntry(std::wstring_view section, std::wstring_view key, DWORD number);
    void Added();
    // Bring the indexes up to the last entry.
    void IndexTriples() const;
    void IndexPairs() const;
    // Room for `more` entries in the list and the indexes.
    void Reserve(size_t more);
    // Entries from `from` on, just read: the first of identical ones stays,
    // as AddEntry would have it, and the rest close up.
    void DropRepeats(size_t from);
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
    CStoreEntryList entries_;
    std::unordered_map<std::wstring, CBaseObject*> objects_;
    std::unique_ptr<Indexes> indexes_;
    std::unique_ptr<CStoreFileStream> out_;
    std::unique_ptr<CStoreFileSource> in_;
    // Entries let go from the front by a load in parts.
    size_t dropped_ = 0;

    // The batch of a write or a load in parts.
    void FlushToFile();
    bool Refill();
    // Parses the whole file behind in_ into the entries, as LoadFromFile
    // would, keeping the cursor on the same entry.
    bool LoadRestWhole();
};
