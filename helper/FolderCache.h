#pragma once

#include <string>
#include <unordered_map>

// Open descriptors of the folders being filled, by their path below the
// destination. A folder is reached one component at a time, never through a
// symbolic link, and is kept open: the files written into it afterwards take
// no path lookup and no safety check of their own.
class FolderCache {
public:
    FolderCache() = default;
    ~FolderCache() { clear(); }
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // A descriptor of `folder` (relative to the working directory; "" is the
    // working directory itself), its missing components created. -1 with
    // the errno in `error` when a component is a symbolic link (ELOOP) or
    // something else than a folder (ENOTDIR), neither of which is removed,
    // or cannot be created or opened.
    int open(const std::string& folder, int& error);

    // Forgets every descriptor: to be called whenever the helper changes a
    // name the cache may have walked through (a link or a folder replaced).
    void clear();

private:
    int openChild(int parent, const std::string& name, int& error);

    std::unordered_map<std::string, int> open_;
};
