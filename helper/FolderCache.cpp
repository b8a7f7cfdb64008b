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

    int parent = AT_FDCWD;
    std::size_t start = 0;
    const std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos) {
        // Only the components below the nearest folder already open are walked.
        parent = open(folder.substr(0, slash), error);
        if (parent < 0)
            return -1;
        start = slash + 1;
    }
    const std::string name = folder.empty() ? std::string(".") : folder.substr(start);
    int fd = -1;
    if (name.empty() || name == ".") {
        fd = openFolder(parent, ".");
        if (fd < 0)
            error = errno;
    } else {
        fd = openChild(parent, name, error);
    }
    if (fd < 0)
        return -1;
    open_.emplace(folder, fd);
    return fd;
}
