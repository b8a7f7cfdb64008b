#include "RarWriter.h"

#include "Crc32.h"
#include "Rar4HeaderEncoder.h"
#include "Rar5HeaderEncoder.h"
#include "RarWriteError.h"
#include "Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vorlo::rarwriter {

namespace {

constexpr std::size_t kChunk = 1 << 20;

std::filesystem::path volumePath(std::filesystem::path base, unsigned index, const WriterOptions &options)
{
    if (options.volumeSize == 0)
        return base;
    if (base.extension() == ".rar")
        base.replace_extension();
    char number[32];
    std::snprintf(number, sizeof number, ".part%0*u.rar", static_cast<int>(options.volumeDigits), index + 1);
    return base.string() + number;
}

} // namespace

std::unique_ptr<HeaderEncoder> HeaderEncoder::create(RarFormat format)
{
    if (format == RarFormat::Rar4)
        return std::make_unique<Rar4HeaderEncoder>();
    return std::make_unique<Rar5HeaderEncoder>();
}

RarWriter::RarWriter(std::filesystem::path archivePath, WriterOptions options)
    : archivePath_(std::move(archivePath)), options_(options), encoder_(HeaderEncoder::create(options.format))
{
    if (options_.volumeSize > 0)
        endReserve_ = encoder_->volumeEnd(0xFFFF, true, true).size();
    openVolume();
}

RarWriter::~RarWriter()
{
    if (volume_)
        std::fclose(volume_);
}

void RarWriter::openVolume()
{
    const unsigned index = static_cast<unsigned>(volumePaths_.size());
    const bool multiVolume = options_.volumeSize > 0;
    const std::string start = encoder_->volumeStart(index, multiVolume);
    if (multiVolume && start.size() + endReserve_ >= options_.volumeSize)
        throw RarWriteError("the volume size is too small for the archive headers");
    volumePaths_.push_back(volumePath(archivePath_, index, options_));
    volume_ = std::fopen(volumePaths_.back().c_str(), "wbe");
    check(volume_ != nullptr, "create");
    written_ = 0;
    append(start);
    volumeStartSize_ = written_;
}

void RarWriter::closeVolume(bool moreVolumes)
{
    const unsigned index = static_cast<unsigned>(volumePaths_.size() - 1);
    append(encoder_->volumeEnd(index, options_.volumeSize > 0, moreVolumes));
    const int status = std::fclose(volume_);
    volume_ = nullptr;
    check(status == 0, "write"); // a full disk shows here at the latest
}

void RarWriter::append(const char *data, std::size_t size)
{
    if (size == 0)
        return;  // a folder's empty data may come without a buffer
    check(std::fwrite(data, 1, size, volume_) == size, "write");
    written_ += size;
}

void RarWriter::patch(std::uint64_t offset, std::string_view bytes)
{
    check(std::fflush(volume_) == 0, "write");
    check(::pwrite(fileno(volume_), bytes.data(), bytes.size(), static_cast<off_t>(offset))
              == static_cast<ssize_t>(bytes.size()),
          "write");
}

void RarWriter::check(bool ok, const char *what) const
{
    if (!ok)
        throw RarWriteError(std::string("cannot ") + what + " " + volumePaths_.back().string() + ": "
                            + std::strerror(errno));
}

std::uint64_t RarWriter::roomLeft() const
{
    const std::uint64_t used = written_ + endReserve_;
    return used >= options_.volumeSize ? 0 : options_.volumeSize - used;
}

void RarWriter::addFile(ArchiveEntry entry, std::string_view contents)
{
    entry.size = contents.size();
    addFile(entry, [&contents](char *buffer, std::size_t size) {
        const std::size_t n = contents.copy(buffer, size);
        contents.remove_prefix(n);
        return n;
    });
}

void RarWriter::addEntry(const ArchiveEntry &entry, const ByteSource *contents)
{
    if (entry.name.empty())
        throw RarWriteError("an entry needs a name");
    utf8ToUtf16(entry.name); // throws on malformed UTF-8

    DataPart part;
    std::uint64_t remaining = entry.size;
    Crc32 wholeCrc;
    for (;;) {
        part.size = remaining;
        const std::string header = encoder_->entryHeader(entry, part);
        if (options_.volumeSize > 0) {
            // Take as much of the remaining data as this volume has room
            // for, but at least one byte: a header alone says nothing.
            const std::uint64_t room = roomLeft();
            if (header.size() + std::min<std::uint64_t>(remaining, 1) > room) {
                if (written_ == volumeStartSize_)
                    throw RarWriteError("the volume size is too small for the header of " + entry.name);
                closeVolume(true);
                openVolume();
                continue;
            }
            part.continuesInNext = header.size() + remaining > room;
            if (part.continuesInNext)
                part.size = room - header.size();
        }

        // A piece that fits the buffer is read before its header goes out; a
        // longer one streams behind a header patched once its checksum is
        // known. The length of a header never depends on its checksum.
        const bool streamed = part.size > kChunk;
        const std::uint64_t headerOffset = written_;
        if (streamed)
            append(header);
        if (part.size > 0 && buffer_.size() < kChunk)
            buffer_.resize(kChunk);
        Crc32 partCrc;
        std::size_t held = 0;
        for (std::uint64_t left = part.size; left > 0;) {
            char *at = buffer_.data() + held;
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk - held));
            const std::size_t got = (*contents)(at, want);
            if (got == 0)
                throw RarWriteError("the contents of " + entry.name + " ended before its declared size");
            partCrc.update(at, got);
            wholeCrc.update(at, got);
            if (streamed)
                append(at, got);
            else
                held += got;
            left -= got;
        }
        part.crc = part.continuesInNext ? partCrc.value() : wholeCrc.value();
        const std::string final = encoder_->entryHeader(entry, part);
        if (final.size() != header.size())
            throw RarWriteError("internal error: header length changed with its data");
        if (streamed) {
            patch(headerOffset, final);
        } else {
            append(final);
            append(buffer_.data(), held);
        }

        remaining -= part.size;
        if (!part.continuesInNext)
            break;
        closeVolume(true);
        openVolume();
        part.continuedFromPrevious = true;
    }
}

void RarWriter::finish()
{
    closeVolume(false);
}

} // namespace vorlo::rarwriter
