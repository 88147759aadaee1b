#include "platform/sim/hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <system_error>

#include "platform/sim/hostfile.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;

FILETIME ToFileTime(ULONGLONG ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME Now() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return ToFileTime(static_cast<ULONGLONG>(ticks) + kUnixEpochAsFileTime);
}

FILETIME FileWriteTime(const fs::path& file) {
    std::error_code ec;
    auto time = fs::last_write_time(file, ec);
    if (ec) return Now();
    auto system = std::chrono::file_clock::to_sys(time);
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(system.time_since_epoch()).count() / 100;
    return ToFileTime(static_cast<ULONGLONG>(ticks) + kUnixEpochAsFileTime);
}

}  // namespace

// ---- RegKey ------------------------------------------------------------------

RegKey::RegKey(std::wstring name) : name_(std::move(name)), lastWrite_(Now()) {}

void RegKey::Touch() { lastWrite_ = Now(); }

void RegKey::MarkDeleted() {
    deleted_ = true;
    for (auto& [upper, subkey] : subkeys_) subkey->MarkDeleted();
}

const std::vector<std::shared_ptr<RegKey>>& RegKey::Subkeys() const {
    if (!orderedValid_) {
        ordered_.clear();
        ordered_.reserve(subkeys_.size());
        for (const auto& [upper, subkey] : subkeys_) ordered_.push_back(subkey);
        orderedValid_ = true;
    }
    return ordered_;
}

std::shared_ptr<RegKey> RegKey::Subkey(const std::wstring& name) const {
    auto it = subkeys_.find(corvan::ToUpper(name));
    return it == subkeys_.end() ? nullptr : it->second;
}

std::shared_ptr<RegKey> RegKey::AddSubkey(const std::wstring& name, bool* created) {
    auto [it, inserted] = subkeys_.try_emplace(corvan::ToUpper(name));
    if (created) *created = inserted;
    if (!inserted) return it->second;
    it->second = std::make_shared<RegKey>(name);
    orderedValid_ = false;
    Touch();
    return it->second;
}

std::shared_ptr<RegKey> RegKey::RemoveSubkey(const std::wstring& name) {
    auto it = subkeys_.find(corvan::ToUpper(name));
    if (it == subkeys_.end()) return nullptr;
    std::shared_ptr<RegKey> key = it->second;
    subkeys_.erase(it);
    orderedValid_ = false;
    key->MarkDeleted();
    Touch();
    return key;
}

const RegValue* RegKey::Value(const std::wstring& name) const {
    auto it = valueIndex_.find(corvan::ToUpper(name));
    return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

void RegKey::SetValue(const std::wstring& name, DWORD type, std::vector<BYTE> data) {
    std::wstring upper = corvan::ToUpper(name);
    auto it = valueIndex_.find(upper);
    if (it != valueIndex_.end()) {
        values_[it->second].type = type;
        values_[it->second].data = std::move(data);
    } else {
        valueIndex_.emplace(std::move(upper), values_.size());
        values_.push_back(RegValue{name, type, std::move(data)});
    }
    Touch();
}

bool RegKey::DeleteValue(const std::wstring& name) {
    auto it = valueIndex_.find(corvan::ToUpper(name));
    if (it == valueIndex_.end()) return false;
    size_t position = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
    for (size_t i = position; i < values_.size(); ++i) valueIndex_[corvan::ToUpper(values_[i].name)] = i;
    Touch();
    return true;
}

std::vector<std::wstring> SplitKeyPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::shared_ptr<RegKey> FindKey(const std::shared_ptr<RegKey>& from, const std::wstring& path) {
    std::shared_ptr<RegKey> key = from;
    for (const auto& part : SplitKeyPath(path)) {
        key = key->Subkey(part);
        if (!key) return nullptr;
    }
    return key;
}

// ---- value data --------------------------------------------------------------

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK || type == REG_MULTI_SZ;
}

std::vector<BYTE> WideToUtf16(const std::vector<BYTE>& data) {
    std::vector<BYTE> out;
    size_t units = data.size() / sizeof(wchar_t);
    out.reserve(units * 2);
    auto put = [&](uint32_t unit) {
        out.push_back(static_cast<BYTE>(unit & 0xFF));
        out.push_back(static_cast<BYTE>(unit >> 8));
    };
    for (size_t i = 0; i < units; ++i) {
        wchar_t c;
        std::memcpy(&c, data.data() + i * sizeof(wchar_t), sizeof(wchar_t));
        auto code = static_cast<uint32_t>(c);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            code -= 0x10000;
            put(0xD800 + (code >> 10));
            put(0xDC00 + (code & 0x3FF));
        } else {
            put(code & 0xFFFF);
        }
    }
    // A trailing part of a character stays as it is, so odd sizes survive a round trip.
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(units * sizeof(wchar_t)), data.end());
    return out;
}

