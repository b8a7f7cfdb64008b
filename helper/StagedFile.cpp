#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of the final name for a person who finds a left-over file to see
// what it was; the rest of the temporary name is 19 bytes.
constexpr std::size_t kKeptNameBytes = 64;

// Data goes to disk in pieces of this size: the blocks read from an archive
// are often 64 KiB, and a write per block costs more than copying it.
constexpr std::size_t kPieceBytes = 1 << 20;

std::uint64_t nextRandom()
{
    // Unpredictable from the archive (seeded by the kernel), then cheap.
    static std::uint64_t state = [] {
        std::uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, 0) != sizeof seed)
            seed = std::uint64_t(::getpid()) << 32 ^ std::uint64_t(::time(nullptr));
        return seed;
    }();
    // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// How a file without a name gets one: through its descriptor where the
// process may (AT_EMPTY_PATH needs a capability), else through /proc.
enum class LinkWay { Unknown, EmptyPath, Proc };
LinkWay linkWay = LinkWay::Unknown;

bool unnamedRefused(int error)
{
    // The filesystem (or kernel) does not make files without a name.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

std::string StagedFile::nameFor(const std::string& base, std::uint64_t random)
{
    std::size_t kept = std::min(base.size(), kKeptNameBytes);
    // Cut between UTF-8 sequences, not inside one.
    while (kept > 0 && kept < base.size() && (static_cast<unsigned char>(base[kept]) & 0xC0) == 0x80)
        --kept;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%012llx.part",
                  static_cast<unsigned long long>(random & 0xFFFFFFFFFFFFull));
    return "." + base.substr(0, kept) + suffix;
}

std::string StagedFile::temporaryNameFor(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A name already there is left alone. 48 random bits make a clash all
    // but impossible; should eight in a row clash, the last name is used.
    std::string staged = folder + nameFor(base, nextRandom());
    for (int tries = 0; tries < 8 && exists(staged); ++tries)
        staged = folder + nameFor(base, nextRandom());
    return staged;
}

int StagedFile::commit(const std::string& staged, const std::string& path, bool replace)
{
    if (!replace) {
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // A filesystem without that flag: the check and the rename are two steps.
        if (exists(path))
            return EEXIST;
    }
    if (::rename(staged.c_str(), path.c_str()) == 0)
        return 0;
    const int error = errno;
    struct stat info {};
    if (replace && (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
        && ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        // A folder where the file goes: replaced only when empty.
        if (::rmdir(path.c_str()) != 0)
            return error;
        return ::rename(staged.c_str(), path.c_str()) == 0 ? 0 : errno;
    }
    return error;
}

std::string StagedFile::showFinalName(std::string message, const std::string& staged, const std::string& path)
{
    for (std::size_t at = message.find(staged); at != std::string::npos;
         at = message.find(staged, at + path.size()))
        message.replace(at, staged.size(), path);
    return message;
}

int StagedFile::create(int folder, const std::string& folderPath, const std::string& name, mode_t mode,
                       bool empty)
{
    discard();
    pending_.clear();
    folder_ = folder;
    folderPath_ = folderPath;
    name_ = name;
    mode_ = mode;
    end_ = 0;
    removedFolder_ = false;
    timesGiven_ = false;
    deferred_ = empty;
    return empty ? 0 : stage();
}

int StagedFile::stage()
{
    deferred_ = false;
    const int folder = folder_;
    const std::string& name = name_;
    fd_ = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_);
    if (fd_ >= 0)
        return 0;
    if (!unnamedRefused(errno))
        return errno;
    // A name already there is left alone; 48 random bits make a clash all
    // but impossible.
    for (int tries = 0; tries < 8; ++tries) {
        hidden_ = nameFor(name, nextRandom());
        fd_ = ::openat(folder, hidden_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode_);
        if (fd_ >= 0) {
            hiddenPath_ = folderPath_ + hidden_;
            return 0;
        }
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    hidden_.clear();
    return error;
}

int StagedFile::write(const void* data, std::size_t size, std::int64_t offset)
{
    if (deferred_ && size > 0) {
        if (const int error = stage(); error != 0)
            return error;
    }
    if (!pending_.empty() && offset != pendingOffset_ + std::int64_t(pending_.size())) {
        if (const int error = flush(); error != 0)
            return error;
    }
    if (pending_.empty())
        pendingOffset_ = offset;
    if (pending_.capacity() < kPieceBytes)
        pending_.reserve(kPieceBytes);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t taken = std::min(size, kPieceBytes - pending_.size());
        pending_.insert(pending_.end(), bytes, bytes + taken);
        bytes += taken;
        size -= taken;
        if (pending_.size() == kPieceBytes) {
            if (const int error = flush(); error != 0)
                return error;
            pendingOffset_ += std::int64_t(kPieceBytes);
        }
    }
    return 0;
}

