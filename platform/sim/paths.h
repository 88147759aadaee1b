// The simulated process's current directory and the full-path rules that
// every file call applies before mapping a path onto the host.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/sim/wintypes.h"

namespace sim {

// As GetCurrentDirectoryW reports it: a Windows path (D:\Mig) once the
// process has moved onto a machine's drive, the host's folder at start.
std::wstring CurrentDirectory();
void SetCurrentDirectoryText(const std::wstring& path);

// Joins a relative path onto the current directory and resolves "." and "..".
std::wstring FullPathName(const std::wstring& path);

// The three forms a full path can take.
enum class PathKind { Unc, Drive, Host };
PathKind KindOf(const std::wstring& fullPath);

// The machine a path names: the server of a UNC path as written, the local
// machine for a drive path, "" for a host path, which is on no machine.
// Reads the text only, so it names unknown machines too.
std::wstring PathMachine(const std::wstring& path);

// The entry of folder whose name equals name ignoring case; the first in
// code order when several do, so the choice does not depend on the host.
// noFolder, when given, says whether folder turned out not to be there (or
// not to be a folder): a lookup that found none proves it is one.
bool MatchNoCase(const std::filesystem::path& folder, const std::wstring& name, std::wstring& match,
                 bool* noFolder = nullptr);

struct HostPath {
    std::filesystem::path path;  // never ends in a separator
    bool volumeRoot = false;     // a drive's root folder, which lists no "." and ".."
    bool exists = false;         // stat found path while resolving it...
    struct stat status {};       // ...and said this of it (links followed)
    // Nothing at all is there, not even a link, and the folder it would be
    // in is one: the callers that would look again need not.
    bool absent = false;
    // There and no link: status is also what lstat would say.
    bool plain = false;
};

// sim::MapPath with what the directory calls need besides the host path.
// Every Windows path reaches the host here. The exact host path is tried
// first, with one stat whose result the caller gets; only a path missing as
// written is looked for name by name, ignoring case. Machine folders and
// drive folders are kept from one call to the next.
// `missing`, when given, is a host path the caller has just found not there
// at all (a link not followed); it is not looked at again.
DWORD ResolvePath(const std::wstring& windowsPath, HostPath& out, const std::string* missing = nullptr);

// The host path a Windows path names when every name on the way exists as
// written, made without asking the host: a call that opens the path learns
// from the open itself whether it exists, and needs ResolvePath only when it
// does not. Any error, paths near the limits included, sends the caller to
// ResolvePath.
DWORD ExactHostPath(const std::wstring& windowsPath, std::string& hostPath);

// The simulation's own creates, renames and deletes name the host path they
// changed, so that no kept folder outlives what it names and a new exact name
// wins over a kept one that differs in case.
void NoteHostChange(const std::filesystem::path& changed);
// Forgets every kept drive folder (a new world).
void ForgetResolvedPaths();

}  // namespace sim