std::vector<BYTE> Utf16ToWide(const std::vector<BYTE>& data) {
    std::vector<BYTE> out;
    out.reserve(data.size() * sizeof(wchar_t) / 2);
    size_t units = data.size() / 2;
    auto unit = [&](size_t i) { return static_cast<uint32_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = unit(i);
        if (sizeof(wchar_t) == 4 && code >= 0xD800 && code <= 0xDBFF && i + 1 < units) {
            uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        auto c = static_cast<wchar_t>(code);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&c);
        out.insert(out.end(), bytes, bytes + sizeof(wchar_t));
    }
    if (data.size() % 2) out.push_back(data.back());
    return out;
}

std::vector<BYTE> TextBytes(const std::wstring& text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> MultiTextBytes(const std::vector<std::wstring>& texts) {
    std::wstring joined;
    for (const auto& text : texts) {
        joined += text;
        joined += L'\0';
    }
    return TextBytes(joined);  // adds the closing NUL
}

std::vector<BYTE> DwordBytes(DWORD value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(DWORD));
}

namespace {

std::wstring UnitsOf(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text;
}

}  // namespace

std::wstring BytesToText(const std::vector<BYTE>& data) {
    std::wstring text = UnitsOf(data);
    return text.substr(0, text.find(L'\0'));
}

