#include "ByteSource.h"

#include "RarWriteError.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vorlo::rarwriter {

std::size_t StringSource::read(char *buffer, std::size_t size)
{
    const std::size_t n = std::min(size, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
}

FileSource::FileSource(const std::filesystem::path &path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw RarWriteError("cannot open " + path.string() + ": " + std::strerror(errno));
}

FileSource::~FileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t FileSource::read(char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw RarWriteError("cannot read " + path_.string() + ": " + std::strerror(errno));
    }
}

std::size_t PatternSource::read(char *buffer, std::size_t size)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, remaining_));
    std::size_t i = 0;
    // splitmix64: one multiply-xorshift round per eight output bytes.
    while (i < n) {
        if (pendingBytes_ == 0) {
            std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            pending_ = z ^ (z >> 31);
            pendingBytes_ = 8;
        }
        if (pendingBytes_ == 8 && n - i >= 8) {
            std::uint64_t word = pending_;
            if constexpr (std::endian::native == std::endian::big)
                word = __builtin_bswap64(word);
            std::memcpy(buffer + i, &word, 8);
            i += 8;
            pendingBytes_ = 0;
            continue;
        }
        buffer[i++] = static_cast<char>(pending_ & 0xFF);
        pending_ >>= 8;
        --pendingBytes_;
    }
    remaining_ -= n;
    return n;
}

} // namespace vorlo::rarwriter
