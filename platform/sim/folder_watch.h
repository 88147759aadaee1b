// Tells which folders changed themselves since they were first looked at:
// their own attributes, times or security, their place or their existence.
// Lets what is worked out from a chain of folders be kept between calls
// without a stale answer, as inotify reports every change by any process
// before the change returns.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

struct inotify_event;

namespace sim {

// Hands every event queued on an inotify descriptor to onEvent. False when
// the descriptor failed or the kernel lost count: anything may have changed.
bool ReadInotifyEvents(int inotify, const std::function<void(const inotify_event&)>& onEvent);

class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches every folder from top down to folder (a folder at or below
    // top); false when one of them cannot be watched.
    bool WatchDown(const std::string& top, const std::string& folder);

    // The folders that changed since the last call; each stands for itself
    // and everything below it. True when the kernel lost count, and anything
    // may have changed.
    bool Changes(std::vector<std::string>& changed);

    size_t Size() const { return folderOfWatch_.size(); }
    void Clear();

private:
    void Unwatch(const std::string& folder);

    int inotify_ = -1;
    std::unordered_map<std::string, int> watchOfFolder_;
    std::unordered_map<int, std::string> folderOfWatch_;
};

// True when path is folder or lies below it.
bool AtOrBelow(const std::string& path, const std::string& folder);

}  // namespace sim
