#include "RarWriter.h"

#include "Crc32.h"
#include "OutputFile.h"
#include "Rar4HeaderEncoder.h"
#include "Rar5HeaderEncoder.h"
#include "RarWriteError.h"
#include "Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <iterator>

namespace vorlo::rarwriter {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::uint64_t kMinimumLastVolume = 512;

void checkName(const std::string &name)
{
    if (name.empty())
        throw RarWriteError("an entry needs a name");
    if (name.find('\0') != std::string::npos)
        throw RarWriteError("a name cannot hold a zero byte");
    if (!isValidUtf8(name))
        throw RarWriteError("name is not valid UTF-8: " + name);
}

std::string readWholeFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw RarWriteError("cannot read back " + path.string());
    return bytes;
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

RarWriter::~RarWriter() = default;

std::filesystem::path RarWriter::volumePath(const std::filesystem::path &archivePath, unsigned index,
                                            const WriterOptions &options)
{
    if (options.volumeSize == 0)
        return archivePath;
    std::filesystem::path base = archivePath;
    if (base.extension() == ".rar")
        base.replace_extension();
    char number[32];
    if (options.oldVolumeNames) {
        if (index == 0)
            return base.string() + ".rar";
        std::snprintf(number, sizeof number, ".r%02u", index - 1);
        return base.string() + number;
    }
    std::snprintf(number, sizeof number, ".part%0*u.rar", static_cast<int>(std::max(1u, options.volumeDigits)),
                  index + 1);
    return base.string() + number;
}

void RarWriter::openVolume()
{
    const unsigned index = static_cast<unsigned>(volumePaths_.size());
    const bool multiVolume = options_.volumeSize > 0;
    volumePaths_.push_back(volumePath(archivePath_, index, options_));
    volume_ = std::make_unique<OutputFile>(volumePaths_.back());
    volume_->append(encoder_->volumeStart(index, multiVolume, !options_.oldVolumeNames));
    lastPiece_.reset();
    entriesAfterLastPiece_.clear();
    volumeStartPiece_.reset();
    volumeStartSize_ = volume_->size();
    if (multiVolume && volumeStartSize_ + endReserve_ >= options_.volumeSize)
        throw RarWriteError("the volume size is too small for the archive headers");
}

void RarWriter::closeVolume(bool moreVolumes)
{
    const unsigned index = static_cast<unsigned>(volumePaths_.size() - 1);
    volume_->append(encoder_->volumeEnd(index, options_.volumeSize > 0, moreVolumes));
    volume_->close();
    volume_.reset();
}

std::uint64_t RarWriter::roomLeft() const
{
    const std::uint64_t used = volume_->size() + endReserve_;
    return used >= options_.volumeSize ? 0 : options_.volumeSize - used;
}

void RarWriter::addDirectory(const ArchiveEntry &entry)
{
    ArchiveEntry folder = entry;
    folder.directory = true;
    folder.size = 0;
    addEntry(folder, nullptr);
}

void RarWriter::addFile(const ArchiveEntry &entry, ByteSource &contents)
{
    ArchiveEntry file = entry;
    file.directory = false;
    addEntry(file, &contents);
}

void RarWriter::addFile(ArchiveEntry entry, std::string_view contents)
{
    entry.size = contents.size();
    StringSource source{std::string(contents)};
    addFile(entry, source);
}

void RarWriter::addEntry(const ArchiveEntry &entry, ByteSource *contents)
{
    if (finished_)
        throw RarWriteError("the archive is already finished");
    checkName(entry.name);

    const bool volumes = options_.volumeSize > 0;
    DataPart part;
    std::uint64_t remaining = entry.size;
    Crc32 wholeCrc;
    for (;;) {
        // Take as much of the remaining data as this volume has room for,
        // but at least one byte: a header alone says nothing.
        part.size = remaining;
        std::string header = encoder_->entryHeader(entry, part);
        if (volumes) {
            const std::uint64_t room = roomLeft();
            const std::uint64_t needed = header.size() + (remaining > 0 ? 1 : 0);
            if (needed > room) {
                if (volume_->size() == volumeStartSize_)
                    throw RarWriteError("the volume size is too small for the header of " + entry.name);
                nextVolume();
                continue;
            }
            part.continuesInNext = header.size() + remaining > room;
            if (part.continuesInNext) {
                part.size = room - header.size();
                header = encoder_->entryHeader(entry, part);
            }
        }

        const std::uint64_t headerOffset = volume_->size();
        volume_->append(header);

        Crc32 partCrc, partCrcBeforeLastByte;
        char lastByte = 0;
        std::uint64_t left = part.size;
        if (left > 0 && buffer_.size() < kChunk)
            buffer_.resize(kChunk);
        while (left > 0) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size()));
            const std::size_t got = contents->read(buffer_.data(), want);
            if (got == 0)
                throw RarWriteError("the contents of " + entry.name + " ended before its declared size");
            if (got == left) {
                partCrc.update(buffer_.data(), got - 1);
                partCrcBeforeLastByte = partCrc;
                partCrc.update(buffer_.data() + got - 1, 1);
                lastByte = buffer_[got - 1];
            } else {
                partCrc.update(buffer_.data(), got);
            }
            wholeCrc.update(buffer_.data(), got);
            volume_->append(buffer_.data(), got);
            left -= got;
        }

        part.crc = part.continuesInNext ? partCrc.value() : wholeCrc.value();
        const std::string final = encoder_->entryHeader(entry, part);
        if (final.size() != header.size())
            throw RarWriteError("internal error: header length changed with its checksum");
        volume_->patch(headerOffset, final);

        const Piece written{entry, part, headerOffset, final.size(), partCrcBeforeLastByte.value(),
                            wholeCrc.value(), lastByte};
        if (part.continuedFromPrevious && headerOffset == volumeStartSize_)
            volumeStartPiece_ = written;
        if (part.size >= 2) {
            lastPiece_ = written;
            entriesAfterLastPiece_.clear();
        } else if (part.size == 1) {
            lastPiece_.reset(); // nothing left to shorten
        } else {
            entriesAfterLastPiece_.push_back(entry);
        }

        remaining -= part.size;
        if (!part.continuesInNext)
            break;
        previousVolumeEnd_ = written;
        closeVolume(true);
        openVolume();
        part.continuedFromPrevious = true;
    }
}

