// Names looked up ignoring case. A folder is listed at its first lookup; one
// with many names, or one looked in again, is then indexed and kept current
// through inotify, which reports every change by any process before the
// change returns, so the index never answers from a stale listing and a
// folder of N files costs N lookups, not N².
#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/sim/folder_watch.h"
#include "platform/sim/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

constexpr size_t kIndexedFolderSize = 16;

struct FolderIndex {
    int watch = -1;
    std::unordered_map<std::wstring, std::vector<std::wstring>> byFoldedName;

    void Add(const std::wstring& name) {
        auto& names = byFoldedName[corvan::ToLower(name)];
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    void Remove(const std::wstring& name) {
        auto it = byFoldedName.find(corvan::ToLower(name));
        if (it == byFoldedName.end()) return;
        it->second.erase(std::remove(it->second.begin(), it->second.end(), name), it->second.end());
        if (it->second.empty()) byFoldedName.erase(it);
    }
};

struct Indexes {
    int inotify = -1;
    std::unordered_map<std::string, FolderIndex> byFolder;
    std::unordered_map<int, std::string> folderOfWatch;
    std::unordered_set<std::string> readOnce;  // folders listed, not indexed
    unsigned listed = 0;

    Indexes() { inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

    void Drop(const std::string& folder) {
        auto it = byFolder.find(folder);
        if (it == byFolder.end()) return;
        ::inotify_rm_watch(inotify, it->second.watch);
        folderOfWatch.erase(it->second.watch);
        byFolder.erase(it);
    }

    void DropAll() {
        while (!byFolder.empty()) Drop(byFolder.begin()->first);
    }

    // Applies every change reported since the last lookup.
    void Drain() {
        if (inotify < 0 || byFolder.empty()) return;
        bool counted = ReadInotifyEvents(inotify, [&](const inotify_event& event) {
            auto folder = folderOfWatch.find(event.wd);
            if (folder == folderOfWatch.end()) return;
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                Drop(folder->second);
                return;
            }
            FolderIndex& index = byFolder[folder->second];
            std::wstring name = corvan::FromUtf8(event.len ? event.name : "");
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) index.Add(name);
            if (event.mask & (IN_DELETE | IN_MOVED_FROM)) index.Remove(name);
        });
        if (!counted) DropAll();
    }
};

Indexes& AllIndexes() {
    static Indexes indexes;
    return indexes;
}

// Reads a folder's names; false when it cannot be read.
bool ReadNames(const fs::path& folder, std::vector<std::wstring>& names) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        names.push_back(corvan::FromUtf8(name));
    }
    ::closedir(dir);
    return true;
}

bool Choose(const std::vector<std::wstring>& candidates, std::wstring& match) {
    if (candidates.empty()) return false;
    match = *std::min_element(candidates.begin(), candidates.end());
    return true;
}

}  // namespace

bool MatchNoCase(const fs::path& folder, const std::wstring& name, std::wstring& match, bool* noFolder) {
    if (noFolder) *noFolder = false;
    Indexes& indexes = AllIndexes();
    indexes.Drain();
    // A folder still indexed is there: its removal or move would have
    // dropped it in the drain.
    auto indexed = indexes.byFolder.find(folder.native());
    if (indexed != indexes.byFolder.end()) {
        auto it = indexed->second.byFoldedName.find(corvan::ToLower(name));
        return it != indexed->second.byFoldedName.end() && Choose(it->second, match);
    }

    std::vector<std::wstring> names;
    if (!ReadNames(folder, names)) {
        if (noFolder) *noFolder = errno == ENOENT || errno == ENOTDIR;
        return false;
    }
    // A folder looked in twice is likely to be looked in again, as one that
    // is being filled is for each new name: indexing it spares a listing per
    // name. Not before the process has listed a good many, though: a watch
    // costs the host tens of milliseconds when the process ends.
    constexpr unsigned kListedBeforeWatching = 64;
    bool again = ++indexes.listed > kListedBeforeWatching && !indexes.readOnce.insert(folder.native()).second;
    if ((names.size() >= kIndexedFolderSize || again) && indexes.inotify >= 0) {
        // Watch first and read again, so no change falls between the two.
        int watch = ::inotify_add_watch(indexes.inotify, folder.c_str(),
                                        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                            IN_MOVE_SELF | IN_ONLYDIR);
        std::vector<std::wstring> watched;
        if (watch >= 0 && ReadNames(folder, watched)) {
            // A folder reached by two paths has one watch; its index follows the later path.
            auto previous = indexes.folderOfWatch.find(watch);
            if (previous != indexes.folderOfWatch.end()) indexes.byFolder.erase(previous->second);
            indexes.readOnce.erase(folder.native());
            FolderIndex& index = indexes.byFolder[folder.native()];
            index.watch = watch;
            for (const auto& entry : watched) index.Add(entry);
            indexes.folderOfWatch[watch] = folder.native();
            auto it = index.byFoldedName.find(corvan::ToLower(name));
            return it != index.byFoldedName.end() && Choose(it->second, match);
        }
        if (watch >= 0) ::inotify_rm_watch(indexes.inotify, watch);
    }
    std::vector<std::wstring> candidates;
    for (const auto& entry : names)
        if (corvan::EqualsNoCase(entry, name)) candidates.push_back(entry);
    return Choose(candidates, match);
}

}  // namespace sim
