#include "ArchiveReader.h"

#include "Console.h"
#include "ContainerSource.h"
#include "ExitCode.h"
#include "FilteredSource.h"
#include "GzipSource.h"
#include "HelperProtocol.h"
#include "StopGuard.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::size_t kReadBufferSize = 64 * 1024;

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}
} // namespace

ArchiveReader::ArchiveReader(std::string path, PasswordPrompt& prompt)
    : path_(std::move(path)), prompt_(prompt), buffer_(kReadBufferSize)
{
}

ArchiveReader::~ArchiveReader()
{
    if (archive_)
        archive_read_free(archive_);
}

bool ArchiveReader::prepare()
{
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        error_ = "Cannot open " + Console::displayName(path_) + ": " + std::strerror(errno);
        errorStatus_ = kExitOpen;
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error_ = "Cannot open " + Console::displayName(path_) + ": " + std::strerror(EISDIR);
        errorStatus_ = kExitOpen;
        return false;
    }

    // Absolute paths: extraction changes the working directory later.
    set_ = rarcontainer::VolumeSet::discover(absolutePath(path_));
    signature_ = rarcontainer::BlockWalker::findSignature(set_.paths().front());

    std::vector<VolumeSource::Piece> pieces;
    for (const std::string& file : set_.paths())
        pieces.push_back(VolumeSource::Piece{file, pieces.empty() ? static_cast<std::int64_t>(signature_.offset) : 0});
    volumes_ = std::make_unique<VolumeSource>(std::move(pieces));
    if (!volumes_->open()) {
        error_ = volumes_->errorMessage();
        errorStatus_ = kExitOpen;
        return false;
    }
    if (!isRar())
        stackDecompressor();
    return true;
}