std::vector<std::wstring> BytesToMultiText(const std::vector<BYTE>& data) {
    std::wstring units = UnitsOf(data);
    std::vector<std::wstring> texts;
    size_t start = 0;
    while (start < units.size()) {
        size_t end = units.find(L'\0', start);
        if (end == std::wstring::npos) end = units.size();
        if (end == start) break;
        texts.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    return texts;
}

// ---- reading the export format -------------------------------------------------

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

std::wstring TrimLeft(const std::wstring& text) {
    size_t begin = text.find_first_not_of(L" \t");
    return begin == std::wstring::npos ? std::wstring() : text.substr(begin);
}

std::wstring TrimRight(const std::wstring& text) {
    size_t end = text.find_last_not_of(L" \t");
    return end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
}

// A quoted text starting at text[pos] (the opening quote); pos ends after the closing one.
bool ReadQuoted(const std::wstring& text, size_t& pos, std::wstring& out) {
    out.clear();
    for (size_t i = pos + 1; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'"') {
            pos = i + 1;
            return true;
        }
        if (c == L'\\' && i + 1 < text.size()) {
            wchar_t next = text[i + 1];
            if (next == L'\\' || next == L'"') {
                out += next;
                ++i;
                continue;
            }
            if (next == L'n' || next == L'r') {
                out += next == L'n' ? L'\n' : L'\r';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return false;
}

bool ReadHexBytes(const std::wstring& text, std::vector<BYTE>& bytes) {
    bytes.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring token = TrimRight(TrimLeft(text.substr(start, end - start)));
        if (!token.empty()) {
            if (token.size() > 2) return false;
            int value = 0;
            for (wchar_t c : token) {
                int digit = HexDigit(c);
                if (digit < 0) return false;
                value = value * 16 + digit;
            }
            bytes.push_back(static_cast<BYTE>(value));
        } else if (end != text.size()) {
            return false;  // ",," has lost a byte
        }
        start = end + 1;
    }
    return true;
}

class ExportReader {
public:
    ExportReader(RegKey& root, std::wstring& error) : root_(root), error_(error) {}

    bool Read(const std::string& bytes) {
        lines_ = SplitLines(DecodeText(bytes));
        bool header = false;
        for (line_ = 0; line_ < lines_.size(); ++line_) {
            std::wstring text = TrimRight(TrimLeft(lines_[line_]));
            if (text.empty() || text[0] == L';') continue;
            if (!header) {
                if (text == L"Windows Registry Editor Version 5.00") {
                    unicode_ = true;
                } else if (text == L"REGEDIT4") {
                    unicode_ = false;
                } else {
                    return Fail(L"not a registry export (no \"Windows Registry Editor Version 5.00\" line)");
                }
                header = true;
                continue;
            }
            bool ok = text[0] == L'[' ? KeyLine(text)
                      : (text[0] == L'"' || text[0] == L'@') ? ValueLine(text)
                                                              : Fail(L"neither a key nor a value");
            if (!ok) return false;
        }
        return true;
    }

private:
    bool Fail(const std::wstring& what) {
        error_ = corvan::Format(L"line %u: %ls", static_cast<unsigned>(line_ + 1), what.c_str());
        return false;
    }

    bool KeyLine(const std::wstring& text) {
        size_t close = text.rfind(L']');
        if (close == std::wstring::npos) return Fail(L"key line without \"]\"");
        std::wstring path = text.substr(1, close - 1);
        bool remove = !path.empty() && path[0] == L'-';
        if (remove) path.erase(0, 1);
        size_t slash = path.find(L'\\');
        std::wstring rootName = path.substr(0, slash);
        std::wstring rest = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
        current_ = nullptr;
        skipping_ = true;
        if (!corvan::EqualsNoCase(rootName, L"HKEY_LOCAL_MACHINE") && !corvan::EqualsNoCase(rootName, L"HKLM"))
            return true;  // another hive: not part of this machine's HKLM
        std::vector<std::wstring> parts = SplitKeyPath(rest);
        if (parts.size() > kMaxKeyLevels)
            return Fail(corvan::Format(L"key deeper than %u levels below HKEY_LOCAL_MACHINE",
                                       static_cast<unsigned>(kMaxKeyLevels)));
        if (remove) {
            if (parts.empty()) return true;
            RegKey* parent = &root_;
            for (size_t i = 0; parent && i + 1 < parts.size(); ++i) parent = parent->Subkey(parts[i]).get();
            if (parent) parent->RemoveSubkey(parts.back());
            return true;
        }
        RegKey* key = &root_;
        for (const auto& part : parts) key = key->AddSubkey(part).get();
        current_ = key;
        skipping_ = false;
        return true;
    }

    bool ValueLine(const std::wstring& text) {
        std::wstring name;
        size_t pos = 1;
        if (text[0] == L'"') {
            pos = 0;
            if (!ReadQuoted(text, pos, name)) return Fail(L"value name without closing quote");
        }
        while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
        if (pos >= text.size() || text[pos] != L'=') return Fail(L"value without \"=\"");
        std::wstring data = TrimLeft(text.substr(pos + 1));

        DWORD type = REG_SZ;
        std::vector<BYTE> bytes;
        bool remove = false;
        if (!data.empty() && data[0] == L'"') {
            size_t end = 0;
            std::wstring value;
            if (!ReadQuoted(data, end, value)) return Fail(L"text without closing quote");
            if (!TrimLeft(data.substr(end)).empty()) return Fail(L"characters after the closing quote");
            bytes = TextBytes(value);
        } else if (data == L"-") {
            remove = true;
        } else if (corvan::StartsWithNoCase(data, L"dword:")) {
            std::wstring digits = data.substr(6);
            if (digits.empty() || digits.size() > 8) return Fail(L"dword: needs one to eight hex digits");
            DWORD value = 0;
            for (wchar_t c : digits) {
                int digit = HexDigit(c);
                if (digit < 0) return Fail(L"dword: needs one to eight hex digits");
                value = value * 16 + static_cast<DWORD>(digit);
            }
            type = REG_DWORD;
            bytes = DwordBytes(value);
        } else if (corvan::StartsWithNoCase(data, L"hex")) {
            if (!HexValue(data, type, bytes)) return false;
        } else {
            return Fail(L"unknown kind of value data");
        }
        if (skipping_) return true;
        if (!current_) return Fail(L"value before the first key line");
        if (remove)
            current_->DeleteValue(name);
        else
            current_->SetValue(name, type, std::move(bytes));
        return true;
    }

    // hex:..., hex(N):..., continued over lines that end in a backslash.
    bool HexValue(const std::wstring& data, DWORD& type, std::vector<BYTE>& bytes) {
        size_t colon = data.find(L':');
        if (colon == std::wstring::npos) return Fail(L"hex value without \":\"");
        std::wstring kind = data.substr(3, colon - 3);
        type = REG_BINARY;
        if (!kind.empty()) {
            if (kind.size() < 3 || kind.front() != L'(' || kind.back() != L')')
                return Fail(L"hex value kind is not \"hex(N)\"");
            DWORD value = 0;
            for (size_t i = 1; i + 1 < kind.size(); ++i) {
                int digit = HexDigit(kind[i]);
                if (digit < 0 || value > 0x0FFFFFFF) return Fail(L"hex(N) needs a hex type number");
                value = value * 16 + static_cast<DWORD>(digit);
            }
            type = value;
        }
        std::wstring list = data.substr(colon + 1);
        for (;;) {
            list = TrimRight(list);
            if (list.empty() || list.back() != L'\\') break;
            list.pop_back();
            if (line_ + 1 >= lines_.size()) break;
            list += TrimLeft(lines_[++line_]);
        }
        std::vector<BYTE> raw;
        if (!ReadHexBytes(list, raw)) return Fail(L"hex bytes must be two hex digits separated by commas");
        if (IsTextType(type)) {
            if (unicode_) {
                bytes = Utf16ToWide(raw);
            } else {
                std::wstring text(raw.begin(), raw.end());  // 8-bit text, read as Latin-1
                bytes = TextBytes(text);
                bytes.resize(text.size() * sizeof(wchar_t));
            }
        } else {
            bytes = std::move(raw);
        }
        return true;
    }

    RegKey& root_;
    std::wstring& error_;
    std::vector<std::wstring> lines_;
    size_t line_ = 0;
    bool unicode_ = true;
    RegKey* current_ = nullptr;
    bool skipping_ = false;
};

// ---- writing it ----------------------------------------------------------------

void AppendEscaped(std::string& out, const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') escaped += L'\\';
        if (c == L'\n') {
            escaped += L"\\n";
            continue;
        }
        if (c == L'\r') {
            escaped += L"\\r";
            continue;
        }
        escaped += c;
    }
    out += corvan::ToUtf8(escaped);
}

// A REG_SZ that reads back unchanged from the quoted form: whole characters,
// one NUL at the end and none before, no line breaks.
bool QuotableText(const RegValue& value, std::wstring& text) {
    if (value.type != REG_SZ || value.data.size() % sizeof(wchar_t) || value.data.empty()) return false;
    text = UnitsOf(value.data);
    if (text.back() != L'\0') return false;
    text.pop_back();
    return text.find_first_of(std::wstring(L"\n\r\0", 3)) == std::wstring::npos;
}

void AppendValue(std::string& out, const RegValue& value) {
    static const char kHex[] = "0123456789abcdef";
    size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        out += '"';
        AppendEscaped(out, value.name);
        out += '"';
    }
    out += '=';
    std::wstring text;
    if (QuotableText(value, text)) {
        out += '"';
        AppendEscaped(out, text);
        out += "\"\n";
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, value.data.data(), sizeof(number));
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(number >> shift) & 0xF];
        out += '\n';
        return;
    }
    if (value.type == REG_BINARY) {
        out += "hex:";
    } else {
        char kind[32];
        std::snprintf(kind, sizeof(kind), "hex(%x):", value.type);
        out += kind;
    }
    std::vector<BYTE> converted;
    const std::vector<BYTE>& bytes = IsTextType(value.type) ? (converted = WideToUtf16(value.data)) : value.data;
    // Lines of at most 80 columns, continued with a backslash, as regedit writes them.
    size_t column = out.size() - lineStart;
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
        column += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    out += '\n';
}

