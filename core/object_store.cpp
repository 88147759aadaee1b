#include "core/object_store.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>
#include <unordered_set>

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

    // Reads the home slots of a batch of hashes ahead of their use: in a
    // table larger than the caches their misses then overlap instead of
    // each stalling in turn.
    void Touch(const uint32_t* hashes, size_t count) const {
        if (slots_.empty()) return;
        size_t mask = slots_.size() - 1;
        uint32_t sum = 0;
        for (size_t i = 0; i < count; ++i) sum += slots_[hashes[i] & mask].index;
        touched_ = sum;
    }

    // Room for `count` members without growing on the way.
    void Reserve(size_t count) {
        size_t size = slots_.empty() ? 64 : slots_.size();
        while (count * 4 > size * 3) size *= 2;
        if (size > slots_.size()) Rehash(size);
    }

    void Insert(uint32_t hash, uint32_t index) {
        if ((used_ + 1) * 4 > slots_.size() * 3) Rehash(slots_.empty() ? 64 : slots_.size() * 2);
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

    void Rehash(size_t size) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(size, Slot{0, kNone});
        size_t mask = size - 1;
        for (const Slot& s : old) {
            if (s.index == kNone) continue;
            size_t i = s.hash & mask;
            while (slots_[i].index != kNone) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
    mutable volatile uint32_t touched_ = 0;  // keeps Touch's reads from being left out
};

constexpr size_t kBatch = 32;

// Multiply-and-xor over the characters (eight bytes a step where it can),
// each text closed by a separator, then mixed.
class TextHash {
public:
    TextHash& Add(const std::wstring& text) {
        const char* bytes = reinterpret_cast<const char*>(text.data());
        size_t size = text.size() * sizeof(wchar_t);
        size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            Step(word);
        }
        for (; i < size; i += sizeof(wchar_t)) {
            wchar_t c;
            std::memcpy(&c, bytes + i, sizeof c);
            Step(static_cast<uint32_t>(c));
        }
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
    void Step(uint64_t c) {
        h_ ^= c;
        h_ *= 0x100000001b3ULL;
        h_ ^= h_ >> 32;
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

template <class Char>
bool IsBlank(Char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

const unsigned char* FindFeed(const unsigned char* p, const unsigned char* end) {
    return static_cast<const unsigned char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
}
const wchar_t* FindFeed(const wchar_t* p, const wchar_t* end) {
    return std::wmemchr(p, L'\n', static_cast<size_t>(end - p));
}

template <class Char>
size_t CountLines(const Char* p, const Char* end) {
    size_t lines = 1;
    while (const Char* feed = FindFeed(p, end)) {
        ++lines;
        p = feed + 1;
    }
    return lines;
}

// The entries of a file's text in order, each handed to add(section, key,
// value, number), all three const. Char is unsigned char for a Latin-1 file read where it
// lies (each byte the character of its code), wchar_t for decoded text.
template <class Char, class Add>
void ReadEntries(const Char* p, const Char* end, Add add, std::wstring& section, DWORD& count) {
    // Filled anew for each entry, keeping their room: add copies what it keeps.
    std::wstring key, value;
    while (p < end) {
        // A backslash takes the next character into the line, but never the
        // line feed: a line ending in a backslash ends there in a file with
        // LF line ends as in one with CR LF, whose CR the backslash takes.
        // So a line ends at the first line feed.
        const Char* q = FindFeed(p, end);
        if (!q) q = end;
        const Char* b = p;
        const Char* e = q;
        p = q < end ? q + 1 : end;

        while (b < e && IsBlank(*b)) ++b;
        while (e > b && IsBlank(e[-1])) --e;
        if (b == e || *b == ';') continue;
        if (*b == '[' && e - b >= 2 && e[-1] == ']') {
            section.assign(b + 1, e - 1);
            continue;
        }
        ++count;
        const Char* eq = std::find(b, e, Char('='));
        if (eq == b) {
            key.clear();
            value.assign(b, e);
        } else if (eq != e) {
            key.assign(b, eq);
            value.assign(eq + 1, e);
        } else {
            key.assign(b, e);
            value.clear();
        }
        add(section, key, value, count);
    }
}

// The lines of one entry as a store file holds them; `remembered` is the
// section of the entry written before it.
template <class Write>
bool WriteEntryLines(const CStoreEntry& e, std::wstring& remembered, std::wstring& line, Write write) {
    bool ok = true;
    if (e.Section != remembered) {
        line.assign(L"[").append(e.Section).append(L"]\n");
        ok = write(line);
    }
    if (ok && !e.Key.empty()) {
        line.assign(e.Key).append(1, L'=');
        if (e.Value.empty())
            line.append(L"\"\"");
        else
            line.append(e.Value);
        ok = write(line.append(1, L'\n'));
    }
    remembered = e.Section;
    return ok;
}

// Entries a store written or loaded in parts holds at a time.
constexpr size_t kPartEntries = 4096;
// Bytes kept before they go to the file, and read at a time.
constexpr size_t kPartBytes = 256 * 1024;

const char kUtf8Mark[] = "\xEF\xBB\xBF";

bool WriteAll(HANDLE handle, const char* data, size_t size, DWORD& error) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
            error = GetLastError();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

HANDLE OpenForWriting(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenForReading(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// The temporary file a store is written to as it is made, encoded as
// CTextFileWriter encodes a file written from its start: Latin-1 while every
// character fits, and else UTF-8 behind a byte-order mark. The first
// character that does not fit copies what was written so far into a second
// temporary file in UTF-8, which then takes the place of the first.
class CStoreFileStream {
public:
    explicit CStoreFileStream(const std::wstring& path)
        : Path(path), Temp(corvan::Format(L"%ls.%u.tmp", path.c_str(), static_cast<unsigned>(GetCurrentProcessId()))) {}
    ~CStoreFileStream() {
        // Left unfinished: nothing of it stays.
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            DeleteFileW(Temp.c_str());
        }
    }

    DWORD Open() {
        handle_ = OpenForWriting(Temp);
        if (handle_ != INVALID_HANDLE_VALUE) return 0;
        DWORD error = GetLastError();
        return error ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    }

    bool Put(const std::wstring& text) {
        if (Failed) return false;
        if (!utf8_) {
            // Taken as Latin-1 in one pass, and taken back if a character does not fit.
            size_t mark = buffer_.size();
            buffer_.resize(mark + 2 * text.size());
            char* out = buffer_.data() + mark;
            uint32_t any = 0;
            for (wchar_t c : text) {
                any |= static_cast<uint32_t>(c);
                if (c == L'\n') *out++ = '\r';
                *out++ = static_cast<char>(c);
            }
            buffer_.resize(static_cast<size_t>(out - buffer_.data()));
            if (any > 0xFF) {
                buffer_.resize(mark);
                if (!ToUtf8()) return false;
            }
        }
        if (utf8_) {
            for (size_t i = 0; i < text.size();) {
                uint32_t code = corvan::NextCodePoint(text, i);
                if (code == L'\n') buffer_ += '\r';
                corvan::AppendUtf8(buffer_, code);
            }
        }
        if (buffer_.size() >= kPartBytes) Flush();
        return !Failed;
    }

    // Writes what is kept and closes; false when any of it failed.
    bool Close() {
        Flush();
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return !Failed;
    }

    const std::wstring Path;
    std::wstring Temp;
    std::wstring Remembered;  // the section of the last entry written
    std::wstring Line;
    bool Failed = false;
    DWORD Error = 0;  // of the write that failed

private:
    void Flush() {
        if (!Failed && !WriteAll(handle_, buffer_.data(), buffer_.size(), Error)) Failed = true;
        buffer_.clear();
    }

    bool ToUtf8() {
        Flush();
        if (Failed) return false;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        const std::wstring second = corvan::Format(L"%ls.u8.tmp", Temp.c_str());
        HANDLE in = OpenForReading(Temp);
        HANDLE out = in == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE : OpenForWriting(second);
        bool ok = out != INVALID_HANDLE_VALUE;
        if (!ok) Error = GetLastError();
        std::string bytes(kPartBytes, '\0');
        std::string converted(kUtf8Mark);
        while (ok) {
            DWORD read = 0;
            if (!ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
                Error = GetLastError();
                ok = false;
            }
            for (DWORD i = 0; ok && i < read; ++i) corvan::AppendUtf8(converted, static_cast<unsigned char>(bytes[i]));
            ok = ok && WriteAll(out, converted.data(), converted.size(), Error);
            converted.clear();
            if (read == 0) break;
        }
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        DeleteFileW(Temp.c_str());
        if (!ok) {
            if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
            DeleteFileW(second.c_str());
            if (!Error) Error = ERROR_WRITE_FAULT;
            Failed = true;
            return false;
        }
        Temp = second;
        handle_ = out;
        utf8_ = true;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string buffer_;
    bool utf8_ = false;
};

// A store file read a part at a time: whole lines in the file's encoding,
// parsed on from where the last part ended, and the check that the entries
// read so far are those LoadFromFile would keep.
class CStoreFileSource {
public:
    explicit CStoreFileSource(const std::wstring& path) : Path(path) {}
    ~CStoreFileSource() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    // 0, or the Win32 error; Whole is set for a file in UTF-16.
    DWORD Open() {
        handle_ = OpenForReading(Path);
        if (handle_ == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            return error ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
        }
        if (DWORD error = ReadMore()) return error;
        if (pending_.compare(0, 3, kUtf8Mark) == 0) {
            utf8_ = true;
            pending_.erase(0, 3);
        } else if (pending_.compare(0, 2, "\xFF\xFE") == 0 || pending_.compare(0, 2, "\xFE\xFF") == 0) {
            Whole = true;
        }
        return 0;
    }

    // Parses the next part into add(section, key, value, number): false at
    // the end of the file, with Error set when it could not be read.
    template <class Add>
    bool ReadPart(Add add) {
        while (!end_ && pending_.find('\n') == std::string::npos)
            if ((Error = ReadMore())) return false;
        if (pending_.empty()) return false;
        // Whole lines, but never more than the file holds before a zero byte.
        size_t cut = pending_.rfind('\n');
        cut = end_ || cut == std::string::npos ? pending_.size() : cut + 1;
        size_t zero = pending_.find('\0');
        if (zero < cut) {
            cut = zero;
            MetZero = true;
        }
        if (utf8_) {
            std::wstring text = corvan::FromUtf8(pending_.substr(0, cut));
            ReadEntries(text.data(), text.data() + text.size(), add, section_, count_);
        } else {
            const auto* p = reinterpret_cast<const unsigned char*>(pending_.data());
            ReadEntries(p, p + cut, add, section_, count_);
        }
        if (MetZero) {
            pending_.clear();
            end_ = true;
        } else {
            pending_.erase(0, cut);
        }
        return true;
    }

    // Whether an entry read in parts is kept as LoadFromFile keeps it: a
    // repeat of an entry of the same run of its section is dropped. False in
    // `inOrder` when the section came before in another run: LoadFromFile
    // would compare it with entries no longer held.
    bool Keep(const std::wstring& section, const std::wstring& key, const std::wstring& value, bool& inOrder) {
        if (section != run_ || !inRun_) {
            if (!sections_.insert(TextHashOf(section)).second) {
                inOrder = false;
                return false;
            }
            run_ = section;
            inRun_ = true;
            runEntries_.clear();
        }
        std::wstring both;
        both.reserve(key.size() + value.size() + 1);
        both.append(key).append(1, L'\0').append(value);
        return runEntries_.insert(std::move(both)).second;
    }

    const std::wstring Path;
    bool Whole = false;
    bool MetZero = false;
    DWORD Error = 0;

private:
    static uint64_t TextHashOf(const std::wstring& text) {
        uint64_t h = 0xcbf29ce484222325ULL;
        for (wchar_t c : text) h = (h ^ static_cast<uint32_t>(c)) * 0x100000001b3ULL;
        return h;
    }

    DWORD ReadMore() {
        size_t at = pending_.size();
        pending_.resize(at + kPartBytes);
        DWORD read = 0;
        if (!ReadFile(handle_, pending_.data() + at, static_cast<DWORD>(kPartBytes), &read, nullptr)) {
            pending_.resize(at);
            DWORD error = GetLastError();
            return error ? error : static_cast<DWORD>(ERROR_READ_FAULT);
        }
        pending_.resize(at + read);
        if (read == 0) end_ = true;
        return 0;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string pending_;  // read, not parsed yet
    bool utf8_ = false;
    bool end_ = false;
    std::wstring section_;
    DWORD count_ = 0;
    std::wstring run_;
    bool inRun_ = false;
    std::unordered_set<uint64_t> sections_;
    std::unordered_set<std::wstring> runEntries_;
};

// Each index answers one question without scanning the entries:
// is there an identical entry, which entry is the first with this section and
// key, and which is the last with this section and key ignoring case.
// Entries are indexed when a question needs an index, not as they are added:
// a store that is only filled and saved (every backup) never pays for them,
// a loaded one builds only the index that finds duplicates, and a batch is
// indexed in one pass into a table sized for it.
struct CObjectStore::Indexes {
    EntryIndex triples;
    EntryIndex firsts;
    EntryIndex lastFolded;
    size_t triplesUpTo = 0;  // entries below these are in the indexes
    size_t pairsUpTo = 0;    // (firsts and lastFolded)
};

CObjectStore::CObjectStore() : indexes_(std::make_unique<Indexes>()) {}

CObjectStore::~CObjectStore() = default;

void CObjectStore::Append(std::wstring section, std::wstring key, std::wstring value, DWORD number) {
    entries_.push_back(CStoreEntry{std::move(section), std::move(key), std::move(value), number});
    Added();
}

CStoreEntry& CObjectStore::NewEntry(std::wstring_view section, std::wstring_view key, DWORD number) {
    CStoreEntry& entry = entries_.grow();
    entry.Section.assign(section);
    entry.Key.assign(key);
    entry.EntryNumber = number;
    return entry;
}

void CObjectStore::AppendCopy(std::wstring_view section, std::wstring_view key, std::wstring_view value,
                              DWORD number) {
    NewEntry(section, key, number).Value.assign(value);
    Added();
}

void CObjectStore::Added() {
    if (out_ && entries_.size() >= kPartEntries) FlushToFile();
}

void CObjectStore::IndexTriples() const {
    Indexes& ix = *indexes_;
    if (entries_.size() - ix.triplesUpTo > 1) ix.triples.Reserve(entries_.size());
    uint32_t hashes[kBatch];
    while (ix.triplesUpTo < entries_.size()) {
        size_t count = std::min(kBatch, entries_.size() - ix.triplesUpTo);
        for (size_t k = 0; k < count; ++k) {
            const CStoreEntry& e = entries_[ix.triplesUpTo + k];
            hashes[k] = HashTriple(e.Section, e.Key, e.Value);
        }
        ix.triples.Touch(hashes, count);
        for (size_t k = 0; k < count; ++k, ++ix.triplesUpTo)
            ix.triples.Insert(hashes[k], static_cast<uint32_t>(ix.triplesUpTo));
    }
}

void CObjectStore::IndexPairs() const {
    Indexes& ix = *indexes_;
    if (entries_.size() - ix.pairsUpTo > 1) {
        ix.firsts.Reserve(entries_.size());
        ix.lastFolded.Reserve(entries_.size());
    }
    uint32_t pairs[kBatch], folded[kBatch];
    while (ix.pairsUpTo < entries_.size()) {
        size_t count = std::min(kBatch, entries_.size() - ix.pairsUpTo);
        for (size_t k = 0; k < count; ++k) {
            const CStoreEntry& e = entries_[ix.pairsUpTo + k];
            pairs[k] = HashPair(e.Section, e.Key);
            folded[k] = HashPairFolded(e.Section, e.Key);
        }
        ix.firsts.Touch(pairs, count);
        ix.lastFolded.Touch(folded, count);
        for (size_t k = 0; k < count; ++k, ++ix.pairsUpTo) {
            auto index = static_cast<uint32_t>(ix.pairsUpTo);
            const CStoreEntry& e = entries_[index];
            auto samePair = [&](uint32_t i) { return entries_[i].Section == e.Section && entries_[i].Key == e.Key; };
            if (ix.firsts.Find(pairs[k], samePair) == kNone) ix.firsts.Insert(pairs[k], index);
            auto sameFolded = [&](uint32_t i) {
                return corvan::EqualsNoCase(entries_[i].Section, e.Section) &&
                       corvan::EqualsNoCase(entries_[i].Key, e.Key);
            };
            if (!ix.lastFolded.Replace(folded[k], sameFolded, index)) ix.lastFolded.Insert(folded[k], index);
        }
    }
}

void CObjectStore::DropRepeats(size_t from) {
    Indexes& ix = *indexes_;
    ix.triples.Reserve(entries_.size());
    size_t kept = from;
    uint32_t hashes[kBatch];
    for (size_t first = from; first < entries_.size(); first += kBatch) {
        size_t count = std::min(kBatch, entries_.size() - first);
        for (size_t k = 0; k < count; ++k) {
            const CStoreEntry& e = entries_[first + k];
            hashes[k] = HashTriple(e.Section, e.Key, e.Value);
        }
        ix.triples.Touch(hashes, count);
        for (size_t k = 0; k < count; ++k) {
            CStoreEntry& e = entries_[first + k];
            auto same = [&](uint32_t i) {
                const CStoreEntry& other = entries_[i];
                return other.Section == e.Section && other.Key == e.Key && other.Value == e.Value;
            };
            if (ix.triples.Find(hashes[k], same) != kNone) continue;
            if (kept != first + k) entries_[kept] = std::move(e);
            ix.triples.Insert(hashes[k], static_cast<uint32_t>(kept));
            ++kept;
        }
    }
    entries_.truncate(kept);
    ix.triplesUpTo = kept;
}

void CObjectStore::Reserve(size_t more) {
    entries_.reserve(entries_.size() + more);
    indexes_->triples.Reserve(entries_.size() + more);
}

int CObjectStore::AddEntryMoved(std::wstring section, std::wstring key, std::wstring value, DWORD number) {
    IndexTriples();
    auto same = [&](uint32_t i) {
        const CStoreEntry& e = entries_[i];
        return e.Section == section && e.Key == key && e.Value == value;
    };
    uint32_t hash = HashTriple(section, key, value);
    if (indexes_->triples.Find(hash, same) != kNone) return 0;
    Append(std::move(section), std::move(key), std::move(value), number);
    indexes_->triples.Insert(hash, static_cast<uint32_t>(entries_.size() - 1));
    indexes_->triplesUpTo = entries_.size();
    return 1;
}

int CObjectStore::AddEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                           DWORD number) {
    return AddEntryMoved(section, key, value, number);
}

int CObjectStore::AddToSection(std::wstring_view key, std::wstring_view value) {
    AppendCopy(currentSection_, key, value, 0);
    return 1;
}

int CObjectStore::AddStringToSection(std::wstring_view key, std::wstring_view text) {
    CStoreValue::EncodeString(text, NewEntry(currentSection_, key, 0).Value);
    Added();
    return 1;
}

int CObjectStore::AddDwordToSection(std::wstring_view key, DWORD number) {
    CStoreValue::EncodeDword(number, NewEntry(currentSection_, key, 0).Value);
    Added();
    return 1;
}

int CObjectStore::NewSection(std::wstring_view key, std::wstring_view value, DWORD number) {
    if (sectionCounter_ > 0) parentSection_ = currentSection_;
    ++sectionCounter_;
    // Written in place: a store made of a million sections numbers each one.
    wchar_t digits[12];
    wchar_t* first = std::end(digits);
    for (unsigned n = static_cast<unsigned>(sectionCounter_); first == std::end(digits) || n; n /= 10)
        *--first = static_cast<wchar_t>(L'0' + n % 10);
    currentSection_.assign(first, std::end(digits));
    AppendCopy(currentSection_, key, value, number);
    return 1;
}

void CObjectStore::SetValue(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    IndexTriples();
    IndexPairs();
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
    IndexPairs();
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
    for (size_t i = 0; i < entries_.size(); ++i) {
        const CStoreEntry& e = entries_[i];
        if (e.Section == section && e.Key == key) out.push_back(StoreTextRule(e.Value));
    }
}

void CObjectStore::GetDwordValues(const std::wstring& section, const std::wstring& key,
                                  std::vector<DWORD>& out) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        const CStoreEntry& e = entries_[i];
        if (e.Section == section && e.Key == key) out.push_back(StoreDwordRule(e.Value));
    }
}

int CObjectStore::FindEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                            DWORD& number) const {
    IndexTriples();
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
    // The entry after the one made current is read with it.
    if (in_ && cursor_ + 1 >= entries_.size()) Refill();
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

    // The entries are read first and their repeats dropped in one pass
    // after; a line holds at most one, so there is room for all at once.
    IndexTriples();
    const size_t from = entries_.size();
    auto add = [this](const std::wstring& section, const std::wstring& key, const std::wstring& value, DWORD number) {
        AppendCopy(section, key, value, number);
    };
    if (IsLatin1Text(bytes)) {
        // Read where it lies rather than first made a text four times its size.
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* end = p + bytes.size();
        const void* zero = std::memchr(p, '\0', bytes.size());
        loadMetZero_ = zero != nullptr;
        if (zero) end = static_cast<const unsigned char*>(zero);
        Reserve(CountLines(p, end));
        std::wstring section;
        DWORD count = 0;
        ReadEntries(p, end, add, section, count);
    } else {
        std::wstring text = DecodeText(bytes);
        size_t zero = text.find(L'\0');
        loadMetZero_ = zero != std::wstring::npos;
        text.resize(std::min(text.size(), zero));
        Reserve(CountLines(text.data(), text.data() + text.size()));
        std::wstring section;
        DWORD count = 0;
        ReadEntries(text.data(), text.data() + text.size(), add, section, count);
    }
    DropRepeats(from);

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

int CObjectStore::AppendTextFile(const std::wstring& op, const std::wstring& path,
                                 const std::function<bool(CTextFileWriter&)>& writeLines) {
    // A temporary copy would cost the whole report at every append; an
    // append never rewrites the lines already there.
    CTextFileWriter file;
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

int CObjectStore::SaveToFile(const std::wstring& path) {
    // Written as a store written as it is made is: the same bytes, put out a
    // part at a time, so a store of ten million entries is never held as
    // text in memory besides.
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToFile(%ls)", path.c_str());
    CStoreFileStream out(path);
    if (DWORD error = out.Open()) return FileFailure(op, L"CStdioFile.Open()", FileFailureCategory(error));
    auto write = [&out](const std::wstring& text) { return out.Put(text); };
    bool ok = true;
    for (cursor_ = 0; ok && cursor_ < entries_.size();)
        ok = WriteEntryLines(entries_[cursor_++], out.Remembered, out.Line, write);
    return PutInPlace(out, op, ok);
}

int CObjectStore::PutInPlace(CStoreFileStream& out, const std::wstring& op, bool ok) {
    ok = ok && out.Put(L"\n\n");
    ok = out.Close() && ok;
    if (!ok) {
        DeleteFileW(out.Temp.c_str());
        return FileFailure(op, L"", WriteFailureCategory(out.Error));
    }
    if (!MoveFileExW(out.Temp.c_str(), out.Path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileW(out.Temp.c_str());
        return FileFailure(op, corvan::Format(L"MoveFileEx(%ls, %ls)", out.Temp.c_str(), out.Path.c_str()),
                           FileFailureCategory(error));
    }
    SetError(op, op, 0);
    return 1;
}

int CObjectStore::BeginFile(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToFile(%ls)", path.c_str());
    out_ = std::make_unique<CStoreFileStream>(path);
    if (DWORD error = out_->Open()) {
        out_.reset();
        return FileFailure(op, L"CStdioFile.Open()", FileFailureCategory(error));
    }
    return 1;
}

void CObjectStore::FlushToFile() {
    CStoreFileStream& out = *out_;
    auto write = [&out](const std::wstring& text) { return out.Put(text); };
    for (size_t i = 0; i < entries_.size() && WriteEntryLines(entries_[i], out.Remembered, out.Line, write);) ++i;
    entries_.recycle();
    indexes_ = std::make_unique<Indexes>();
    cursor_ = 0;
}

int CObjectStore::EndFile() {
    if (!out_) return 0;
    const std::wstring path = out_->Path;
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToFile(%ls)", path.c_str());
    FlushToFile();
    std::unique_ptr<CStoreFileStream> out = std::move(out_);
    return PutInPlace(*out, op, true);
}

int CObjectStore::LoadFromFileInParts(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::LoadFromFile(%ls)", path.c_str());
    entries_.truncate(0);
    indexes_ = std::make_unique<Indexes>();
    cursor_ = 0;
    dropped_ = 0;
    loadMetZero_ = false;
    in_ = std::make_unique<CStoreFileSource>(path);
    if (DWORD error = in_->Open()) {
        in_.reset();
        SetError(op, L"", error);
        return 0;
    }
    if (in_->Whole) {
        in_.reset();
        return LoadFromFile(path);
    }
    SetError(op, op, 0);
    return 1;
}

bool CObjectStore::Refill() {
    // The current entry stays, for Previous; those before it go.
    size_t keep = cursor_ ? cursor_ - 1 : 0;
    if (keep) {
        entries_.dropFront(keep);
        dropped_ += keep;
        cursor_ -= keep;
    }
    CStoreFileSource& in = *in_;
    bool inOrder = true;
    auto add = [&](const std::wstring& section, const std::wstring& key, const std::wstring& value, DWORD number) {
        if (inOrder && in.Keep(section, key, value, inOrder)) AppendCopy(section, key, value, number);
    };
    bool more = true;
    while (more && inOrder && entries_.size() < kPartEntries) more = in.ReadPart(add);
    if (!inOrder) return LoadRestWhole();
    loadMetZero_ = in.MetZero;
    if (more) return true;
    // The whole file is read: what is left is held until Next reaches it.
    DWORD error = in.Error;
    const std::wstring path = in.Path;
    in_.reset();
    if (error) SetError(corvan::Format(L"CObjectStore::LoadFromFile(%ls)", path.c_str()), L"", error);
    return !error;
}

bool CObjectStore::LoadRestWhole() {
    const std::wstring path = in_->Path;
    const size_t at = dropped_ + cursor_;
    in_.reset();
    entries_.truncate(0);
    indexes_ = std::make_unique<Indexes>();
    dropped_ = 0;
    if (!LoadFromFile(path)) return false;
    cursor_ = std::min(at, entries_.size());
    return true;
}

int CObjectStore::SaveToReport(const std::wstring& path) {
    const std::wstring op = corvan::Format(L"CObjectStore::SaveToReport(%ls)", path.c_str());
    return AppendTextFile(op, path, [this](CTextFileWriter& file) {
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
