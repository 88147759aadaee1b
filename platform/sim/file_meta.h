// What a Windows volume keeps about a file that the host file system does
// not: the attribute bits beyond read-only, the creation time and the file's
// own security descriptor. They live in the host file's extended attributes:
//
//   user.corvan.attributes  the attribute word as eight hex digits (absent:
//                           archive for a file, nothing for a folder); the
//                           read-only bit of a file is the host's write bit
//   user.corvan.created     the creation time, a FILETIME as sixteen hex
//                           digits (absent: the host's birth time)
//   user.corvan.security    the file's own self-relative security descriptor:
//                           its explicit entries, SE_DACL_PROTECTED when it
//                           inherits nothing (absent: everything inherited)
//
// Inherited entries are never stored: a descriptor is read as the file's own
// entries followed by what it inherits from the nearest ancestors, up to the
// drive's root, whose list (unless set) gives Administrators and SYSTEM full
// control and Users read and execute to every folder and file below.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "platform/sim/wintypes.h"

namespace sim {

// A host entry as lstat sees it: a symbolic link is reported, not followed.
struct HostEntry {
    struct stat st {};
    struct timespec born {};  // the host's birth time, where it keeps one
    bool hasBirth = false;
    bool link = false;
    bool linkToFolder = false;
    // Which of the extended attributes above the entry has.
    bool hasAttributes = false;
    bool hasCreated = false;
    bool IsFolder() const { return !link && S_ISDIR(st.st_mode); }
};
// One statx and one llistxattr: what a listing needs of an entry. Without
// `ours`, the statx alone: which of the extended attributes above the entry
// has is not looked at (hasAttributes and hasCreated stay false).
bool ReadHostEntry(const std::filesystem::path& path, HostEntry& entry, bool ours = true);

DWORD AttributesOf(const std::filesystem::path& path, const HostEntry& entry);
FILETIME CreationTimeOf(const std::filesystem::path& path, const HostEntry& entry);
FILETIME ToFileTime(const struct timespec& ts);
// Size as the directory calls report it: 0 for folders and links.
uint64_t ReportedSize(const HostEntry& entry);

// The bits SetFileAttributesW may change.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Sets the settable bits of a file or folder; 0 or a Win32 error.
DWORD WriteAttributes(const std::filesystem::path& path, const HostEntry& entry, DWORD attributes);
// What CopyFileW carries over to the copy: the attribute word, not the
// creation time (the copy is new) nor the security (the copy inherits).
// `to` is the new copy, open, which has no word of its own yet. False, with
// errno set, when the word could not be read or written.
bool CopyAttributeWord(const std::filesystem::path& from, int to);
bool WriteCreationTime(int fd, const FILETIME& time);

// The folder of the volume a host path lies on (a drive folder of a
// machine, or the host's root); moves between volumes are copies.
std::filesystem::path VolumeRootOf(const std::filesystem::path& path);

// The self-relative descriptor GetFileSecurityW reports for the parts asked.
std::vector<BYTE> EffectiveSecurity(const std::filesystem::path& path, bool folder, SECURITY_INFORMATION parts);

}  // namespace sim
