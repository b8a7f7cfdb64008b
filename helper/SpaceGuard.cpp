#include "SpaceGuard.h"

#include <algorithm>
#include <sys/statvfs.h>

namespace {

constexpr std::uint64_t kMaxMargin = 64ull << 20;
// Between two checks at most this much is written, or this many files
// created: a filesystem is asked no more than once per many small files,
// and the space is tracked in between from what the helper writes itself.
constexpr std::uint64_t kCheckEvery = 16ull << 20;
constexpr unsigned kFilesPerCheck = 256;

} // namespace

std::uint64_t SpaceGuard::marginFor(std::uint64_t filesystemSize)
{
    return std::min(kMaxMargin, filesystemSize / 16);
}

bool SpaceGuard::refresh()
{
    struct statvfs info {};
    checked_ = true;
    sinceCheck_ = 0;
    filesSinceCheck_ = 0;
    if (::statvfs(folder_.c_str(), &info) != 0 || info.f_frsize == 0 || info.f_blocks == 0) {
        known_ = false;
        return false;
    }
    const std::uint64_t size = std::uint64_t(info.f_blocks) * info.f_frsize;
    const std::uint64_t available = std::uint64_t(info.f_bavail) * info.f_frsize;
    const std::uint64_t margin = marginFor(size);
    headroom_ = available > margin ? available - margin : 0;
    known_ = true;
    return true;
}

bool SpaceGuard::allows(std::uint64_t bytes)
{
    if (!checked_ || sinceCheck_ + bytes > kCheckEvery || (known_ && bytes > headroom_))
        refresh();
    if (!known_)
        return true;
    if (bytes > headroom_)
        return false;
    headroom_ -= bytes;
    sinceCheck_ += bytes;
    return true;
}

bool SpaceGuard::fits(std::uint64_t bytes)
{
    // Asked again before refusing: others may have freed space meanwhile.
    if (!checked_ || ++filesSinceCheck_ >= kFilesPerCheck || sinceCheck_ >= kCheckEvery
        || (known_ && bytes > headroom_))
        refresh();
    return !known_ || bytes <= headroom_;
}
