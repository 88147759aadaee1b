#include "platform/sim/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace sim {

bool AtOrBelow(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

FolderWatch::FolderWatch() { inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

FolderWatch::~FolderWatch() {
    if (inotify_ >= 0) ::close(inotify_);
}

void FolderWatch::Clear() {
    for (const auto& [watch, folder] : folderOfWatch_) ::inotify_rm_watch(inotify_, watch);
    folderOfWatch_.clear();
    watchOfFolder_.clear();
}

// A folder moved or gone takes the watches below it along: their paths now
// name other folders, or none, which must be watched afresh.
void FolderWatch::Unwatch(const std::string& folder) {
    for (auto it = watchOfFolder_.begin(); it != watchOfFolder_.end();) {
        if (AtOrBelow(it->first, folder)) {
            ::inotify_rm_watch(inotify_, it->second);
            folderOfWatch_.erase(it->second);
            it = watchOfFolder_.erase(it);
        } else {
            ++it;
        }
    }
}

bool FolderWatch::WatchDown(const std::string& top, const std::string& folder) {
    if (inotify_ < 0 || !AtOrBelow(folder, top)) return false;
    for (size_t end = top.size();; end = folder.find('/', end + 1)) {
        std::string at = folder.substr(0, end);
        if (!watchOfFolder_.count(at)) {
            int watch = ::inotify_add_watch(inotify_, at.c_str(),
                                            IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW);
            // One folder known under two paths has one watch: its changes
            // could not be told apart, so neither is kept.
            if (watch < 0 || folderOfWatch_.count(watch)) return false;
            watchOfFolder_[at] = watch;
            folderOfWatch_[watch] = at;
        }
        if (end == std::string::npos) return true;
    }
}

bool FolderWatch::Changes(std::vector<std::string>& changed) {
    if (inotify_ < 0 || folderOfWatch_.empty()) return false;
    bool counted = ReadInotifyEvents(inotify_, [&](const inotify_event& event) {
        // What happens to the files in a folder is not the folder's own change.
        auto folder = folderOfWatch_.find(event.wd);
        if (event.len || folder == folderOfWatch_.end()) return;
        std::string path = folder->second;
        changed.push_back(path);
        if (event.mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT)) Unwatch(path);
    });
    if (counted) return false;
    Clear();
    return true;
}

bool ReadInotifyEvents(int inotify, const std::function<void(const inotify_event&)>& onEvent) {
    alignas(inotify_event) char buffer[16384];
    bool counted = true;
    for (;;) {
        ssize_t n = ::read(inotify, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return counted && (n == 0 || errno == EAGAIN);
        }
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW)
                counted = false;
            else
                onEvent(*event);
        }
        // A read with room left for the longest event took all there was:
        // asking again would only be told so.
        if (static_cast<size_t>(n) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer) return counted;
    }
}

}  // namespace sim