void AppendKey(std::string& out, const RegKey& key, std::string& path) {
    for (const auto& subkey : key.Subkeys()) {
        size_t length = path.size();
        path += '\\';
        path += corvan::ToUtf8(subkey->Name());
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& value : subkey->Values()) AppendValue(out, value);
        out += '\n';
        AppendKey(out, *subkey, path);
        path.resize(length);
    }
}

}  // namespace

bool ParseRegExport(const std::string& bytes, RegKey& root, std::wstring& error) {
    ExportReader reader(root, error);
    return reader.Read(bytes);
}

std::string WriteRegExport(const RegKey& root) {
    std::string out = "Windows Registry Editor Version 5.00\n\n";
    std::string path = "HKEY_LOCAL_MACHINE";
    if (!root.Values().empty()) {
        out += "[HKEY_LOCAL_MACHINE]\n";
        for (const auto& value : root.Values()) AppendValue(out, value);
        out += '\n';
    }
    AppendKey(out, root, path);
    return out;
}

// ---- the hives of the world --------------------------------------------------------

namespace {

struct HiveCache {
    std::map<std::string, std::shared_ptr<Hive>> hives;  // by file
    std::map<std::string, std::wstring> broken;          // files that did not parse, and why
};

HiveCache& Cache() {
    static auto* cache = new HiveCache;  // never destroyed: the flush at exit needs it
    return *cache;
}

void SetLoadedTimes(RegKey& key, FILETIME time) {
    key.SetLastWrite(time);
    for (const auto& subkey : key.Subkeys()) SetLoadedTimes(*subkey, time);
}

}  // namespace

