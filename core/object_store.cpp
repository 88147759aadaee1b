#include "core/object_store.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "core/store_value.h"
#include "core/text_file.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kNone = UINT32_MAX;

// An open-addressing table of entry indices keyed by a hash of some of the
// entry's texts. It holds indices only; the texts stay in the entry list, so
// the callers pass the comparison. Several slots may carry equal keys.
class EntryIndex {
public:
    // The first index in probe order for which match(index) holds, or kNone.
    template <class Match>
    uint32_t Find(uint32_t hash, Match match) const {
        const Slot* slot = FindSlot(hash, match);
        return slot ? slot->index : kNone;
    }

    // Points the slot of the first match at another entry; false if none.
    template <class Match>
    bool Replace(uint32_t hash, Match match, uint32_t index) {
        Slot* slot = const_cast<Slot*>(FindSlot(hash, match));
        if (!slot) return false;
        slot->index = index;
        return true;
    }

    template <class Visit>
    void ForEach(uint32_t hash, Visit visit) const {
        if (slots_.empty()) return;
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].index != kNone; i = (i + 1) & mask)
            if (slots_[i].hash == hash) visit(slots_[i].index);
    }

    void Insert(uint32_t hash, uint32_t index) {
        if ((used_ + 1) * 4 > slots_.size() * 3) Grow();
        size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i].index != kNone) i = (i + 1) & mask;
        slots_[i] = {hash, index};
        ++used_;
    }

    void Erase(uint32_t hash, uint32_t index) {
        if (slots_.empty()) return;
        size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i].index != kNone && !(slots_[i].hash == hash && slots_[i].index == index)) i = (i + 1) & mask;
        if (slots_[i].index == kNone) return;
        // Backward shift: move later members of the cluster into the hole
        // when their home slot does not lie between the hole and them.
        size_t hole = i;
        for (size_t j = (hole + 1) & mask; slots_[j].index != kNone; j = (j + 1) & mask) {
            size_t home = slots_[j].hash & mask;
            bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!between) {
                slots_[hole] = slots_[j];
                hole = j;
            }
        }
        slots_[hole] = {0, kNone};
        --used_;
    }

private:
    struct Slot {
        uint32_t hash;
        uint32_t index;
    };

    template <class Match>
    const Slot* FindSlot(uint32_t hash, Match match) const {
        if (slots_.empty()) return nullptr;
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].index != kNone; i = (i + 1) & mask)
            if (slots_[i].hash == hash && match(slots_[i].index)) return &slots_[i];
        return nullptr;
    }

    void Grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{0, kNone});
        used_ = 0;
        for (const Slot& s : old)
            if (s.index != kNone) Insert(s.hash, s.index);
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

// FNV-1a over the characters, each text closed by a separator, then mixed.
class TextHash {
public:
    TextHash& Add(const std::wstring& text) {
        for (wchar_t c : text) Step(static_cast<uint32_t>(c));
        Step(0xFFFFFFFFu);
        return *this;
    }
    TextHash& AddFolded(const std::wstring& text) {
        for (wchar_t c : text) Step(static_cast<uint32_t>(corvan::FoldCase(c)));
        Step(0xFFFFFFFFu);
        return *this;
    }
    uint32_t Value() const {
        uint64_t h = h_;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ULL;
        h ^= h >> 33;
        return static_cast<uint32_t>(h);
    }

private:
    void Step(uint32_t c) {
        h_ ^= c;
        h_ *= 0x100000001b3ULL;
    }
    uint64_t h_ = 0xcbf29ce484222325ULL;
};

uint32_t HashTriple(const std::wstring& s, const std::wstring& k, const std::wstring& v) {
    return TextHash().Add(s).Add(k).Add(v).Value();
}
uint32_t HashPair(const std::wstring& s, const std::wstring& k) { return TextHash().Add(s).Add(k).Value(); }
uint32_t HashPairFolded(const std::wstring& s, const std::wstring& k) {
    return TextHash().AddFolded(s).AddFolded(k).Value();
}

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