void ArchiveReader::stackDecompressor()
{
    // Compressed streams whose checks libarchive alone would leave unmade
    // are decompressed by a layer that reads them to their end. Streams
    // that carry no check (compress, lzma) stay with libarchive.
    unsigned char head[6] = {};
    const int fd = ::open(set_.paths().front().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    const auto starts = [&](const char* magic, std::size_t length) {
        return got >= static_cast<ssize_t>(length) && std::memcmp(head, magic, length) == 0;
    };
    if (starts("\x1F\x8B\x08", 3))
        layer_ = std::make_unique<GzipSource>(*volumes_);
    else if (starts("\xFD" "7zXZ\x00", 6) || starts("LZIP", 4) || starts("\x28\xB5\x2F\xFD", 4)
             || starts("\x04\x22\x4D\x18", 4) || starts("BZh", 3))
        layer_ = std::make_unique<FilteredSource>(*volumes_);
}

bool ArchiveReader::readToEnd()
{
    if (!layer_)
        return true;
    LibraryCall call;
    return layer_->readToEnd();
}

std::string ArchiveReader::streamError() const
{
    if (container_)
        return container_->errorMessage();
    return layer_ ? layer_->errorMessage() : std::string();
}

rarcontainer::Status ArchiveReader::stackContainer()
{
    container_ = std::make_unique<ContainerSource>(set_.paths(), prompt_, meter());
    return container_->open();
}

bool ArchiveReader::start()
{
    archive_ = archive_read_new();
    archive_read_support_filter_all(archive_);
    // Archive formats only. Not libarchive's "all": that includes mtree, a
    // text manifest that takes almost any line of text for an entry (and
    // names files outside the archive), and "empty", which takes an empty
    // file for a sound archive. RAR is the helper's own RAR layer's.
    archive_read_support_format_7zip(archive_);
    archive_read_support_format_ar(archive_);
    archive_read_support_format_cab(archive_);
    archive_read_support_format_cpio(archive_);
    archive_read_support_format_iso9660(archive_);
    archive_read_support_format_lha(archive_);
    archive_read_support_format_tar(archive_);
    archive_read_support_format_warc(archive_);
    archive_read_support_format_xar(archive_);
    archive_read_support_format_zip(archive_);
    archive_read_set_passphrase_callback(archive_, this, passphraseCallback);
    archive_read_set_callback_data(archive_, this);
    archive_read_set_read_callback(archive_, readCallback);
    archive_read_set_skip_callback(archive_, skipCallback);
    ByteSource& top = layer_ ? *layer_ : *volumes_;
    if (top.seekable())
        archive_read_set_seek_callback(archive_, seekCallback);

    int status;
    {
        LibraryCall call;
        status = archive_read_open1(archive_);
    }
    if (status != ARCHIVE_OK) {
        error_ = Console::displayName(path_) + ": " + libraryError();
        errorStatus_ = streamError().find("checksum") != std::string::npos ? kExitChecksum : kExitFatal;
        return false;
    }
    return true;
}

bool ArchiveReader::incomplete()
{
    if (!set_.missing().empty())
        return true;
    if (!container_)
        return false;
    container_->stream().walkRest();
    return container_->stream().shortfall() != rarcontainer::BlockWalker::Shortfall::None;
}

void ArchiveReader::reportIncomplete(const std::string& archiveName) const
{
    if (!missingVolume().empty())
        reportMissingVolume();
    else if (container_ && container_->stream().shortfall() == rarcontainer::BlockWalker::Shortfall::CutShort)
        Console::errorLine(Console::displayName(archiveName) + ": the archive is cut short");
    else
        Console::errorLine(Console::displayName(archiveName) + ": the next volume is missing");
    Console::errorLine("Unexpected end of archive");
}

void ArchiveReader::reportMissingVolume() const
{
    if (!missingVolume().empty())
        Console::errorLine("Cannot find volume " + Console::displayName(missingVolume()));
}

void ArchiveReader::reportSkippedHeaders(const std::string& archiveName) const
{
    Console::errorLine(Console::displayName(archiveName) + ": " + skippedHeaderError_
                       + " (stepped over to the next sound header: what lay between is missing)");
    Console::errorLine(HelperProtocol::kDamaged);
}

int ArchiveReader::nextHeader(archive_entry** entry)
{
    LibraryCall call;
    headerFault_.clear();
    int status = archive_read_next_header(archive_, entry);
    // A header that fails its own checksum (tar) comes back as ARCHIVE_RETRY
    // with a stale entry; libarchive looks for the next one on the next call.
    while (status == ARCHIVE_RETRY) {
        if (skippedHeaders_++ == 0)
            skippedHeaderError_ = libraryError();
        const la_int64_t before = archive_read_header_position(archive_);
        status = archive_read_next_header(archive_, entry);
        if (status == ARCHIVE_RETRY && archive_read_header_position(archive_) <= before) {
            // Not moving on: the same damaged header forever.
            *entry = nullptr;
            return ARCHIVE_FATAL;
        }
    }
    // A warning from a header is mostly about something libarchive worked
    // around and that leaves the data sound: a name it could not convert, an
    // extended attribute or extra field it does not know or ignored. Only a
    // header that contradicts itself about the entry's checksum or sizes
    // (ZIP's local header against its central directory: "Inconsistent ...")
    // makes the entry's data untrustworthy, since the data is then checked
    // against one of two values that cannot both be right.
    if (status == ARCHIVE_WARN) {
        const std::string why = libraryError();
        if (why.find("nconsistent") != std::string::npos)
            headerFault_ = why;
    }
    if (status >= ARCHIVE_FAILED && *entry)
        ++entries_;
    return status;
}

bool ArchiveReader::entryEncrypted(archive_entry* entry) const
{
    return archive_entry_is_encrypted(entry);
}

std::string ArchiveReader::libraryError() const
{
    const char* text = archive_ ? archive_error_string(archive_) : nullptr;
    if (text && *text)
        return text;
    // libarchive gave up on what a layer below it refused.
    const ByteSource* top = layer_ ? layer_.get() : volumes_.get();
    const std::string below = top ? top->errorMessage() : std::string();
    return below.empty() ? "unknown error" : below;
}

long ArchiveReader::readCallback(archive* a, void* self, const void** buffer)
{
    auto* reader = static_cast<ArchiveReader*>(self);
    ByteSource& top = reader->layer_ ? *reader->layer_ : *reader->volumes_;
    *buffer = reader->buffer_.data();
    // A source with a buffer of its own lends it: libarchive reads it in place.
    const long got = top.lends() ? top.lend(buffer) : top.read(reader->buffer_.data(), reader->buffer_.size());
    if (got < 0)
        archive_set_error(a, EIO, "%s", top.errorMessage().c_str());
    return got;
}

std::int64_t ArchiveReader::skipCallback(archive*, void* self, std::int64_t request)
{
    auto* reader = static_cast<ArchiveReader*>(self);
    ByteSource& top = reader->layer_ ? *reader->layer_ : *reader->volumes_;
    const std::int64_t moved = top.skip(request);
    return moved < 0 ? 0 : moved;  // 0 makes libarchive read and discard instead
}

std::int64_t ArchiveReader::seekCallback(archive* a, void* self, std::int64_t offset, int whence)
{
    auto* reader = static_cast<ArchiveReader*>(self);
    ByteSource& top = reader->layer_ ? *reader->layer_ : *reader->volumes_;
    const std::int64_t position = top.seek(offset, whence);
    if (position < 0) {
        archive_set_error(a, EIO, "%s", top.errorMessage().c_str());
        return ARCHIVE_FATAL;
    }
    return position;
}

const char* ArchiveReader::passphraseCallback(archive*, void* self)
{
    // libarchive asks only when every password it holds has failed, so a
    // second call means the previous answer was wrong.
    auto* reader = static_cast<ArchiveReader*>(self);
    StopGuard::instance().leaveLibrary();  // a prompt is not a stall
    std::optional<std::string> answer = reader->passphraseRequests_++ > 0 ? reader->prompt_.retry()
                                                                          : reader->prompt_.first();
    StopGuard::instance().enterLibrary();
    if (!answer) {
        reader->passwordGivenUp_ = true;
        return nullptr;
    }
    reader->passphrase_ = *answer;
    return reader->passphrase_.c_str();
}
