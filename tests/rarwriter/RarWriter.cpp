#include "RarWriter.h"

#include "Crc32.h"
#include "OutputFile.h"
#include "Rar4HeaderEncoder.h"
#include "Rar5HeaderEncoder.h"
#include "RarWriteError.h"
#include "Utf8.h"

#include <algorithm>
#include <cstdio>

namespace vorlo::rarwriter {

namespace {

constexpr std::size_t kChunk = 1 << 20;

void checkName(const std::string &name)
{
    if (name.empty())
        throw RarWriteError("an entry needs a name");
    if (name.find('\0') != std::string::npos)
        throw RarWriteError("a name cannot hold a zero byte");
    if (!isValidUtf8(name))
        throw RarWriteError("name is not valid UTF-8: " + name);
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
                closeVolume(true);
                openVolume();
                continue;
            }
            if (header.size() + remaining > room) {
                part.size = room - header.size();
                part.continuesInNext = true;
                header = encoder_->entryHeader(entry, part);
            } else {
                part.continuesInNext = false;
            }
        }

        const std::uint64_t headerOffset = volume_->size();
        volume_->append(header);

        Crc32 partCrc;
        std::uint64_t left = part.size;
        if (left > 0 && buffer_.size() < kChunk)
            buffer_.resize(kChunk);
        while (left > 0) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size()));
            const std::size_t got = contents->read(buffer_.data(), want);
            if (got == 0)
                throw RarWriteError("the contents of " + entry.name + " ended before its declared size");
            partCrc.update(buffer_.data(), got);
            wholeCrc.update(buffer_.data(), got);
            volume_->append(buffer_.data(), got);
            left -= got;
        }

        part.crc = part.continuesInNext ? partCrc.value() : wholeCrc.value();
        const std::string final = encoder_->entryHeader(entry, part);
        if (final.size() != header.size())
            throw RarWriteError("internal error: header length changed with its checksum");
        volume_->patch(headerOffset, final);

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
    if (finished_)
        return;
    closeVolume(false);
    finished_ = true;
}

} // namespace vorlo::rarwriter