std::shared_ptr<Hive> MachineHive(const std::wstring& machine, DWORD& error) {
    fs::path file = MachineDir(machine) / "HKLM.reg";
    HiveCache& cache = Cache();
    auto it = cache.hives.find(file.string());
    if (it != cache.hives.end()) return it->second;
    if (cache.broken.count(file.string())) {
        error = ERROR_BADDB;
        return nullptr;
    }
    auto hive = std::make_shared<Hive>();
    hive->file = file;
    std::string bytes;
    if (ReadHostFile(file, bytes)) {
        std::wstring why;
        if (!ParseRegExport(bytes, *hive->root, why)) {
            corvan::ConsoleErr(HostName(file) + L": " + why + L"\n");
            cache.broken[file.string()] = why;
            error = ERROR_BADDB;
            return nullptr;
        }
        SetLoadedTimes(*hive->root, FileWriteTime(file));
    }
    cache.hives[file.string()] = hive;
    return hive;
}

void FlushHives() {
    for (auto& [name, hive] : Cache().hives) {
        if (!hive->dirty) continue;
        std::error_code ec;
        fs::create_directories(hive->file.parent_path(), ec);
        if (WriteHostFileAtomic(hive->file, WriteRegExport(*hive->root)))
            hive->dirty = false;
        else
            corvan::ConsoleErr(L"cannot write " + HostName(hive->file) + L"\n");
    }
}

void ForgetHives() {
    HiveCache& cache = Cache();
    for (auto& [name, hive] : cache.hives) hive->detached = true;
    cache.hives.clear();
    cache.broken.clear();
}

// ---- direct access -------------------------------------------------------------------

namespace {

DWORD OpenHive(const std::wstring& machine, std::shared_ptr<Hive>& hive) {
    DWORD error = 0;
    hive = MachineHive(machine, error);
    return hive ? 0 : error;
}

}  // namespace

DWORD RegistryCreateKey(const std::wstring& machine, const std::wstring& path) {
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::vector<std::wstring> parts = SplitKeyPath(path);
    if (parts.size() > kMaxKeyLevels) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> key = hive->root;
    for (const auto& part : parts) {
        bool created = false;
        key = key->AddSubkey(part, &created);
        if (created) hive->dirty = true;
    }
    return 0;
}

bool RegistryKeyExists(const std::wstring& machine, const std::wstring& path) {
    std::shared_ptr<Hive> hive;
    return OpenHive(machine, hive) == 0 && FindKey(hive->root, path) != nullptr;
}

DWORD RegistrySetValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name,
                       DWORD type, const std::vector<BYTE>& data) {
    if (DWORD error = RegistryCreateKey(machine, path)) return error;
    std::shared_ptr<Hive> hive;
    OpenHive(machine, hive);
    FindKey(hive->root, path)->SetValue(name, type, data);
    hive->dirty = true;
    return 0;
}

DWORD RegistryGetValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name,
                       DWORD& type, std::vector<BYTE>& data) {
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::shared_ptr<RegKey> key = FindKey(hive->root, path);
    const RegValue* value = key ? key->Value(name) : nullptr;
    if (!value) return ERROR_FILE_NOT_FOUND;
    type = value->type;
    data = value->data;
    return 0;
}

DWORD RegistryDeleteValue(const std::wstring& machine, const std::wstring& path, const std::wstring& name) {
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::shared_ptr<RegKey> key = FindKey(hive->root, path);
    if (!key || !key->DeleteValue(name)) return ERROR_FILE_NOT_FOUND;
    hive->dirty = true;
    return 0;
}

DWORD RegistryDeleteTree(const std::wstring& machine, const std::wstring& path) {
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::vector<std::wstring> parts = SplitKeyPath(path);
    if (parts.empty()) return ERROR_ACCESS_DENIED;
    std::shared_ptr<RegKey> parent = hive->root;
    for (size_t i = 0; parent && i + 1 < parts.size(); ++i) parent = parent->Subkey(parts[i]);
    if (!parent || !parent->RemoveSubkey(parts.back())) return ERROR_FILE_NOT_FOUND;
    hive->dirty = true;
    return 0;
}

DWORD RegistrySubkeyNames(const std::wstring& machine, const std::wstring& path,
                          std::vector<std::wstring>& names) {
    names.clear();
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::shared_ptr<RegKey> key = FindKey(hive->root, path);
    if (!key) return ERROR_FILE_NOT_FOUND;
    for (const auto& subkey : key->Subkeys()) names.push_back(subkey->Name());
    return 0;
}

DWORD RegistryValueNames(const std::wstring& machine, const std::wstring& path,
                         std::vector<std::wstring>& names) {
    names.clear();
    std::shared_ptr<Hive> hive;
    if (DWORD error = OpenHive(machine, hive)) return error;
    std::shared_ptr<RegKey> key = FindKey(hive->root, path);
    if (!key) return ERROR_FILE_NOT_FOUND;
    for (const auto& value : key->Values()) names.push_back(value.name);
    return 0;
}

}  // namespace sim
