#include "Rar14Layout.h"

#include "Bytes.h"
#include "CodePage437.h"

#include <cstring>

namespace rarcontainer {

namespace {

const uint8_t kSignature[4] = {0x52, 0x45, 0x7E, 0x5E};
constexpr size_t kMainFixed = 7;   // signature, header size, flags
constexpr size_t kFileFixed = 21;  // up to the name

void put16(std::vector<uint8_t> &h, size_t at, uint32_t v)
{
    h[at] = uint8_t(v);
    h[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t> &h, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
}

// Readers of the restated header check its checksum like any other.
void seal(std::vector<uint8_t> &h)
{
    put16(h, 5, uint32_t(h.size()));
    put16(h, 0, uint16_t(crc32Of(h.data() + 2, h.size() - 2)));
}

// These archivers ran on DOS alone, so every name byte above 0x7F is code
// page 437, never UTF-8 (which came later), whatever the bytes look like.
std::string cp437ToUtf8(const uint8_t *data, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        const uint32_t c = data[i] < 0x80 ? data[i] : uint32_t(codepages::kCp437High[data[i] - 0x80]);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

bool Rar14Layout::startsVolume(const VolumeSet &volumes, size_t volume)
{
    uint8_t head[kMainFixed];
    if (volume >= volumes.count() || !volumes.readAt(volume, 0, head, sizeof head)) return false;
    const uint16_t size = uint16_t(head[4] | (head[5] << 8));
    return memcmp(head, kSignature, 4) == 0 && size >= kMainFixed && size <= volumes.size(volume);
}

Rar14Layout::Result Rar14Layout::readMain(const VolumeSet &volumes, size_t volume, uint64_t pos,
                                          std::vector<uint8_t> &header, uint64_t &end)
{
    const uint64_t avail = volumes.size(volume) - pos;
    uint8_t head[kMainFixed];
    if (avail < kMainFixed || !volumes.readAt(volume, pos, head, sizeof head)) return Result::Truncated;
    if (memcmp(head, kSignature, 4) != 0) return Result::Damaged;
    // The size covers the signature and the archive comment kept in the header.
    const uint16_t size = uint16_t(head[4] | (head[5] << 8));
    if (size < kMainFixed) return Result::Damaged;
    if (size > avail) return Result::Truncated;
    // Volume, lock and solid keep their bits; the comment is left behind.
    header.assign(13, 0);
    header[2] = 0x73;
    header[3] = uint8_t(head[6] & (0x01 | 0x04 | 0x08));
    seal(header);
    end = pos + size;
    return Result::Ok;
}

Rar14Layout::Result Rar14Layout::readFile(const VolumeSet &volumes, size_t volume, uint64_t pos,
                                          std::vector<uint8_t> &header, uint64_t &end)
{
    const uint64_t avail = volumes.size(volume) - pos;
    uint8_t fixed[kFileFixed];
    if (avail < kFileFixed || !volumes.readAt(volume, pos, fixed, sizeof fixed)) return Result::Truncated;
    ByteReader r(fixed, sizeof fixed);
    const uint32_t packSize = r.u32();
    const uint32_t unpSize = r.u32();
    const uint16_t sum = r.u16();
    const uint16_t size = r.u16();
    const uint32_t dosTime = r.u32();
    const uint8_t attributes = r.u8();
    const uint8_t flags = r.u8();
    r.u8();  // version needed: 1.3 and 1.4 data decode alike
    const uint8_t nameSize = r.u8();
    uint8_t method = r.u8();
    // The file comment follows the name within the header's size.
    if (size < kFileFixed + nameSize) return Result::Damaged;
    if (size > avail) return Result::Truncated;
    if (method >= 0x30) method = uint8_t(method - 0x30);
    if (method > 5) return Result::Damaged;
    std::vector<uint8_t> rawName(nameSize);
    if (!volumes.readAt(volume, pos + kFileFixed, rawName.data(), nameSize)) return Result::Truncated;
    const std::string name = cp437ToUtf8(rawName.data(), nameSize);

    header.assign(32 + name.size(), 0);
    header[2] = 0x74;
    // Split before and after, encrypted, solid; the comment is left behind.
    put16(header, 3, flags & (0x01 | 0x02 | 0x04 | 0x10));
    put32(header, 7, packSize);
    put32(header, 11, unpSize);
    header[15] = 0;  // DOS
    put32(header, 16, sum);
    put32(header, 20, dosTime);
    header[24] = 13;
    header[25] = uint8_t(0x30 + method);
    put16(header, 26, uint32_t(name.size()));
    put32(header, 28, attributes);
    memcpy(header.data() + 32, name.data(), name.size());
    seal(header);
    end = pos + size;
    return Result::Ok;
}

uint16_t Rar14Layout::checksum(uint16_t sum, const uint8_t *data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        sum = uint16_t(sum + data[i]);
        sum = uint16_t((sum << 1) | (sum >> 15));
    }
    return sum;
}

}  // namespace rarcontainer
