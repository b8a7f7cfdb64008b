#include "VolumeSource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

VolumeSource::VolumeSource(std::vector<Piece> pieces)
{
    for (Piece& piece : pieces)
        spans_.push_back(Span{std::move(piece.path), piece.offset, 0, 0});
}

VolumeSource::~VolumeSource()
{
    closeCurrent();
}

bool VolumeSource::open()
{
    std::int64_t start = 0;
    for (Span& span : spans_) {
        struct stat info {};
        if (::stat(span.path.c_str(), &info) != 0) {
            error_ = "Cannot open " + span.path + ": " + std::strerror(errno);
            return false;
        }
        if (S_ISDIR(info.st_mode)) {
            error_ = "Cannot open " + span.path + ": " + std::strerror(EISDIR);
            return false;
        }
        span.length = info.st_size > span.offset ? info.st_size - span.offset : 0;
        span.start = start;
        start += span.length;
    }
    total_ = start;
    meter_->setTotal(total_);
    current_ = 0;
    position_ = 0;
    return spans_.empty() ? false : openCurrent();
}

bool VolumeSource::openCurrent()
{
    closeCurrent();
    Span& span = spans_[current_];
    fd_ = ::open(span.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "Cannot open " + span.path + ": " + std::strerror(errno);
        return false;
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::int64_t within = position_ - span.start;
    if (::lseek(fd_, span.offset + within, SEEK_SET) < 0) {
        error_ = "Cannot read " + span.path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void VolumeSource::closeCurrent()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool VolumeSource::selectSpanAt(std::int64_t position)
{
    std::size_t index = 0;
    while (index + 1 < spans_.size() && position >= spans_[index].start + spans_[index].length)
        ++index;
    position_ = position;
    if (index != current_ || fd_ < 0) {
        current_ = index;
        return openCurrent();
    }
    const Span& span = spans_[current_];
    if (::lseek(fd_, span.offset + (position - span.start), SEEK_SET) < 0) {
        error_ = "Cannot read " + span.path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

long VolumeSource::read(void* buffer, std::size_t capacity)
{
    while (fd_ >= 0 || current_ < spans_.size()) {
        if (fd_ < 0)
            return -1;
        const Span& span = spans_[current_];
        const std::int64_t left = span.start + span.length - position_;
        if (left <= 0) {
            if (current_ + 1 >= spans_.size())
                return 0;
            ++current_;
            if (!openCurrent())
                return -1;
            continue;
        }
        const std::size_t wanted = left < static_cast<std::int64_t>(capacity)
            ? static_cast<std::size_t>(left)
            : capacity;
        const ssize_t got = ::read(fd_, buffer, wanted);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error_ = "Cannot read " + span.path + ": " + std::strerror(errno);
            return -1;
        }
        if (got == 0) {
            // The file shrank under us: treat its end as the end of the span.
            error_ = "Cannot read " + span.path + ": the file was truncated while reading";
            return -1;
        }
        position_ += got;
        meter_->add(got);
        return static_cast<long>(got);
    }
    return 0;
}

std::int64_t VolumeSource::skip(std::int64_t count)
{
    if (count <= 0)
        return 0;
    const std::int64_t target = position_ + count < total_ ? position_ + count : total_;
    const std::int64_t moved = target - position_;
    if (moved <= 0)
        return 0;
    if (!selectSpanAt(target))
        return -1;
    meter_->add(moved);
    return moved;
}

std::int64_t VolumeSource::seek(std::int64_t offset, int whence)
{
    std::int64_t target = offset;
    if (whence == SEEK_CUR)
        target = position_ + offset;
    else if (whence == SEEK_END)
        target = total_ + offset;
    if (target < 0)
        return -1;
    if (target > total_)
        target = total_;
    // A seek is not consumption: the meter counts only what is read or
    // skipped, so that a format that looks at its directory at the end
    // first does not jump the progress to 100 %.
    if (!selectSpanAt(target))
        return -1;
    return position_;
}
