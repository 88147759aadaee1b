// Attributes, times and security of files: the calls, and the extended
// attributes that keep what the host lacks (format in file_meta.h).
#include "platform/sim/file_meta.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/sim/fileio.h"
#include "platform/sim/folder_watch.h"
#include "platform/sim/paths.h"
#include "platform/sim/sid_text.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

const char kAttributesName[] = "user.corvan.attributes";
const char kCreatedName[] = "user.corvan.created";
const char kSecurityName[] = "user.corvan.security";

constexpr int64_t kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970

bool ReadXattr(const fs::path& path, const char* name, std::string& value) {
    char small[64];
    ssize_t n = ::lgetxattr(path.c_str(), name, small, sizeof small);
    if (n >= 0) {
        value.assign(small, static_cast<size_t>(n));
        return true;
    }
    if (errno != ERANGE) return false;
    n = ::lgetxattr(path.c_str(), name, nullptr, 0);
    if (n < 0) return false;
    value.resize(static_cast<size_t>(n));
    n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    if (n < 0) return false;
    value.resize(static_cast<size_t>(n));
    return true;
}

bool ReadXattr(int fd, const char* name, std::string& value) {
    char small[64];
    ssize_t n = ::fgetxattr(fd, name, small, sizeof small);
    if (n >= 0) {
        value.assign(small, static_cast<size_t>(n));
        return true;
    }
    if (errno != ERANGE) return false;
    n = ::fgetxattr(fd, name, nullptr, 0);
    if (n < 0) return false;
    value.resize(static_cast<size_t>(n));
    n = ::fgetxattr(fd, name, value.data(), value.size());
    if (n < 0) return false;
    value.resize(static_cast<size_t>(n));
    return true;
}

bool ParseHex(const std::string& text, uint64_t& number) {
    if (text.empty() || text.size() > 16) return false;
    char* end = nullptr;
    number = std::strtoull(text.c_str(), &end, 16);
    return end && *end == '\0';
}

bool ReadHex(const fs::path& path, const char* name, uint64_t& number) {
    std::string text;
    return ReadXattr(path, name, text) && ParseHex(text, number);
}

std::string Hex(uint64_t number, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llx", digits, static_cast<unsigned long long>(number));
    return buffer;
}

DWORD ErrnoError(int err) {
    switch (err) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// ---- security -------------------------------------------------------------

using Ace = std::vector<BYTE>;  // one entry, header included

struct Security {
    std::vector<BYTE> owner;
    std::vector<BYTE> group;
    bool daclPresent = false;  // with no list: a null DACL, open to everybody
    bool daclNull = false;
    bool daclProtected = false;
    std::vector<Ace> aces;
};

std::vector<BYTE> SidBytes(const wchar_t* text) {
    std::vector<BYTE> sid;
    ParseSidText(text, sid);
    return sid;
}

Ace MakeAce(BYTE type, BYTE flags, DWORD mask, const std::vector<BYTE>& sid) {
    Ace ace(8 + sid.size());
    ACE_HEADER header{type, flags, static_cast<WORD>(ace.size())};
    std::memcpy(ace.data(), &header, sizeof header);
    std::memcpy(ace.data() + 4, &mask, sizeof mask);
    std::memcpy(ace.data() + 8, sid.data(), sid.size());
    return ace;
}

// What a drive's root grants when nobody has set its list.
Security DriveDefault() {
    Security s;
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    s.daclPresent = true;
    s.aces.push_back(MakeAce(ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001F01FF, SidBytes(L"S-1-5-32-544")));
    s.aces.push_back(MakeAce(ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001F01FF, SidBytes(L"S-1-5-18")));
    s.aces.push_back(MakeAce(ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001200A9, SidBytes(L"S-1-5-32-545")));
    return s;
}

std::vector<BYTE> CopySidAt(PSID sid) {
    if (!sid) return {};
    DWORD size = GetLengthSid(sid);
    const BYTE* p = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(p, p + size);
}

// Takes a descriptor apart; only the entries not marked inherited are kept
// when `explicitOnly`.
bool ParseSecurity(PSECURITY_DESCRIPTOR sd, bool explicitOnly, Security& out) {
    if (!IsValidSecurityDescriptor(sd)) return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr, group = nullptr;
    if (!GetSecurityDescriptorControl(sd, &control, &revision) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !GetSecurityDescriptorGroup(sd, &group, &defaulted))
        return false;
    out = Security();
    out.owner = CopySidAt(owner);
    out.group = CopySidAt(group);
    out.daclPresent = present != FALSE;
    out.daclNull = present && !dacl;
    out.daclProtected = (control & SE_DACL_PROTECTED) != 0;
    if (dacl) {
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!GetAce(dacl, i, &entry)) return false;
            ACE_HEADER header;
            std::memcpy(&header, entry, sizeof header);
            if (explicitOnly && (header.AceFlags & INHERITED_ACE)) continue;
            const BYTE* p = static_cast<const BYTE*>(entry);
            out.aces.emplace_back(p, p + header.AceSize);
        }
    }
    return true;
}