// Each index answers one question without scanning the entries:
// is there an identical entry, which entry is the first with this section and
// key, and which is the last with this section and key ignoring case.
struct CObjectStore::Indexes {
    EntryIndex triples;
    EntryIndex firsts;
    EntryIndex lastFolded;
};

CObjectStore::CObjectStore() : indexes_(std::make_unique<Indexes>()) {}

CObjectStore::~CObjectStore() = default;

void CObjectStore::Append(std::wstring section, std::wstring key, std::wstring value, DWORD number) {
    auto index = static_cast<uint32_t>(entries_.size());
    entries_.push_back(CStoreEntry{std::move(section), std::move(key), std::move(value), number});
    const CStoreEntry& e = entries_.back();

    indexes_->triples.Insert(HashTriple(e.Section, e.Key, e.Value), index);

    uint32_t pair = HashPair(e.Section, e.Key);
    auto samePair = [&](uint32_t i) { return entries_[i].Section == e.Section && entries_[i].Key == e.Key; };
    if (indexes_->firsts.Find(pair, samePair) == kNone) indexes_->firsts.Insert(pair, index);

    uint32_t folded = HashPairFolded(e.Section, e.Key);
    auto sameFolded = [&](uint32_t i) {
        return corvan::EqualsNoCase(entries_[i].Section, e.Section) && corvan::EqualsNoCase(entries_[i].Key, e.Key);
    };
    if (!indexes_->lastFolded.Replace(folded, sameFolded, index)) indexes_->lastFolded.Insert(folded, index);
}

int CObjectStore::AddEntryMoved(std::wstring section, std::wstring key, std::wstring value, DWORD number) {
    auto same = [&](uint32_t i) {
        const CStoreEntry& e = entries_[i];
        return e.Section == section && e.Key == key && e.Value == value;
    };
    if (indexes_->triples.Find(HashTriple(section, key, value), same) != kNone) return 0;
    Append(std::move(section), std::move(key), std::move(value), number);
    return 1;
}

int CObjectStore::AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                           DWORD number) {
    return AddEntryMoved(section, key, value, number);
}

int CObjectStore::AddToSection(const std::wstring& key, const std::wstring& value) {
    Append(currentSection_, key, value, 0);
    return 1;
}

int CObjectStore::AddStringToSection(const std::wstring& key, const std::wstring& text) {
    CStoreValue value;
    value.SetString(text);
    return AddToSection(key, value.GetEncoded());
}

int CObjectStore::AddDwordToSection(const std::wstring& key, DWORD number) {
    CStoreValue value;
    value.SetDword(number);
    return AddToSection(key, value.GetEncoded());
}

int CObjectStore::NewSection(const std::wstring& key, const std::wstring& value, DWORD number) {
    if (sectionCounter_ > 0) parentSection_ = currentSection_;
    ++sectionCounter_;
    currentSection_ = std::to_wstring(sectionCounter_);
    Append(currentSection_, key, value, number);
    return 1;
}

void CObjectStore::SetValue(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    auto samePair = [&](uint32_t i) { return entries_[i].Section == section && entries_[i].Key == key; };
    uint32_t first = indexes_->firsts.Find(HashPair(section, key), samePair);
    if (first == kNone) {
        AddEntry(section, key, value, 0);
        return;
    }
    CStoreEntry& e = entries_[first];
    indexes_->triples.Erase(HashTriple(e.Section, e.Key, e.Value), first);
    e.Value = value;
    indexes_->triples.Insert(HashTriple(e.Section, e.Key, e.Value), first);
}

int CObjectStore::GetValue(const std::wstring& section, const std::wstring& key, std::wstring& out) const {
    auto sameFolded = [&](uint32_t i) {
        return corvan::EqualsNoCase(entries_[i].Section, section) && corvan::EqualsNoCase(entries_[i].Key, key);
    };
    uint32_t last = indexes_->lastFolded.Find(HashPairFolded(section, key), sameFolded);
    if (last == kNone) return 0;
    out = StoreTextRule(entries_[last].Value);
    return 1;
}

