#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of the final name for a person who finds a left-over file to see
// what it was; the rest of the temporary name is 19 bytes.
constexpr std::size_t kKeptNameBytes = 64;

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