bool ParseOwn(const std::string& bytes, Security& own) {
    if (bytes.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
    std::vector<BYTE> copy(bytes.begin(), bytes.end());
    return ParseSecurity(copy.data(), true, own);
}

bool ReadOwnSecurity(const fs::path& path, Security& own) {
    std::string bytes;
    return ReadXattr(path, kSecurityName, bytes) && ParseOwn(bytes, own);
}

bool ReadOwnSecurity(int fd, Security& own) {
    std::string bytes;
    return ReadXattr(fd, kSecurityName, bytes) && ParseOwn(bytes, own);
}

std::vector<BYTE> BuildAcl(const std::vector<Ace>& aces) {
    size_t size = sizeof(ACL);
    BYTE revision = ACL_REVISION;
    for (const Ace& ace : aces) {
        size += ace.size();
        if (ace[0] >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && ace[0] <= SYSTEM_ALARM_OBJECT_ACE_TYPE)
            revision = ACL_REVISION_DS;
    }
    std::vector<BYTE> acl(size);
    ACL header{revision, 0, static_cast<WORD>(size), static_cast<WORD>(aces.size()), 0};
    std::memcpy(acl.data(), &header, sizeof header);
    size_t at = sizeof(ACL);
    for (const Ace& ace : aces) {
        std::memcpy(acl.data() + at, ace.data(), ace.size());
        at += ace.size();
    }
    return acl;
}

std::vector<BYTE> SelfRelative(Security s, WORD extraControl) {
    SECURITY_DESCRIPTOR absolute;
    InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
    std::vector<BYTE> acl;
    if (s.daclPresent) {
        if (!s.daclNull) acl = BuildAcl(s.aces);
        SetSecurityDescriptorDacl(&absolute, TRUE, acl.empty() ? nullptr : reinterpret_cast<PACL>(acl.data()), FALSE);
    }
    absolute.Owner = s.owner.empty() ? nullptr : s.owner.data();
    absolute.Group = s.group.empty() ? nullptr : s.group.data();
    absolute.Control |= extraControl;
    if (s.daclProtected) absolute.Control |= SE_DACL_PROTECTED;
    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (!MakeSelfRelativeSD(&absolute, bytes.data(), &size)) bytes.clear();
    return bytes;
}

// The entries a child takes over from its folder's list.
std::vector<Ace> Inherit(const std::vector<Ace>& parent, bool childFolder) {
    std::vector<Ace> out;
    for (const Ace& ace : parent) {
        BYTE flags = ace[1];
        BYTE audit = flags & (SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG);
        BYTE taken;
        if (!childFolder) {
            if (!(flags & OBJECT_INHERIT_ACE)) continue;
            taken = 0;
        } else if (flags & CONTAINER_INHERIT_ACE) {
            taken = (flags & NO_PROPAGATE_INHERIT_ACE) ? 0 : flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        } else if ((flags & OBJECT_INHERIT_ACE) && !(flags & NO_PROPAGATE_INHERIT_ACE)) {
            // Passed on to the files below, without applying to the folder.
            taken = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
        } else {
            continue;
        }
        Ace copy = ace;
        copy[1] = static_cast<BYTE>(taken | audit | INHERITED_ACE);
        out.push_back(std::move(copy));
    }
    return out;
}

// What an entry with its own security (if hasOwn) has below a folder
// whose effective security is above.
Security Below(const Security& above, const Security& own, bool hasOwn, bool isFolder) {
    Security below;
    below.owner = own.owner;
    below.group = own.group;
    below.daclPresent = true;
    if (hasOwn && own.daclNull) {
        below.daclNull = true;
    } else {
        below.daclProtected = hasOwn && own.daclProtected;
        if (hasOwn) below.aces = own.aces;
        if (!below.daclProtected && !above.daclNull) {
            std::vector<Ace> inherited = Inherit(above.aces, isFolder);
            below.aces.insert(below.aces.end(), inherited.begin(), inherited.end());
        }
    }
    return below;
}

// The object's own entries followed by what it inherits: from its volume's
// root down to the object, each folder opened from the one above it, so a
// deep path costs one step per level rather than a walk of the whole path.
// Owner and group are the object's own, empty when it has none.
Security Walk(const fs::path& root, const fs::path& path, bool folder) {
    std::vector<fs::path> names;
    if (path != root)
        for (const auto& name : path.lexically_relative(root)) names.push_back(name);

    // A shallow path is read name by name; a deep one folder by folder.
    constexpr size_t kWalkedByPath = 16;
    int fd = names.size() <= kWalkedByPath ? -1 : ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Security own;
    bool hasOwn = fd >= 0 ? ReadOwnSecurity(fd, own) : ReadOwnSecurity(root, own);
    // The root inherits nothing; unset, it has the drive's default list.
    Security result = hasOwn && own.daclPresent ? own : DriveDefault();
    if (hasOwn) {
        result.owner = own.owner;
        result.group = own.group;
    }
    fs::path at = root;
    for (size_t i = 0; i < names.size(); ++i) {
        at /= names[i];
        bool isFolder = i + 1 == names.size() ? folder : true;
        int next = fd >= 0 ? ::openat(fd, names[i].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
        own = Security();
        hasOwn = next >= 0 ? ReadOwnSecurity(next, own) : ReadOwnSecurity(at, own);
        if (fd >= 0) ::close(fd);
        fd = next;
        result = Below(result, own, hasOwn, isFolder);
    }
    if (fd >= 0) ::close(fd);
    return result;
}

// Folders' effective security, kept while none of them nor any folder above
// them changed: a tree's walk asks for every file's, which then costs the
// file's own descriptor instead of a read per level.
class KeptFolders {
public:
    const Security* Find(const fs::path& root, const fs::path& folder) {
        // A watch costs the host tens of milliseconds when the process ends:
        // worth it for a tree's walk, not for a few questions.
        constexpr unsigned kAskedBeforeKept = 64;
        if (asked_ < kAskedBeforeKept) {
            ++asked_;
            return nullptr;
        }
        std::vector<std::string> changed;
        if (watch_.Changes(changed)) kept_.clear();
        for (const auto& gone : changed)
            std::erase_if(kept_, [&](const auto& entry) { return AtOrBelow(entry.first, gone); });
        auto it = kept_.find(folder.native());
        if (it != kept_.end()) return &it->second;
        // A tree of more folders than this is looked at again from the start.
        constexpr size_t kMostWatched = 8192;
        if (watch_.Size() >= kMostWatched) {
            watch_.Clear();
            kept_.clear();
        }
        // Watched before it is read, so no change falls between the two.
        if (!watch_.WatchDown(root.native(), folder.native())) return nullptr;
        return &kept_.emplace(folder.native(), Walk(root, folder, true)).first->second;
    }

private:
    unsigned asked_ = 0;
    FolderWatch watch_;
    std::unordered_map<std::string, Security> kept_;
};

Security Effective(const fs::path& path, bool folder) {
    fs::path root = VolumeRootOf(path);
    Security result;
    static KeptFolders kept;
    const Security* above = nullptr;
    // A path too long for the host is read folder by folder, as the walk does.
    if (root != "/" && path != root && path.native().size() < PATH_MAX) above = kept.Find(root, path.parent_path());
    if (above) {
        Security own;
        bool hasOwn = ReadOwnSecurity(path, own);
        result = Below(*above, own, hasOwn, folder);
    } else {
        result = Walk(root, path, folder);
    }
    if (result.owner.empty()) result.owner = SidBytes(L"S-1-5-32-544");
    if (result.group.empty()) result.group = SidBytes(L"S-1-5-18");
    return result;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Resolves a path to an existing entry; 0 or the error a missing one gives.
// An entry there under its exact name is found by the one status read the
// caller needs anyway: a tree's walk asks this of every file.
DWORD ResolveExisting(LPCWSTR name, fs::path& path, HostEntry& entry, bool ours = true) {
    if (!name || !*name) return name ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER;
    std::string exact;
    bool tried = ExactHostPath(name, exact) == ERROR_SUCCESS;
    if (tried && ReadHostEntry(exact, entry, ours)) {
        path = std::move(exact);
        return 0;
    }
    bool missing = tried && errno == ENOENT;
    HostPath host;
    if (DWORD error = ResolvePath(name, host, missing ? &exact : nullptr)) return error;
    path = host.path;
    if (host.absent) return ERROR_FILE_NOT_FOUND;
    if (ReadHostEntry(host.path, entry, ours)) return 0;
    std::error_code ec;
    return fs::is_directory(host.path.parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool ReadHostEntry(const fs::path& path, HostEntry& entry, bool ours) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    entry = HostEntry();
    struct stat& st = entry.st;
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_size = static_cast<off_t>(sx.stx_size);
    auto time = [](const struct statx_timestamp& t) {
        return timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)};
    };
    st.st_atim = time(sx.stx_atime);
    st.st_mtim = time(sx.stx_mtime);
    st.st_ctim = time(sx.stx_ctime);
    if (sx.stx_mask & STATX_BTIME) {
        entry.born = time(sx.stx_btime);
        entry.hasBirth = true;
    }
    entry.link = S_ISLNK(st.st_mode);
    if (entry.link) {
        struct stat target;
        entry.linkToFolder = ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        return true;
    }
    if (!ours) return true;
    // Most files carry none of ours: one call says so, instead of one per attribute.
    char names[512];
    ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
    if (n < 0) {
        entry.hasAttributes = entry.hasCreated = errno == ERANGE;
        return true;
    }
    for (ssize_t at = 0; at < n;) {
        const char* name = names + at;
        if (std::strcmp(name, kAttributesName) == 0) entry.hasAttributes = true;
        if (std::strcmp(name, kCreatedName) == 0) entry.hasCreated = true;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
    }
    return true;
}

FILETIME ToFileTime(const struct timespec& ts) {
    int64_t ticks = (static_cast<int64_t>(ts.tv_sec) + kEpochDifference) * 10000000LL + ts.tv_nsec / 100;
    if (ticks < 0) ticks = 0;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return ft;
}

uint64_t ReportedSize(const HostEntry& entry) {
    if (entry.link || S_ISDIR(entry.st.st_mode)) return 0;
    return static_cast<uint64_t>(entry.st.st_size);
}

DWORD AttributesOf(const fs::path& path, const HostEntry& entry) {
    if (entry.link) {
        return FILE_ATTRIBUTE_REPARSE_POINT | (entry.linkToFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    }
    constexpr DWORD kStored = kSettableAttributes & ~FILE_ATTRIBUTE_NORMAL;
    bool folder = S_ISDIR(entry.st.st_mode);
    uint64_t stored = folder ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    if (entry.hasAttributes) ReadHex(path, kAttributesName, stored);
    DWORD attributes = static_cast<DWORD>(stored) & kStored;
    if (folder) return attributes | FILE_ATTRIBUTE_DIRECTORY;
    attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!(entry.st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME CreationTimeOf(const fs::path& path, const HostEntry& entry) {
    uint64_t ticks = 0;
    if (entry.hasCreated && ReadHex(path, kCreatedName, ticks)) {
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
        ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        return ft;
    }
    if (entry.hasBirth) return ToFileTime(entry.born);
    // No birth time: the older of the change and write times is the nearest.
    const struct stat& st = entry.st;
    bool changeFirst = st.st_ctim.tv_sec < st.st_mtim.tv_sec ||
                       (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec < st.st_mtim.tv_nsec);
    return ToFileTime(changeFirst ? st.st_ctim : st.st_mtim);
}

DWORD WriteAttributes(const fs::path& path, const HostEntry& entry, DWORD attributes) {
    // Links keep no attributes of their own here.
    if (entry.link) return 0;
    bool folder = S_ISDIR(entry.st.st_mode);
    DWORD stored = attributes & kSettableAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    if (!folder) {
        // A read-only file is one the host will not write either.
        mode_t mode = entry.st.st_mode & 07777;
        mode_t wanted = (stored & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
        if (wanted != mode && ::chmod(path.c_str(), wanted) != 0) return ErrnoError(errno);
        stored &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    }
    // The word every new entry has is kept as no word at all, so that most
    // entries carry one attribute fewer to read.
    if (stored == (folder ? 0u : static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE))) {
        if (::lremovexattr(path.c_str(), kAttributesName) != 0 && errno != ENODATA && errno != ENOTSUP)
            return ErrnoError(errno);
        return 0;
    }
    std::string text = Hex(stored, 8);
    if (::lsetxattr(path.c_str(), kAttributesName, text.data(), text.size(), 0) != 0) return ErrnoError(errno);
    return 0;
}

bool CopyAttributeWord(const fs::path& from, int to) {
    std::string text;
    uint64_t word = FILE_ATTRIBUTE_ARCHIVE;
    if (!ReadXattr(from, kAttributesName, text)) return errno == ENODATA || errno == ENOTSUP;
    if (ParseHex(text, word) && word == FILE_ATTRIBUTE_ARCHIVE) return true;
    return ::fsetxattr(to, kAttributesName, text.data(), text.size(), 0) == 0;
}

bool WriteCreationTime(int fd, const FILETIME& time) {
    uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    std::string text = Hex(ticks, 16);
    return ::fsetxattr(fd, kCreatedName, text.data(), text.size(), 0) == 0;
}

fs::path VolumeRootOf(const fs::path& path) {
    // <world>/<machine>/drives/<letter>, found in the text: a walk up the
    // path would cost a parse of it per level.
    std::string world = WorldRoot().native();
    while (world.size() > 1 && world.back() == '/') world.pop_back();
    const std::string& text = path.native();
    if (text.size() > world.size() && text.compare(0, world.size(), world) == 0 && text[world.size()] == '/') {
        size_t machineEnd = text.find('/', world.size() + 1);
        if (machineEnd != std::string::npos && text.compare(machineEnd, 8, "/drives/") == 0 &&
            text.size() > machineEnd + 8)
            return fs::path(text.substr(0, text.find('/', machineEnd + 8)));
    }
    return fs::path("/");
}

std::vector<BYTE> EffectiveSecurity(const fs::path& path, bool folder, SECURITY_INFORMATION parts) {
    Security s = Effective(path, folder);
    if (!(parts & OWNER_SECURITY_INFORMATION)) s.owner.clear();
    if (!(parts & GROUP_SECURITY_INFORMATION)) s.group.clear();
    WORD extra = 0;
    if (parts & DACL_SECURITY_INFORMATION) {
        if (!s.daclProtected) extra |= SE_DACL_AUTO_INHERITED;
    } else {
        Security partsOnly;
        partsOnly.owner = std::move(s.owner);
        partsOnly.group = std::move(s.group);
        s = std::move(partsOnly);
    }
    return SelfRelative(std::move(s), extra);
}

}  // namespace sim

using sim::HostEntry;
using sim::HostPath;

BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) return sim::Fail(ERROR_INVALID_PARAMETER);
    if (lpFileName) {
        if (DWORD fault = sim::InjectedFault("GetFileAttributesExW", sim::PathMachine(lpFileName), {lpFileName}))
            return sim::Fail(fault);
    }
    fs::path host;
    HostEntry entry;
    if (DWORD error = sim::ResolveExisting(lpFileName, host, entry)) return sim::Fail(error);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    data.dwFileAttributes = sim::AttributesOf(host, entry);
    data.ftCreationTime = sim::CreationTimeOf(host, entry);
    data.ftLastAccessTime = sim::ToFileTime(entry.st.st_atim);
    data.ftLastWriteTime = sim::ToFileTime(entry.st.st_mtim);
    uint64_t size = sim::ReportedSize(entry);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::memcpy(lpFileInformation, &data, sizeof data);
    return TRUE;
}

BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    if (lpFileName) {
        if (DWORD fault = sim::InjectedFault("SetFileAttributesW", sim::PathMachine(lpFileName), {lpFileName}))
            return sim::Fail(fault);
    }
    fs::path host;
    HostEntry entry;
    // The new word replaces whatever is stored: which of ours the entry has does not matter.
    if (DWORD error = sim::ResolveExisting(lpFileName, host, entry, false)) return sim::Fail(error);
    if (DWORD error = sim::WriteAttributes(host, entry, dwFileAttributes)) return sim::Fail(error);
    return TRUE;
}

namespace {

bool Unchanged(const FILETIME* time) {
    return !time || (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) ||
           (time->dwLowDateTime == 0xFFFFFFFFu && time->dwHighDateTime == 0xFFFFFFFFu);
}

struct timespec ToTimespec(const FILETIME& time) {
    int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    int64_t seconds = ticks / 10000000LL - sim::kEpochDifference;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((ticks % 10000000LL) * 100);
    return ts;
}

}  // namespace

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                        const FILETIME* lpLastWriteTime) {
    auto file = sim::HandleObject<sim::FileObject>(hFile);
    if (!file) return sim::Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & (FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL))) return sim::Fail(ERROR_ACCESS_DENIED);
    if (DWORD fault = sim::InjectedFault("SetFileTime", L"", {})) return sim::Fail(fault);
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (!Unchanged(lpLastAccessTime)) times[0] = ToTimespec(*lpLastAccessTime);
    if (!Unchanged(lpLastWriteTime)) times[1] = ToTimespec(*lpLastWriteTime);
    if (::futimens(file->fd, times) != 0) return sim::Fail(sim::ErrnoError(errno));
    if (!Unchanged(lpCreationTime) && !sim::WriteCreationTime(file->fd, *lpCreationTime))
        return sim::Fail(sim::ErrnoError(errno));
    return TRUE;
}