void CObjectStore::GetValues(const std::wstring& section, const std::wstring& key,
                             std::vector<std::wstring>& out) const {
    for (const auto& e : entries_)
        if (e.Section == section && e.Key == key) out.push_back(StoreTextRule(e.Value));
}

void CObjectStore::GetDwordValues(const std::wstring& section, const std::wstring& key,
                                  std::vector<DWORD>& out) const {
    for (const auto& e : entries_)
        if (e.Section == section && e.Key == key) out.push_back(StoreDwordRule(e.Value));
}

int CObjectStore::FindEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                            DWORD& number) const {
    uint32_t first = kNone;
    indexes_->triples.ForEach(HashTriple(section, key, value), [&](uint32_t i) {
        const CStoreEntry& e = entries_[i];
        if (i < first && e.Section == section && e.Key == key && e.Value == value) first = i;
    });
    if (first == kNone) return 0;
    number = entries_[first].EntryNumber;
    return 1;
}

int CObjectStore::Next() {
    if (cursor_ >= entries_.size()) return 0;
    const CStoreEntry& e = entries_[cursor_++];
    currentEntrySection_ = e.Section;
    currentKey_ = e.Key;
    currentValue_ = e.Value;
    currentNumber_ = e.EntryNumber;
    currentSection_ = e.Section;
    return 1;
}

int CObjectStore::Previous() {
    if (cursor_ == 0) return 0;
    --cursor_;
    return 1;
}

int CObjectStore::NextEntry(std::wstring& section, std::wstring& key, std::wstring& value, DWORD& number) {
    if (cursor_ >= entries_.size()) return 0;
    const CStoreEntry& e = entries_[cursor_++];
    section = e.Section;
    key = e.Key;
    value = e.Value;
    number = e.EntryNumber;
    return 1;
}

void CObjectStore::RegisterObject(const std::wstring& section, CBaseObject* object) { objects_[section] = object; }

int CObjectStore::LookupObject(const std::wstring& section, CBaseObject*& object) const {
    auto it = objects_.find(section);
    if (it == objects_.end()) return 0;
    object = it->second;
    return 1;
}

int CObjectStore::LoadFromFile(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::LoadFromFile(%ls)", path.c_str());
    std::string bytes;
    if (DWORD error = ReadWholeFile(path, bytes)) {
        SetError(op, L"", error);
        return 0;
    }

    std::wstring text = DecodeText(bytes);
    size_t zero = text.find(L'\0');
    loadMetZero_ = zero != std::wstring::npos;
    text.resize(std::min(text.size(), zero));
    const wchar_t* p = text.data();
    const wchar_t* end = p + text.size();

    std::wstring section;
    DWORD count = 0;
    while (p < end) {
        // A backslash takes the next character into the line, but never the
        // line feed: a line ending in a backslash ends there in a file with
        // LF line ends as in one with CR LF, whose CR the backslash takes.
        const wchar_t* q = p;
        while (q < end && *q != L'\n') q += (*q == L'\\' && q + 1 < end && q[1] != L'\n') ? 2 : 1;
        const wchar_t* b = p;
        const wchar_t* e = q;
        p = q < end ? q + 1 : end;

        while (b < e && IsBlank(*b)) ++b;
        while (e > b && IsBlank(e[-1])) --e;
        if (b == e || *b == L';') continue;
        if (*b == L'[' && e - b >= 2 && e[-1] == L']') {
            section.assign(b + 1, e - 1);
            continue;
        }
        ++count;
        const wchar_t* eq = std::find(b, e, L'=');
        if (eq == b)
            AddEntryMoved(section, std::wstring(), std::wstring(b, e), count);
        else if (eq != e)
            AddEntryMoved(section, std::wstring(b, eq), std::wstring(eq + 1, e), count);
        else
            AddEntryMoved(section, std::wstring(b, e), std::wstring(), count);
    }

    cursor_ = 0;
    SetError(op, op, 0);
    return 1;
}