void RarWriter::nextVolume()
{
    if (!lastPiece_) {
        previousVolumeEnd_.reset();
        closeVolume(true);
        openVolume();
        return;
    }
    // Cut the volume after all but the last byte of the last file piece;
    // that byte, and the headers of any empty entries that followed it,
    // open the next volume instead.
    const Piece piece = *lastPiece_;
    const std::vector<ArchiveEntry> following = entriesAfterLastPiece_;
    volume_->truncate(piece.headerOffset + piece.headerSize + piece.part.size - 1);
    DataPart shortened = piece.part;
    shortened.size -= 1;
    shortened.continuesInNext = true;
    shortened.crc = piece.crcBeforeLastByte;
    const std::string header = encoder_->entryHeader(piece.entry, shortened);
    if (header.size() != piece.headerSize)
        throw RarWriteError("internal error: header length changed with its data size");
    volume_->patch(piece.headerOffset, header);
    previousVolumeEnd_ = piece;
    previousVolumeEnd_->part = shortened;
    closeVolume(true);
    openVolume();

    const DataPart tail{1, piece.wholeCrc, true, false};
    volumeStartPiece_ = piece;
    volumeStartPiece_->part = tail;
    volumeStartPiece_->headerOffset = volume_->size();
    writeHeaderOnly(piece.entry, tail);
    volume_->append(&piece.lastByte, 1);
    for (const ArchiveEntry &entry : following)
        writeHeaderOnly(entry, DataPart{});
}

void RarWriter::writeHeaderOnly(const ArchiveEntry &entry, const DataPart &part)
{
    const std::string header = encoder_->entryHeader(entry, part);
    if (header.size() + part.size > roomLeft())
        throw RarWriteError("the volume size is too small for the header of " + entry.name);
    volume_->append(header);
}

