#include "RarProbe.h"

#include "ReadWindow.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const unsigned char kRar4Signature[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
const unsigned char kRar5Signature[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

// Headers larger than this are taken as damage rather than read.
constexpr std::int64_t kMaxHeaderSize = 2 * 1024 * 1024;
// A header walk gives up after this many blocks (hostile archives).
constexpr int kMaxBlocks = 1000000;

// Read-only file with positioned reads; several raw pieces of one archive
// read as one file.
class File {
public:
    explicit File(const std::vector<std::string>& paths)
    {
        for (const std::string& path : paths) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            if (fd < 0 || ::fstat(fd, &info) != 0) {
                if (fd >= 0)
                    ::close(fd);
                ok_ = false;
                return;
            }
            parts_.push_back(Part{fd, size_, info.st_size});
            size_ += info.st_size;
        }
        ok_ = !parts_.empty();
    }
    explicit File(const std::string& path) : File(std::vector<std::string>{path}) {}
    ~File()
    {
        for (const Part& part : parts_)
            ::close(part.fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool ok() const { return ok_; }
    std::int64_t size() const { return size_; }

    // Reads exactly `length` bytes at `offset`; false at the end of the file.
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const
    {
        if (!ok_ || offset < 0 || offset + static_cast<std::int64_t>(length) > size_)
            return false;
        return window_.read(0, static_cast<std::uint64_t>(offset), buffer, length,
                            static_cast<std::uint64_t>(size_),
                            [this](std::uint64_t at, void* into, std::size_t count) {
                                return readDirect(static_cast<std::int64_t>(at), into, count);
                            });
    }

private:
    bool readDirect(std::int64_t offset, void* buffer, std::size_t length) const
    {
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < length) {
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            const Part* part = nullptr;
            for (const Part& candidate : parts_)
                if (at >= candidate.start && at < candidate.start + candidate.size)
                    part = &candidate;
            if (!part)
                return false;
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(length - done), part->start + part->size - at));
            const ssize_t got = ::pread(part->fd, out + done, wanted, at - part->start);
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    struct Part {
        int fd;
        std::int64_t start;
        std::int64_t size;
    };
    std::vector<Part> parts_;
    std::int64_t size_ = 0;
    bool ok_ = false;
    mutable rarcontainer::ReadWindow window_;
};

std::uint32_t le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// RAR 5 variable-length integer; false when it runs past `end` or is too long.
bool readVint(const unsigned char*& p, const unsigned char* end, std::uint64_t& value)
{
    value = 0;
    for (int shift = 0; shift < 64 && p < end; shift += 7) {
        const unsigned char byte = *p++;
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

bool startsWith(const unsigned char* data, std::size_t size, const void* magic, std::size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// Formats that libarchive recognises by their first bytes: a file that
// starts like one of them is that format, whatever it stores.
bool startsAsOtherFormat(const unsigned char* data, std::size_t size)
{
    static const char* const kMagics[] = {
        "PK\x03\x04", "PK\x05\x06", "PK\x07\x08", "7z\xBC\xAF\x27\x1C", "\x1F\x8B", "BZh",
        "\xFD" "7zXZ", "\x28\xB5\x2F\xFD", "\x04\x22\x4D\x18", "\x5D\x00\x00", "070707",
        "07070", "!<arch>", "xar!", "MSCF",
    };
    for (const char* magic : kMagics)
        if (startsWith(data, size, magic, std::strlen(magic)))
            return true;
    if (size >= 262 && std::memcmp(data + 257, "ustar", 5) == 0)
        return true;
    return false;
}

// True when a RAR 4 main header follows the signature at `offset`.
bool plausibleRar4(const File& file, std::int64_t offset)
{
    unsigned char header[7];
    if (!file.readAt(offset + 7, header, sizeof header))
        return false;
    return header[2] == 0x73 && le16(header + 5) >= 7;
}

// True when a RAR 5 header with a sane size follows the signature.
bool plausibleRar5(const File& file, std::int64_t offset)
{
    unsigned char header[16];
    if (!file.readAt(offset + 8, header, sizeof header))
        return false;
    const unsigned char* p = header + 4;
    std::uint64_t size = 0;
    std::uint64_t type = 0;
    if (!readVint(p, header + sizeof header, size) || size == 0 || size > kMaxHeaderSize)
        return false;
    if (!readVint(p, header + sizeof header, type))
        return false;
    return type == 1 || type == 4;  // main header, or archive encryption header
}

void walkRar4(const File& file, std::int64_t offset, RarProbe::Layout& layout,
              bool& sawEnd, bool& lastSplitAfter)
{
    offset += sizeof kRar4Signature;
    for (int blocks = 0; blocks < kMaxBlocks && offset < file.size(); ++blocks) {
        unsigned char base[7 + 4];
        if (!file.readAt(offset, base, 7)) {
            layout.damaged = true;
            return;
        }
        const unsigned type = base[2];
        const unsigned flags = le16(base + 3);
        const std::int64_t headerSize = le16(base + 5);
        if (headerSize < 7) {
            layout.damaged = true;
            return;
        }
        std::int64_t dataSize = 0;
        if ((flags & 0x8000) || type == 0x74 || type == 0x7A) {
            if (!file.readAt(offset + 7, base + 7, 4)) {
                layout.damaged = true;
                return;
            }
            dataSize = le32(base + 7);
        }
        if (type == 0x73) {
            if (flags & 0x0001)
                layout.volume = true;
            if (flags & 0x0080) {
                layout.headersEncrypted = true;
                return;
            }
        } else if (type == 0x74) {
            unsigned char high[4];
            if ((flags & 0x0100) && file.readAt(offset + 32, high, 4))
                dataSize += static_cast<std::int64_t>(le32(high)) << 32;
            unsigned char fields[32 - 7];
            if (!file.readAt(offset + 7, fields, sizeof fields)) {
                layout.damaged = true;
                return;
            }
            std::int64_t unpacked = le32(fields + 4);
            if ((flags & 0x0100) && file.readAt(offset + 36, high, 4))
                unpacked += static_cast<std::int64_t>(le32(high)) << 32;
            if (!(flags & 0x0001)) {
                RarProbe::Entry entry;
                entry.encrypted = (flags & 0x0004) != 0;
                entry.directory = (flags & 0x00E0) == 0x00E0;
                entry.size = unpacked;
                layout.entries.push_back(entry);
            }
            // The last part of a split file holds the CRC of the whole file.
            if (!layout.entries.empty() && !(flags & 0x0002)) {
                layout.entries.back().hasCrc = true;
                layout.entries.back().crc = le32(fields + 9);
            }
            lastSplitAfter = (flags & 0x0002) != 0;
        } else if (type == 0x7B) {
            sawEnd = true;
            layout.continues = (flags & 0x0001) != 0;
            return;
        }
        offset += headerSize + dataSize;
    }
    if (offset < file.size())
        layout.walkCut = true;
}

void walkRar5(const File& file, std::int64_t offset, RarProbe::Layout& layout, bool& sawEnd,
              bool& lastSplitAfter)
{
    offset += sizeof kRar5Signature;
    std::vector<unsigned char> header;
    for (int blocks = 0; blocks < kMaxBlocks && offset < file.size(); ++blocks) {
        unsigned char start[4 + 10];
        const std::size_t available = static_cast<std::size_t>(
            std::min<std::int64_t>(sizeof start, file.size() - offset));
        if (available < 6 || !file.readAt(offset, start, available)) {
            layout.damaged = true;
            return;
        }
        const unsigned char* p = start + 4;
        std::uint64_t size = 0;
        if (!readVint(p, start + available, size) || size == 0 || size > kMaxHeaderSize) {
            layout.damaged = true;
            return;
        }
        const std::int64_t bodyOffset = offset + (p - start);
        header.resize(size);
        if (!file.readAt(bodyOffset, header.data(), header.size())) {
            layout.damaged = true;
            return;
        }
        const unsigned char* q = header.data();
        const unsigned char* end = q + header.size();
        std::uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!readVint(q, end, type) || !readVint(q, end, flags)
            || ((flags & 0x0001) && !readVint(q, end, extraSize))
            || ((flags & 0x0002) && !readVint(q, end, dataSize)) || extraSize > size) {
            layout.damaged = true;
            return;
        }
        if (type == 4) {
            layout.headersEncrypted = true;
            return;
        }
        if (type == 1) {
            std::uint64_t archiveFlags = 0;
            if (readVint(q, end, archiveFlags) && (archiveFlags & 0x0001))
                layout.volume = true;
        } else if (type == 2) {
            RarProbe::Entry entry;
            std::uint64_t fileFlags = 0, unpacked = 0, attributes = 0;
            const unsigned char* fields = q;
            const bool parsed = readVint(fields, end, fileFlags) && readVint(fields, end, unpacked)
                && readVint(fields, end, attributes) && (!(fileFlags & 0x0002) || end - fields >= 4);
            if (parsed) {
                if (fileFlags & 0x0002)
                    fields += 4;
                entry.directory = (fileFlags & 0x0001) != 0;
                if (!(fileFlags & 0x0008))
                    entry.size = static_cast<std::int64_t>(unpacked);
                if ((fileFlags & 0x0004) && end - fields >= 4) {
                    entry.hasCrc = true;
                    entry.crc = le32(fields);
                }
            }
            bool encrypted = false;
            const unsigned char* extra = end - extraSize;
            while (extra < end) {
                std::uint64_t recordSize = 0, recordType = 0;
                const unsigned char* record = extra;
                if (!readVint(record, end, recordSize) || recordSize == 0
                    || recordSize > static_cast<std::uint64_t>(end - record))
                    break;
                const unsigned char* next = record + recordSize;
                if (!readVint(record, next, recordType))
                    break;
                if (recordType == 0x01)
                    encrypted = true;
                if (recordType == 0x04)
                    entry.oldVersion = true;
                extra = next;
            }
            entry.encrypted = encrypted;
            if (!(flags & 0x0008)) {
                if (flags & 0x0010)
                    entry.hasCrc = false;  // the whole file's CRC comes with its last part
                layout.entries.push_back(entry);
            } else if (!layout.entries.empty()) {
                RarProbe::Entry& whole = layout.entries.back();
                whole.hasCrc = entry.hasCrc && !(flags & 0x0010);
                whole.crc = entry.crc;
            }
            lastSplitAfter = (flags & 0x0010) != 0;
        } else if (type == 5) {
            std::uint64_t endFlags = 0;
            sawEnd = true;
            layout.continues = readVint(q, end, endFlags) && (endFlags & 0x0001);
            return;
        }
        if (dataSize > static_cast<std::uint64_t>(file.size()))
            dataSize = static_cast<std::uint64_t>(file.size());
        offset = bodyOffset + static_cast<std::int64_t>(size) + static_cast<std::int64_t>(dataSize);
    }
    if (offset < file.size())
        layout.walkCut = true;
}

} // namespace

bool RarProbe::Layout::anyEncrypted() const
{
    for (const Entry& entry : entries)
        if (entry.encrypted)
            return true;
    return false;
}

RarProbe::Signature RarProbe::findSignature(const std::string& path)
{
    Signature result;
    File file(path);
    if (!file.ok())
        return result;

    constexpr std::size_t kChunk = 1 << 16;
    std::vector<unsigned char> buffer(kChunk + sizeof kRar5Signature);
    std::int64_t offset = 0;
    while (offset < file.size() && offset < kSearchLimit) {
        const std::size_t length = static_cast<std::size_t>(
            std::min<std::int64_t>(buffer.size(), file.size() - offset));
        if (!file.readAt(offset, buffer.data(), length))
            break;
        if (offset == 0 && startsAsOtherFormat(buffer.data(), length))
            return result;
        for (std::size_t i = 0; i + sizeof kRar4Signature <= length && i < kChunk; ++i) {
            if (buffer[i] != 'R' || std::memcmp(&buffer[i], kRar4Signature, 6) != 0)
                continue;
            const std::int64_t at = offset + static_cast<std::int64_t>(i);
            if (buffer[i + 6] == 0x00 && (at == 0 || plausibleRar4(file, at))) {
                result.version = 4;
                result.offset = at;
                return result;
            }
            if (i + sizeof kRar5Signature <= length && buffer[i + 6] == 0x01 && buffer[i + 7] == 0x00
                && (at == 0 || plausibleRar5(file, at))) {
                result.version = 5;
                result.offset = at;
                return result;
            }
        }
        offset += kChunk;
    }
    return result;
}

RarProbe::Layout RarProbe::inspect(const std::vector<std::string>& volumes, const Signature& first,
                                   bool pieces)
{
    Layout layout;
    layout.version = first.version;
    bool sawEnd = false;
    bool lastSplitAfter = false;
    const std::size_t count = pieces ? 1 : volumes.size();
    for (std::size_t i = 0; i < count; ++i) {
        File file(pieces ? volumes : std::vector<std::string>{volumes[i]});
        if (!file.ok()) {
            layout.damaged = true;
            break;
        }
        std::int64_t offset = i == 0 ? first.offset : 0;
        sawEnd = false;
        lastSplitAfter = false;
        layout.continues = false;
        if (first.version == 4)
            walkRar4(file, offset, layout, sawEnd, lastSplitAfter);
        else
            walkRar5(file, offset, layout, sawEnd, lastSplitAfter);
        // Every RAR 5 volume closes with an end-of-archive block: without it
        // the file was cut, maybe right between two entries, where libarchive
        // sees a plain end.
        if (first.version == 5 && !sawEnd && !layout.headersEncrypted && !layout.walkCut)
            layout.truncated = true;
        if (layout.headersEncrypted || layout.damaged || layout.walkCut)
            break;
    }
    if (!layout.headersEncrypted && !layout.damaged && !layout.walkCut && !sawEnd && lastSplitAfter)
        layout.continues = true;
    return layout;
}