BOOL WINAPI GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength, LPDWORD lpnLengthNeeded) {
    if (!lpnLengthNeeded) return sim::Fail(ERROR_INVALID_PARAMETER);
    if (lpFileName) {
        if (DWORD fault = sim::InjectedFault("GetFileSecurityW", sim::PathMachine(lpFileName), {lpFileName}))
            return sim::Fail(fault);
    }
    // Reading the audit list needs a privilege the tool does not hold.
    if (RequestedInformation & SACL_SECURITY_INFORMATION) return sim::Fail(ERROR_PRIVILEGE_NOT_HELD);
    fs::path host;
    HostEntry entry;
    // Whether it is a folder is all the list needs of the entry.
    if (DWORD error = sim::ResolveExisting(lpFileName, host, entry, false)) return sim::Fail(error);
    std::vector<BYTE> sd = sim::EffectiveSecurity(host, entry.IsFolder() || entry.linkToFolder,
                                                  RequestedInformation);
    *lpnLengthNeeded = static_cast<DWORD>(sd.size());
    if (!pSecurityDescriptor || nLength < sd.size()) return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(pSecurityDescriptor, sd.data(), sd.size());
    return TRUE;
}

BOOL WINAPI SetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!pSecurityDescriptor) return sim::Fail(ERROR_INVALID_PARAMETER);
    if (!IsValidSecurityDescriptor(pSecurityDescriptor)) return sim::Fail(ERROR_INVALID_SECURITY_DESCR);
    if (lpFileName) {
        if (DWORD fault = sim::InjectedFault("SetFileSecurityW", sim::PathMachine(lpFileName), {lpFileName}))
            return sim::Fail(fault);
    }
    if (SecurityInformation & SACL_SECURITY_INFORMATION) return sim::Fail(ERROR_PRIVILEGE_NOT_HELD);
    fs::path host;
    HostEntry entry;
    if (DWORD error = sim::ResolveExisting(lpFileName, host, entry, false)) return sim::Fail(error);
    if (entry.link) return sim::Fail(ERROR_ACCESS_DENIED);

    sim::Security given;
    if (!sim::ParseSecurity(pSecurityDescriptor, true, given)) return sim::Fail(ERROR_INVALID_SECURITY_DESCR);
    sim::Security own;
    sim::ReadOwnSecurity(host, own);
    if (SecurityInformation & OWNER_SECURITY_INFORMATION) own.owner = given.owner;
    if (SecurityInformation & GROUP_SECURITY_INFORMATION) own.group = given.group;
    if (SecurityInformation & DACL_SECURITY_INFORMATION) {
        // Entries marked inherited come from the folders above; only the
        // file's own ones are kept.
        own.daclPresent = given.daclPresent;
        own.daclNull = given.daclNull;
        own.aces = given.aces;
        own.daclProtected = given.daclProtected;
        if (SecurityInformation & PROTECTED_DACL_SECURITY_INFORMATION) own.daclProtected = true;
        if (SecurityInformation & UNPROTECTED_DACL_SECURITY_INFORMATION) own.daclProtected = false;
    }
    bool anything = !own.owner.empty() || !own.group.empty() || own.daclNull || own.daclProtected || !own.aces.empty();
    int result;
    if (anything) {
        own.daclPresent = true;
        std::vector<BYTE> bytes = sim::SelfRelative(own, 0);
        result = ::lsetxattr(host.c_str(), sim::kSecurityName, bytes.data(), bytes.size(), 0);
    } else {
        result = ::lremovexattr(host.c_str(), sim::kSecurityName);
        if (result != 0 && errno == ENODATA) result = 0;
    }
    if (result != 0) return sim::Fail(sim::ErrnoError(errno));
    return TRUE;
}
