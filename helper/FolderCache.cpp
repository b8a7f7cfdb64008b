#include "FolderCache.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far below the usual limit of 1024 descriptors; an archive of more folders
// than this starts over with an empty cache now and then.
constexpr std::size_t kMaxOpen = 256;

int openFolder(int parent, const char* name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

void FolderCache::clear()
{
    for (const auto& [path, fd] : open_)
        ::close(fd);
    open_.clear();
}

int FolderCache::openChild(int parent, const std::string& name, int& error)
{
    int fd = openFolder(parent, name.c_str());
    if (fd >= 0)
        return fd;
    error = errno;
    // A link is never followed nor removed (what it points to is not the
    // archive's), and a file in the way is not the archive's to delete.
    if (error != ENOENT)
        return -1;
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        error = errno;
        return -1;
    }
    fd = openFolder(parent, name.c_str());
    if (fd < 0)
        error = errno;
    return fd;
}

int FolderCache::open(const std::string& folder, int& error)
{
    if (const auto known = open_.find(folder); known != open_.end())
        return known->second;
    if (open_.size() >= kMaxOpen)
        clear();

    // Only the components below the nearest folder already open are walked,
    // one after the other: an archive's paths may be thousands of levels
    // deep, too deep for a walk that recurses or keeps every level open.
    int current = AT_FDCWD;
    std::size_t start = 0;
    for (std::size_t slash = folder.rfind('/'); slash != std::string::npos && slash > 0;
         slash = folder.rfind('/', slash - 1)) {
        if (const auto known = open_.find(folder.substr(0, slash)); known != open_.end()) {
            current = known->second;
            start = slash + 1;
            break;
        }
    }
    bool owned = false; // whether `current` is this walk's to close (not cached)
    for (;;) {
        const std::size_t end = folder.find('/', start);
        const std::string name = folder.substr(start, end == std::string::npos ? std::string::npos : end - start);
        int fd = -1;
        if (name.empty() || name == ".") {
            fd = openFolder(current, ".");
            if (fd < 0)
                error = errno;
        } else {
            fd = openChild(current, name, error);
        }
        if (owned)
            ::close(current);
        if (fd < 0)
            return -1;
        if (end == std::string::npos) {
            open_.emplace(folder, fd);
            return fd;
        }
        // The folders on the way are kept while there is room: their other
        // contents usually come next.
        owned = open_.size() >= kMaxOpen || !open_.emplace(folder.substr(0, end), fd).second;
        current = fd;
        start = end + 1;
    }
}
