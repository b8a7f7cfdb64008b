#include "OutputFile.h"

#include "RarWriteError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vorlo::rarwriter {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
}

OutputFile::OutputFile(const std::filesystem::path &path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw RarWriteError("cannot create " + path.string() + ": " + std::strerror(errno));
    buffer_.reserve(kBufferSize);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void OutputFile::append(const void *data, std::size_t size)
{
    auto p = static_cast<const char *>(data);
    if (buffer_.size() + size > kBufferSize) {
        flush();
        if (size >= kBufferSize) {
            writeAt(flushed_, p, size);
            flushed_ += size;
            return;
        }
    }
    buffer_.insert(buffer_.end(), p, p + size);
}

void OutputFile::patch(std::uint64_t offset, std::string_view bytes)
{
    if (offset + bytes.size() > size())
        throw RarWriteError("internal error: patch beyond the end of " + path_.string());
    // The part still in the buffer is patched there, the rest on disk.
    std::size_t done = 0;
    if (offset < flushed_) {
        done = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), flushed_ - offset));
        writeAt(offset, bytes.data(), done);
    }
    if (done < bytes.size())
        std::memcpy(buffer_.data() + (offset + done - flushed_), bytes.data() + done, bytes.size() - done);
}

void OutputFile::truncate(std::uint64_t newSize)
{
    if (newSize >= flushed_) {
        buffer_.resize(std::min<std::uint64_t>(buffer_.size(), newSize - flushed_));
        return;
    }
    buffer_.clear();
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
        throw RarWriteError("cannot truncate " + path_.string() + ": " + std::strerror(errno));
    flushed_ = newSize;
}

void OutputFile::flush()
{
    if (buffer_.empty())
        return;
    writeAt(flushed_, buffer_.data(), buffer_.size());
    flushed_ += buffer_.size();
    buffer_.clear();
}

void OutputFile::writeAt(std::uint64_t offset, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw RarWriteError("cannot write " + path_.string() + ": " + std::strerror(errno));
        }
        data += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

void OutputFile::close()
{
    if (fd_ < 0)
        return;
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw RarWriteError("cannot write " + path_.string() + ": " + std::strerror(errno));
}

} // namespace vorlo::rarwriter