int StagedFile::flush()
{
    const char* bytes = pending_.data();
    std::size_t size = pending_.size();
    std::int64_t offset = pendingOffset_;
    while (size > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    end_ = std::max(end_, offset);
    pending_.clear();
    return 0;
}

int StagedFile::finish(std::int64_t size, const struct timespec* accessed, const struct timespec* modified)
{
    if (deferred_ && size > 0) {
        if (const int error = stage(); error != 0)
            return error;
    }
    if (deferred_) {
        timesGiven_ = accessed || modified;
        times_[0] = accessed ? *accessed : timespec {0, UTIME_OMIT};
        times_[1] = modified ? *modified : timespec {0, UTIME_OMIT};
        return 0;
    }
    if (const int error = flush(); error != 0)
        return error;
    // A sparse file's last hole is not written by any block.
    if (size > end_ && ::ftruncate(fd_, size) != 0)
        return errno;
    if (accessed || modified) {
        const struct timespec times[2] = {accessed ? *accessed : timespec {0, UTIME_OMIT},
                                          modified ? *modified : timespec {0, UTIME_OMIT}};
        if (::futimens(fd_, times) != 0)
            return errno;
    }
    return 0;
}

int StagedFile::linkAs(const std::string& name)
{
    if (linkWay != LinkWay::Proc) {
        if (::linkat(fd_, "", folder_, name.c_str(), AT_EMPTY_PATH) == 0) {
            linkWay = LinkWay::EmptyPath;
            return 0;
        }
        if (errno != ENOENT || linkWay == LinkWay::EmptyPath)
            return errno;
    }
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, path, folder_, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    linkWay = LinkWay::Proc;
    return 0;
}

int StagedFile::commitEmpty(bool replace)
{
    fd_ = ::openat(folder_, name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode_);
    if (fd_ >= 0) {
        deferred_ = false;
        if (timesGiven_ && ::futimens(fd_, times_) != 0) {
            const int error = errno;
            ::unlinkat(folder_, name_.c_str(), 0);
            ::close(fd_);
            fd_ = -1;
            return error;
        }
        return 0;
    }
    if (errno != EEXIST || !replace)
        return errno;
    // The name is taken: replaced the way any other file replaces it.
    if (const int error = stage(); error != 0)
        return error;
    if (timesGiven_ && ::futimens(fd_, times_) != 0)
        return errno;
    return commit(replace);
}

int StagedFile::commit(bool replace)
{
    removedFolder_ = false;
    if (deferred_)
        return commitEmpty(replace);
    std::string staged = hidden_;
    if (staged.empty()) {
        const int error = linkAs(name_);
        if (error != EEXIST || !replace)
            return error;
        // Linked under a hidden name first, then renamed over what the name holds.
        int linked = EEXIST;
        for (int tries = 0; tries < 8 && linked == EEXIST; ++tries) {
            staged = nameFor(name_, nextRandom());
            linked = linkAs(staged);
        }
        if (linked != 0)
            return linked;
    }
    if (!replace) {
        if (::renameat2(folder_, staged.c_str(), folder_, name_.c_str(), RENAME_NOREPLACE) == 0) {
            hidden_.clear();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        struct stat info {};
        if (::fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
    }
    int error = ::renameat(folder_, staged.c_str(), folder_, name_.c_str()) == 0 ? 0 : errno;
    struct stat info {};
    if (error != 0 && replace && (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
        && ::fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
        // A folder where the file goes: replaced only when empty.
        if (::unlinkat(folder_, name_.c_str(), AT_REMOVEDIR) == 0) {
            removedFolder_ = true;
            error = ::renameat(folder_, staged.c_str(), folder_, name_.c_str()) == 0 ? 0 : errno;
        }
    }
    if (error == 0)
        hidden_.clear();
    else if (hidden_.empty())
        ::unlinkat(folder_, staged.c_str(), 0);
    return error;
}

void StagedFile::discard()
{
    deferred_ = false;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    // In a folder made read-only meanwhile this fails: the complete data
    // stays under its hidden name.
    if (!hidden_.empty())
        ::unlinkat(folder_, hidden_.c_str(), 0);
    hidden_.clear();
    hiddenPath_.clear();
}