void RarWriter::finish()
{
    if (finished_)
        return;
    closeVolume(false);
    finished_ = true;
    if (options_.format == RarFormat::Rar5 && volumePaths_.size() > 1)
        lengthenLastVolume();
}

// libarchive 3.6 cannot move on to a last RAR 5 volume shorter than about
// 511 bytes (and reads on past an end header followed by padding). When the
// last volume is that short, move the end of the file piece that closes the
// previous volume into it. Both volumes are closed by now: the previous one
// loses bytes from before its end header, the short last one is rebuilt in
// memory.
void RarWriter::lengthenLastVolume()
{
    const std::filesystem::path &lastPath = volumePaths_.back();
    const std::filesystem::path &previousPath = volumePaths_[volumePaths_.size() - 2];
    const std::uint64_t lastSize = std::filesystem::file_size(lastPath);
    if (lastSize >= kMinimumLastVolume || !previousVolumeEnd_ || !volumeStartPiece_
        || previousVolumeEnd_->entry.name != volumeStartPiece_->entry.name || previousVolumeEnd_->part.size < 2)
        return;
    Piece before = *previousVolumeEnd_;
    Piece after = *volumeStartPiece_;
    const std::uint64_t moved = std::min<std::uint64_t>(kMinimumLastVolume - lastSize, before.part.size - 1);

    const std::string last = readWholeFile(lastPath);
    const std::uint64_t dataStart = before.headerOffset + before.headerSize;
    const std::uint64_t dataEnd = dataStart + before.part.size;
    const std::uint64_t previousSize = std::filesystem::file_size(previousPath);

    // The previous volume is edited in place: it may be large.
    const int fd = ::open(previousPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw RarWriteError("cannot reopen " + previousPath.string() + ": " + std::strerror(errno));
    const auto readAt = [&](std::uint64_t offset, std::size_t size) {
        std::string bytes(size, '\0');
        if (::pread(fd, bytes.data(), size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
            throw RarWriteError("cannot read back " + previousPath.string());
        return bytes;
    };
    const auto writeAt = [&](std::uint64_t offset, const std::string &bytes) {
        if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size()))
            throw RarWriteError("cannot write " + previousPath.string() + ": " + std::strerror(errno));
    };
    const std::string movedBytes = readAt(dataEnd - moved, static_cast<std::size_t>(moved));
    const std::string endHeader = readAt(dataEnd, static_cast<std::size_t>(previousSize - dataEnd));
    before.part.size -= moved;
    Crc32 crc;
    if (buffer_.size() < kChunk)
        buffer_.resize(kChunk);
    for (std::uint64_t done = 0; done < before.part.size;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, before.part.size - done));
        if (::pread(fd, buffer_.data(), want, static_cast<off_t>(dataStart + done)) != static_cast<ssize_t>(want))
            throw RarWriteError("cannot read back " + previousPath.string());
        crc.update(buffer_.data(), want);
        done += want;
    }
    before.part.crc = crc.value();
    const std::string beforeHeader = encoder_->entryHeader(before.entry, before.part);
    if (beforeHeader.size() != before.headerSize)
        throw RarWriteError("internal error: header length changed while lengthening the last volume");
    writeAt(before.headerOffset, beforeHeader);
    writeAt(dataEnd - moved, endHeader);
    const bool truncated = ::ftruncate(fd, static_cast<off_t>(previousSize - moved)) == 0;
    if (::close(fd) != 0 || !truncated)
        throw RarWriteError("cannot write " + previousPath.string() + ": " + std::strerror(errno));

    after.part.size += moved;
    std::string rebuilt = last.substr(0, static_cast<std::size_t>(after.headerOffset));
    rebuilt += encoder_->entryHeader(after.entry, after.part);
    rebuilt += movedBytes;
    rebuilt.append(last, static_cast<std::size_t>(after.headerOffset + after.headerSize), std::string::npos);
    if (rebuilt.size() != last.size() + moved)
        throw RarWriteError("internal error: header length changed while lengthening the last volume");
    OutputFile file(lastPath);
    file.append(rebuilt);
    file.close();
}

} // namespace vorlo::rarwriter