namespace {

// The size of an existing file; false when there is none (or it cannot be read).
bool ExistingSize(const std::wstring& path, uint64_t& size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    bool ok = !(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR);
    size = (static_cast<uint64_t>(high) << 32) | low;
    CloseHandle(file);
    return ok;
}

// Takes a failed append back out: the file ends where it ended before, or
// goes again when the append made it.
void CutBack(const std::wstring& path, bool existed, uint64_t size) {
    if (!existed) {
        DeleteFileW(path.c_str());
        return;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LONG high = static_cast<LONG>(size >> 32);
    if (SetFilePointer(file, static_cast<LONG>(size & 0xFFFFFFFFu), &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
        GetLastError() == NO_ERROR)
        SetEndOfFile(file);
    CloseHandle(file);
}

}  // namespace

int CObjectStore::FileFailure(const std::wstring& op, const std::wstring& api, DWORD category) {
    SetError(op, api, category, FileFailureDescription(category));
    return 0;
}

int CObjectStore::WriteTextFile(const std::wstring& op, const std::wstring& path, bool append,
                                const std::function<bool(CTextFileWriter&)>& writeLines) {
    CTextFileWriter file;
    if (append) {
        // A temporary copy would cost the whole report at every append; an
        // append never rewrites the lines already there.
        uint64_t size = 0;
        bool existed = ExistingSize(path, size);
        if (DWORD error = file.Open(path, true)) return FileFailure(op, L"CStdioFile.Open()", FileFailureCategory(error));
        bool ok = writeLines(file);
        ok = file.Close() && ok;
        if (!ok) {
            CutBack(path, existed, size);
            return FileFailure(op, L"", WriteFailureCategory(file.Error()));
        }
        SetError(op, op, 0);
        return 1;
    }

    const std::wstring temp = corvan::Format(L"%ls.%u.tmp", path.c_str(), static_cast<unsigned>(GetCurrentProcessId()));
    if (DWORD error = file.Open(temp, false)) return FileFailure(op, L"CStdioFile.Open()", FileFailureCategory(error));
    bool ok = writeLines(file);
    ok = file.Close() && ok;
    if (!ok) {
        DeleteFileW(temp.c_str());
        return FileFailure(op, L"", WriteFailureCategory(file.Error()));
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return FileFailure(op, corvan::Format(L"MoveFileEx(%ls, %ls)", temp.c_str(), path.c_str()),
                           FileFailureCategory(error));
    }
    SetError(op, op, 0);
    return 1;
}

int CObjectStore::SaveToFile(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToFile(%ls)", path.c_str());
    return WriteTextFile(op, path, false, [this](CTextFileWriter& file) {
        cursor_ = 0;
        std::wstring remembered;
        std::wstring line;
        bool ok = true;
        while (ok && cursor_ < entries_.size()) {
            const CStoreEntry& e = entries_[cursor_++];
            if (e.Section != remembered) {
                line.assign(L"[").append(e.Section).append(L"]\n");
                ok = file.Write(line);
            }
            if (ok && !e.Key.empty()) {
                line.assign(e.Key).append(L"=").append(e.Value.empty() ? L"\"\"" : e.Value).append(L"\n");
                ok = file.Write(line);
            }
            remembered = e.Section;
        }
        return ok && file.Write(L"\n\n");
    });
}

int CObjectStore::SaveToReport(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToReport(%ls)", path.c_str());
    return WriteTextFile(op, path, true, [this](CTextFileWriter& file) {
        cursor_ = 0;
        std::wstring line;
        bool ok = true;
        while (ok && cursor_ < entries_.size()) {
            line.assign(entries_[cursor_++].Value).append(L"\n");
            ok = file.Write(line);
        }
        return ok;
    });
}

void CObjectStore::Dump() {
    // Reads from the cursor without moving it: dumping must not disturb a reader.
    std::wstring out;
    std::wstring previous;
    for (size_t i = cursor_; i < entries_.size(); ++i) {
        const CStoreEntry& e = entries_[i];
        if (e.Section != previous) out += L"\n";
        if (!e.Key.empty()) out.append(e.Key).append(L"=").append(e.Value).append(L"\n");
        previous = e.Section;
    }
    out += L"\n\n";
    corvan::ConsoleOut(out);
}
