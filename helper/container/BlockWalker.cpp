#include "BlockWalker.h"

#include "AesCbc.h"
#include "Bytes.h"
#include "CodePage437.h"
#include "EntryAttributes.h"
#include "Rar14Layout.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace rarcontainer {

namespace {

const uint8_t kSignature4[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const uint8_t kSignature5[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
// Self-extracting stubs put the archive after an executable of this size or less.
constexpr uint64_t kSfxSearchLimit = 8u << 20;
// Largest header either format writes; anything bigger is damage.
constexpr uint64_t kMaxRar5Header = 2u << 20;

uint64_t roundUp16(uint64_t n) { return (n + 15) & ~uint64_t(15); }

// Formats that the helper's other readers recognise by their first bytes: a
// file that starts like one of them is that format, whatever it stores.
bool startsAsOtherFormat(const uint8_t *data, size_t size)
{
    static const char *const kMagics[] = {
        "PK\x03\x04", "PK\x05\x06", "PK\x07\x08", "7z\xBC\xAF\x27\x1C", "\x1F\x8B", "BZh",
        "\xFD" "7zXZ", "\x28\xB5\x2F\xFD", "\x04\x22\x4D\x18", "\x5D\x00\x00", "070707",
        "07070", "!<arch>", "xar!", "MSCF",
    };
    for (const char *magic : kMagics) {
        const size_t length = strlen(magic);
        if (size >= length && memcmp(data, magic, length) == 0) return true;
    }
    return size >= 262 && memcmp(data + 257, "ustar", 5) == 0;
}

// A RAR 4 main header after the signature at `at`.
bool plausibleRar4(const VolumeSet &volumes, uint64_t at)
{
    uint8_t header[7];
    if (!volumes.readAt(0, at + 7, header, sizeof header)) return false;
    return header[2] == 0x73 && (header[5] | (header[6] << 8)) >= 7;
}

// A RAR 5 main (or archive encryption) header of a sane size after the signature.
bool plausibleRar5(const VolumeSet &volumes, uint64_t at)
{
    uint8_t header[16];
    if (!volumes.readAt(0, at + 8, header, sizeof header)) return false;
    ByteReader r(header, sizeof header);
    r.skip(4);
    const uint64_t size = r.vint();
    const uint64_t type = r.vint();
    return r.ok() && size > 0 && size <= kMaxRar5Header && (type == 1 || type == 4);
}

void appendUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool validUtf8(const uint8_t *s, size_t n)
{
    std::string text(reinterpret_cast<const char *>(s), n);
    return utf8ToUtf16le(text).has_value();
}

std::string utf16ToUtf8(const std::vector<uint16_t> &units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

int64_t fileTimeToUnix(uint64_t ft)
{
    constexpr uint64_t epochDelta = 11644473600ull;
    uint64_t seconds = ft / 10000000ull;
    return seconds > epochDelta ? int64_t(seconds - epochDelta) : 0;
}

}  // namespace

std::string decodeRar4Name(const uint8_t *data, size_t size, bool unicodeFlag, bool oemCodePage)
{
    const uint8_t *nul = unicodeFlag ? static_cast<const uint8_t *>(memchr(data, 0, size)) : nullptr;
    std::string name;
    if (nul) {
        // Packed UTF-16: each unit is a copy of the legacy byte, a byte with a
        // common high byte, a full unit, or a run derived from the legacy name.
        size_t legacyLen = size_t(nul - data);
        const uint8_t *enc = nul + 1;
        size_t encSize = size - legacyLen - 1;
        std::vector<uint16_t> units;
        size_t pos = 0;
        if (encSize > 0) {
            uint8_t high = enc[pos++];
            unsigned flags = 0;
            int flagBits = 0;
            const size_t maxUnits = 1024;
            while (pos < encSize && units.size() < maxUnits) {
                if (flagBits == 0) {
                    flags = enc[pos++];
                    flagBits = 8;
                    if (pos >= encSize) break;
                }
                switch (flags >> 6) {
                case 0:
                    units.push_back(enc[pos++]);
                    break;
                case 1:
                    units.push_back(uint16_t(enc[pos++] | (high << 8)));
                    break;
                case 2:
                    if (pos + 1 >= encSize) { pos = encSize; break; }
                    units.push_back(uint16_t(enc[pos] | (enc[pos + 1] << 8)));
                    pos += 2;
                    break;
                default: {
                    unsigned length = enc[pos++];
                    if (length & 0x80) {
                        if (pos >= encSize) { pos = encSize; break; }
                        uint8_t correction = enc[pos++];
                        for (length = (length & 0x7F) + 2; length > 0 && units.size() < maxUnits; --length) {
                            size_t at = units.size();
                            uint8_t legacy = at < legacyLen ? data[at] : 0;
                            units.push_back(uint16_t(uint8_t(legacy + correction) | (high << 8)));
                        }
                    } else {
                        for (length += 2; length > 0 && units.size() < maxUnits; --length) {
                            size_t at = units.size();
                            units.push_back(at < legacyLen ? data[at] : 0);
                        }
                    }
                    break;
                }
                }
                flags = (flags << 2) & 0xFF;
                flagBits -= 2;
            }
        }
        while (!units.empty() && units.back() == 0) units.pop_back();
        std::replace(units.begin(), units.end(), uint16_t(0), uint16_t('?'));
        name = utf16ToUtf8(units);
    } else if (validUtf8(data, size)) {
        name.assign(reinterpret_cast<const char *>(data), size);
    } else if (oemCodePage) {
        for (size_t i = 0; i < size; ++i) appendUtf8(name, data[i] < 0x80 ? data[i] : codepages::kCp437High[data[i] - 0x80]);
    } else {
        for (size_t i = 0; i < size; ++i) appendUtf8(name, data[i]);  // Latin-1 guess
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool BlockWalker::fail(Status status, std::string message)
{
    m_status = status;
    m_message = std::move(message);
    m_finished = true;
    // A RAR 5 volume lacks its end block. A RAR 4 volume may end without
    // one: only a file split after it says that another volume must follow.
    if (status == Status::Truncated && m_shortfall == Shortfall::None) {
        if (m_info.formatVersion == 5) m_shortfall = Shortfall::CutShort;
        else if (m_lastSplitAfter && m_info.multiVolume) m_shortfall = Shortfall::NextVolume;
    }
    return false;
}

bool BlockWalker::next(Block &block)
{
    if (m_finished) return false;
    block = Block();
    for (;;) {
        if (m_atVolumeStart) return startVolume(block);
        if (m_pos < m_volumes.size(m_volume)) break;
        // The volume ran out without an end block.
        if (m_lastSplitAfter || m_expectMoreVolumes) {
            if (m_volume + 1 >= m_volumes.count())
                return fail(Status::Truncated, "Unexpected end of archive");
            ++m_volume;
            m_atVolumeStart = true;
            continue;
        }
        // A volume without its main header is a file cut short after its
        // signature, never an empty archive. RAR 5 closes every volume with
        // an end block; RAR 4 writers did not always, so there the end of
        // the file may be the end of the archive.
        if (!m_sawMain || m_info.formatVersion == 5)
            return fail(Status::Truncated, "Unexpected end of archive");
        m_finished = true;
        return false;
    }
    block.volume = m_volume;
    block.offset = m_pos;
    return m_info.formatVersion == 5 ? nextRar5(block) : nextRar4(block);
}

bool BlockWalker::startVolume(Block &block)
{
    m_atVolumeStart = false;
    m_expectMoreVolumes = false;
    m_sawMain = false;
    m_headersEncrypted = false;
    if (m_volume >= m_volumes.count()) {
        m_shortfall = Shortfall::NextVolume;
        return fail(Status::Truncated, "Unexpected end of archive");
    }
    const Signature found = findSignature(m_volumes, m_volume);
    if (found.version == 0) {
        if (m_volume == 0) return fail(Status::NotRar, "not a RAR archive");
        return fail(Status::Damaged, "volume " + m_volumes.path(m_volume) + " is not a RAR volume");
    }
    const int version = found.version;
    if (m_volume == 0) {
        m_rar14 = version == 14;
        m_info.formatVersion = m_rar14 ? 4 : version;
        m_info.signatureOffset = found.offset;
    } else if (version != (m_rar14 ? 14 : m_info.formatVersion)) {
        return fail(Status::Damaged, "volume " + m_volumes.path(m_volume) + " belongs to another archive");
    }
    block.kind = Block::Kind::Signature;
    block.volume = m_volume;
    block.offset = found.offset;
    const uint8_t *sig = version == 5 ? kSignature5 : kSignature4;
    block.header.assign(sig, sig + (version == 5 ? 8 : 7));
    // The RAR 1.4 main header starts with its signature; the RAR 4 one
    // stands in for it in the stream the layer serves.
    m_pos = found.offset + (m_rar14 ? 0 : block.header.size());
    block.dataOffset = m_pos;
    return true;
}

Signature BlockWalker::findSignature(const std::string &path)
{
    VolumeSet file;
    if (!file.open({path})) return {};
    return findSignature(file, 0);
}

Signature BlockWalker::findSignature(const VolumeSet &volumes, size_t volume)
{
    Signature result;
    if (volume >= volumes.count()) return result;
    const uint64_t size = volumes.size(volume);
    const uint64_t window = volume == 0 ? std::min(size, kSfxSearchLimit) : std::min<uint64_t>(size, 8);
    constexpr uint64_t kChunk = 1u << 16;
    std::vector<uint8_t> buf;
    for (uint64_t offset = 0; offset < window; offset += kChunk) {
        buf.resize(size_t(std::min<uint64_t>(kChunk + 8, size - offset)));
        if (!volumes.readAt(volume, offset, buf.data(), buf.size())) return result;
        if (offset == 0 && volume == 0 && startsAsOtherFormat(buf.data(), buf.size())) return result;
        if (offset == 0 && Rar14Layout::startsVolume(volumes, volume)) return {14, 0};
        for (uint64_t i = 0; i + 7 <= buf.size() && i < kChunk && offset + i < window; ++i) {
            if (buf[i] != 0x52 || memcmp(&buf[i], kSignature4, 6) != 0) continue;
            const uint64_t at = offset + i;
            // Only a self-extracting stub's search needs the header behind it.
            const bool checked = at == 0 || volume != 0;
            if (buf[i + 6] == 0x00 && (checked || plausibleRar4(volumes, at))) return {4, at};
            if (i + 8 <= buf.size() && buf[i + 6] == 0x01 && buf[i + 7] == 0x00
                && (checked || plausibleRar5(volumes, at)))
                return {5, at};
        }
    }
    return result;
}

bool BlockWalker::finishBlock(Block &block)
{
    const uint64_t size = m_volumes.size(m_volume);
    if (block.dataOffset > size || block.dataSize > size - block.dataOffset)
        return fail(Status::Truncated, "Unexpected end of archive");
    m_pos = block.dataOffset + block.dataSize;
    if (block.kind == Block::Kind::File) m_lastSplitAfter = block.splitAfter;
    if (block.kind == Block::Kind::Main) m_sawMain = true;
    if (block.kind == Block::Kind::End) {
        m_expectMoreVolumes = block.moreVolumes;
        if (block.moreVolumes) {
            ++m_volume;
            m_atVolumeStart = true;
            // A missing volume is reported when the next block is asked for.
        } else {
            m_finished = true;
        }
    }
    return true;
}

// ---- RAR 4 ---------------------------------------------------------------

// The archivers of RAR 1.5 to 2.x left out of a header's checksum what they
// embedded after its own fields: the old archive and file comments, the
// owner and group names of the Unix owner block. A header whose checksum
// matches one of these shorter ranges is sound; its checksum is rewritten to
// cover it all, as later readers of the header expect.
bool BlockWalker::oldPartialChecksum(std::vector<uint8_t> &h)
{
    const uint16_t stored = uint16_t(h[0] | (h[1] << 8));
    const unsigned flags = unsigned(h[3] | (h[4] << 8));
    std::vector<size_t> ranges;
    switch (h[2]) {
    case 0x73:  // main header: its 13 bytes, and the cipher version byte of later ones
        ranges = {13, size_t((flags & 0x0200) ? 14 : 13)};
        break;
    case 0x74:  // file header: the fields and the name, with a salt when there is one
        if (h.size() >= 32) {
            size_t n = 32 + ((flags & 0x0100) ? 8 : 0) + size_t(h[26] | (h[27] << 8));
            ranges = {n, n + ((flags & 0x0400) ? 8 : 0)};
        }
        break;
    case 0x75:  // comment block
        ranges = {13};
        break;
    case 0x77:  // old sub-block; the Unix owner one with or without its names
        ranges = {14, 18};
        if (h.size() >= 18 && (h[11] | (h[12] << 8)) == 0x0101)
            ranges.push_back(18 + size_t(h[14] | (h[15] << 8)) + size_t(h[16] | (h[17] << 8)));
        break;
    case 0x79:  // old authenticity block
        ranges = {15};
        break;
    default:
        break;
    }
    for (const size_t n : ranges) {
        if (n < 7 || n >= h.size()) continue;
        if (uint16_t(crc32Of(h.data() + 2, n - 2)) != stored) continue;
        const uint16_t crc = uint16_t(crc32Of(h.data() + 2, h.size() - 2));
        h[0] = uint8_t(crc);
        h[1] = uint8_t(crc >> 8);
        return true;
    }
    return false;
}

bool BlockWalker::readRar4Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end)
{
    const uint64_t size = m_volumes.size(m_volume);
    const uint64_t avail = size - pos;
    if (!m_headersEncrypted) {
        uint8_t base[7];
        if (avail < 7 || !m_volumes.readAt(m_volume, pos, base, 7)) return fail(Status::Truncated, "Unexpected end of archive");
        uint16_t headSize = uint16_t(base[5] | (base[6] << 8));
        if (headSize < 7) return fail(Status::Damaged, "damaged header");
        if (headSize > avail) return fail(Status::Truncated, "Unexpected end of archive");
        header.resize(headSize);
        if (!m_volumes.readAt(m_volume, pos, header.data(), headSize)) return fail(Status::IoError, "read error");
        end = pos + headSize;
        uint16_t crc = uint16_t(crc32Of(header.data() + 2, headSize - 2) & 0xFFFF);
        if (crc != uint16_t(header[0] | (header[1] << 8)) && !oldPartialChecksum(header))
            return fail(Status::Damaged, "header checksum mismatch");
        return true;
    }
    uint8_t salt[8], first[16];
    if (avail < 24 || !m_volumes.readAt(m_volume, pos, salt, 8) || !m_volumes.readAt(m_volume, pos + 8, first, 16))
        return fail(Status::Truncated, "Unexpected end of archive");
    for (;;) {
        KeyCache *keys = m_gate.keys();
        if (!keys) return fail(m_gate.confirmed() || !m_firstEncryptedHeader ? Status::WrongPassword : Status::NeedPassword, "password required");
        const Rar4Key *key = keys->rar4(salt);
        if (!key) return fail(Status::PasswordTooLong, "password too long for this archive");
        uint8_t plain[16];
        if (!aesCbcDecrypt(key->key.data(), 128, key->iv.data(), first, plain, 16)) return fail(Status::IoError, "cipher failure");
        uint16_t headSize = uint16_t(plain[5] | (plain[6] << 8));
        bool good = headSize >= 7 && roundUp16(headSize) <= avail - 8;
        if (good) {
            uint64_t padded = roundUp16(headSize);
            std::vector<uint8_t> buf(padded);
            if (!m_volumes.readAt(m_volume, pos + 8, buf.data(), padded)) return fail(Status::IoError, "read error");
            if (!aesCbcDecrypt(key->key.data(), 128, key->iv.data(), buf.data(), buf.data(), padded)) return fail(Status::IoError, "cipher failure");
            uint16_t crc = uint16_t(crc32Of(buf.data() + 2, headSize - 2) & 0xFFFF);
            good = crc == uint16_t(buf[0] | (buf[1] << 8));
            if (good) {
                header.assign(buf.begin(), buf.begin() + headSize);
                end = pos + 8 + padded;
                m_firstEncryptedHeader = false;
                m_gate.confirm();
                return true;
            }
        }
        if (!m_firstEncryptedHeader) {
            if (!good && headSize >= 7 && roundUp16(headSize) > avail - 8) return fail(Status::Truncated, "Unexpected end of archive");
            return fail(Status::Damaged, "damaged encrypted header");
        }
        if (!m_gate.retry()) return fail(Status::WrongPassword, "The specified password is incorrect.");
    }
}

bool BlockWalker::readRar14Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end)
{
    const auto result = m_sawMain ? Rar14Layout::readFile(m_volumes, m_volume, pos, header, end)
                                  : Rar14Layout::readMain(m_volumes, m_volume, pos, header, end);
    if (result == Rar14Layout::Result::Truncated) return fail(Status::Truncated, "Unexpected end of archive");
    if (result == Rar14Layout::Result::Damaged) return fail(Status::Damaged, "damaged header");
    return true;
}

bool BlockWalker::nextRar4(Block &block)
{
    uint64_t end = 0;
    if (!(m_rar14 ? readRar14Header(m_pos, block.header, end) : readRar4Header(m_pos, block.header, end))) return false;
    const auto &h = block.header;
    block.rar4Type = h[2];
    block.flags = uint32_t(h[3] | (h[4] << 8));
    block.dataOffset = end;
    switch (block.rar4Type) {
    case 0x73:
        block.kind = Block::Kind::Main;
        if (m_volume == 0) {
            m_info.multiVolume = block.flags & 0x0001;
            m_info.solid = block.flags & 0x0008;
            m_info.headersEncrypted = block.flags & 0x0080;
        }
        m_headersEncrypted = block.flags & 0x0080;
        // No RAR 1.4 volume says whether another follows: the next one
        // found on disk does, and a file split after the last is cut short.
        if (m_rar14) m_expectMoreVolumes = (block.flags & 0x0001) && m_volume + 1 < m_volumes.count();
        break;
    case 0x74:
    case 0x7A:
        block.kind = block.rar4Type == 0x74 ? Block::Kind::File : Block::Kind::Service;
        if (!parseRar4File(block)) return false;
        readRar4Attributes(block.header, block.flags, block.entry);
        block.entry.checksum16 = m_rar14;
        break;
    case 0x7B:
        block.kind = Block::Kind::End;
        block.moreVolumes = block.flags & 0x0001;
        break;
    default:
        block.kind = Block::Kind::Other;
        if (block.flags & 0x8000) {
            if (h.size() < 11) return fail(Status::Damaged, "damaged header");
            block.dataSize = uint32_t(h[7] | (h[8] << 8) | (h[9] << 16) | (uint32_t(h[10]) << 24));
        }
        break;
    }
    return finishBlock(block);
}

bool BlockWalker::parseRar4File(Block &block)
{
    const auto &h = block.header;
    ByteReader r(h.data(), h.size());
    r.skip(7);
    uint64_t packSize = r.u32();
    uint64_t unpSize = r.u32();
    const uint8_t hostOs = r.u8();
    uint32_t fileCrc = r.u32();
    uint32_t ftime = r.u32();
    uint8_t unpVer = r.u8();
    uint8_t method = r.u8();
    uint16_t nameSize = r.u16();
    const uint32_t attributes = r.u32();
    if (block.flags & 0x0100) {
        packSize |= uint64_t(r.u32()) << 32;
        unpSize |= uint64_t(r.u32()) << 32;
    }
    if (!r.ok() || nameSize > r.remaining()) return fail(Status::Damaged, "damaged file header");
    Entry &e = block.entry;
    const bool unicode = (block.flags & 0x0200) && memchr(r.here(), 0, nameSize);
    const size_t nameAt = r.pos();
    e.name = decodeRar4Name(r.here(), nameSize, block.flags & 0x0200, hostOs <= 2);
    r.skip(nameSize);
    if (block.flags & 0x0400) {
        if (!r.copy(block.cipher.salt, 8)) return fail(Status::Damaged, "damaged file header");
    }
    e.formatVersion = 4;
    // RAR 1.5 marked folders made on DOS by their attribute alone.
    e.isDirectory = (block.flags & 0x00E0) == 0x00E0 || (unpVer < 20 && hostOs == 0 && (attributes & 0x10));
    e.oldVersion = block.flags & 0x0800;
    e.encrypted = block.flags & 0x0004;
    e.stored = method == 0x30;
    e.solid = block.flags & 0x0010;
    e.unpackedSize = unpSize;
    e.packedSize = packSize;
    e.mtime = dosTimeToUnix(ftime);
    e.unpackVersion = unpVer;
    e.hasCrc = !e.isDirectory;
    e.crc = fileCrc;
    block.splitBefore = block.flags & 0x0001;
    block.splitAfter = block.flags & 0x0002;
    block.dataSize = packSize;
    block.dataEncrypted = e.encrypted;
    block.cipher.scheme = 4;
    if (block.kind == Block::Kind::File && e.encrypted) m_info.anyDataEncrypted = true;
    if (!unicode && !validUtf8(h.data() + nameAt, nameSize)) utf8NameInHeader(block, nameAt, nameSize);
    return true;
}

// A legacy name (see decodeRar4Name) goes on in the header as the UTF-8 it
// was read as, so that every reader of the header shows the same name.
void BlockWalker::utf8NameInHeader(Block &block, size_t nameAt, size_t nameSize)
{
    std::string name = block.entry.name;
    std::replace(name.begin(), name.end(), '/', '\\');
    if (name.size() > 0xFFFF || block.header.size() - nameSize + name.size() > 0xFFFF) return;
    std::vector<uint8_t> &h = block.header;
    h.erase(h.begin() + ptrdiff_t(nameAt), h.begin() + ptrdiff_t(nameAt + nameSize));
    h.insert(h.begin() + ptrdiff_t(nameAt), name.begin(), name.end());
    h[5] = uint8_t(h.size());
    h[6] = uint8_t(h.size() >> 8);
    h[26] = uint8_t(name.size());
    h[27] = uint8_t(name.size() >> 8);
    const uint16_t crc = uint16_t(crc32Of(h.data() + 2, h.size() - 2));
    h[0] = uint8_t(crc);
    h[1] = uint8_t(crc >> 8);
}

// ---- RAR 5 ---------------------------------------------------------------

bool BlockWalker::readRar5Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end)
{
    const uint64_t avail = m_volumes.size(m_volume) - pos;
    if (!m_headersEncrypted) {
        uint8_t base[14] = {};
        size_t n = size_t(std::min<uint64_t>(avail, sizeof base));
        if (n < 6 || !m_volumes.readAt(m_volume, pos, base, n)) return fail(Status::Truncated, "Unexpected end of archive");
        ByteReader r(base, n);
        r.skip(4);
        uint64_t size = r.vint();
        if (!r.ok() || size == 0 || size > kMaxRar5Header) return fail(Status::Damaged, "damaged header");
        uint64_t total = r.pos() + size;
        if (total > avail) return fail(Status::Truncated, "Unexpected end of archive");
        header.resize(size_t(total));
        if (!m_volumes.readAt(m_volume, pos, header.data(), header.size())) return fail(Status::IoError, "read error");
        uint32_t stored = uint32_t(ByteReader(header.data(), 4).u32());
        if (crc32Of(header.data() + 4, header.size() - 4) != stored) return fail(Status::Damaged, "header checksum mismatch");
        end = pos + total;
        return true;
    }
    uint8_t iv[16], first[16];
    if (avail < 32 || !m_volumes.readAt(m_volume, pos, iv, 16) || !m_volumes.readAt(m_volume, pos + 16, first, 16))
        return fail(Status::Truncated, "Unexpected end of archive");
    for (;;) {
        KeyCache *keys = m_gate.keys();
        if (!keys) return fail(m_gate.confirmed() ? Status::WrongPassword : Status::NeedPassword, "password required");
        const Rar5Key *key = keys->rar5(m_headerSalt, m_headerLog2);
        if (!key) return fail(Status::Damaged, "unsupported key iteration count");
        uint8_t plain[16];
        if (!aesCbcDecrypt(key->key.data(), 256, iv, first, plain, 16)) return fail(Status::IoError, "cipher failure");
        ByteReader r(plain, 16);
        r.skip(4);
        uint64_t size = r.vint();
        bool good = r.ok() && size > 0 && size <= kMaxRar5Header && roundUp16(r.pos() + size) <= avail - 16;
        if (good) {
            uint64_t total = r.pos() + size;
            uint64_t padded = roundUp16(total);
            std::vector<uint8_t> buf(padded);
            if (!m_volumes.readAt(m_volume, pos + 16, buf.data(), padded)) return fail(Status::IoError, "read error");
            if (!aesCbcDecrypt(key->key.data(), 256, iv, buf.data(), buf.data(), padded)) return fail(Status::IoError, "cipher failure");
            uint32_t stored = uint32_t(ByteReader(buf.data(), 4).u32());
            good = crc32Of(buf.data() + 4, total - 4) == stored;
            if (good) {
                header.assign(buf.begin(), buf.begin() + total);
                end = pos + 16 + padded;
                m_firstEncryptedHeader = false;
                m_gate.confirm();
                return true;
            }
        }
        if (!m_firstEncryptedHeader || m_gate.confirmed()) return fail(Status::Damaged, "damaged encrypted header");
        if (!m_gate.retry()) return fail(Status::WrongPassword, "The specified password is incorrect.");
    }
}

bool BlockWalker::nextRar5(Block &block)
{
    uint64_t end = 0;
    if (!readRar5Header(m_pos, block.header, end)) return false;
    block.dataOffset = end;
    return parseRar5(block) && finishBlock(block);
}

bool BlockWalker::parseRar5(Block &block)
{
    const auto &h = block.header;
    ByteReader r(h.data(), h.size());
    r.skip(4);
    r.vint();  // header size, already checked
    uint64_t type = r.vint();
    uint64_t flags = r.vint();
    uint64_t extraSize = (flags & 0x01) ? r.vint() : 0;
    uint64_t dataSize = (flags & 0x02) ? r.vint() : 0;
    if (!r.ok() || extraSize > r.remaining()) return fail(Status::Damaged, "damaged header");
    const size_t extraStart = h.size() - size_t(extraSize);
    block.flags = uint32_t(flags);
    block.dataSize = dataSize;
    block.splitBefore = flags & 0x08;
    block.splitAfter = flags & 0x10;
    ByteReader body(h.data() + r.pos(), extraStart - r.pos());

    switch (type) {
    case 1: {
        block.kind = Block::Kind::Main;
        uint64_t archiveFlags = body.vint();
        if (m_volume == 0) {
            m_info.multiVolume = archiveFlags & 0x01;
            m_info.solid = archiveFlags & 0x04;
        }
        break;
    }
    case 4: {
        block.kind = Block::Kind::CryptHeader;
        uint64_t version = body.vint();
        uint64_t cryptFlags = body.vint();
        uint8_t log2 = body.u8();
        uint8_t check[12] = {};
        body.copy(m_headerSalt, 16);
        bool hasCheck = cryptFlags & 0x01;
        if (hasCheck) body.copy(check, 12);
        if (!body.ok() || version != 0) return fail(Status::Damaged, "unknown header encryption");
        if (log2 > kRar5MaxLog2Count) return fail(Status::Damaged, "unsupported key iteration count");
        m_headerLog2 = log2;
        m_headersEncrypted = true;
        m_info.headersEncrypted = true;
        if (hasCheck && rar5CheckFieldIntact(check)) {
            for (;;) {
                KeyCache *keys = m_gate.keys();
                if (!keys) return fail(m_gate.confirmed() ? Status::WrongPassword : Status::NeedPassword, "password required");
                const Rar5Key *key = keys->rar5(m_headerSalt, log2);
                if (key && memcmp(key->check.data(), check, 8) == 0) {
                    m_gate.confirm();
                    m_firstEncryptedHeader = false;
                    break;
                }
                if (!m_gate.retry()) return fail(Status::WrongPassword, "The specified password is incorrect.");
            }
        }
        break;
    }
    case 2:
    case 3: {
        block.kind = type == 2 ? Block::Kind::File : Block::Kind::Service;
        Entry &e = block.entry;
        e.formatVersion = 5;
        uint64_t fileFlags = body.vint();
        e.unpackedSize = body.vint();
        body.vint();  // attributes
        if (fileFlags & 0x02) e.mtime = body.u32();
        if (fileFlags & 0x04) {
            e.hasCrc = true;
            e.crc = body.u32();
        }
        uint64_t compression = body.vint();
        body.vint();  // host OS
        uint64_t nameLen = body.vint();
        if (!body.ok() || nameLen > body.remaining()) return fail(Status::Damaged, "damaged file header");
        e.name.assign(reinterpret_cast<const char *>(body.here()), size_t(nameLen));
        e.isDirectory = fileFlags & 0x01;
        e.stored = ((compression >> 7) & 0x07) == 0;
        e.solid = compression & 0x40;
        e.packedSize = dataSize;

        ByteReader extra(h.data() + extraStart, size_t(extraSize));
        while (extra.remaining() > 0) {
            uint64_t recSize = extra.vint();
            if (!extra.ok() || recSize == 0 || recSize > extra.remaining()) return fail(Status::Damaged, "damaged extra record");
            ByteReader rec(extra.here(), size_t(recSize));
            extra.skip(recSize);
            uint64_t recType = rec.vint();
            if (recType == 0x01) {
                DataCipher &c = block.cipher;
                uint64_t version = rec.vint();
                uint64_t cflags = rec.vint();
                c.scheme = 5;
                c.log2Count = rec.u8();
                rec.copy(c.salt, 16);
                rec.copy(c.iv, 16);
                c.hasCheck = cflags & 0x01;
                if (c.hasCheck) rec.copy(c.check, 12);
                c.checksumsConverted = cflags & 0x02;
                if (!rec.ok() || version != 0) return fail(Status::Damaged, "unknown file encryption");
                e.encrypted = true;
                e.checksumsConverted = c.checksumsConverted;
                block.dataEncrypted = true;
            } else if (recType == 0x02) {
                if (rec.vint() == 0 && rec.copy(e.blake2.data(), 32)) e.hasBlake2 = true;
            } else if (recType == 0x04) {
                e.oldVersion = true;
            } else if (recType == 0x03) {
                uint64_t tflags = rec.vint();
                if (tflags & 0x02) {
                    int64_t t = (tflags & 0x01) ? int64_t(rec.u32()) : fileTimeToUnix(rec.u64());
                    if (rec.ok()) e.mtime = t;
                }
            }
        }
        if (type == 2 && e.encrypted) m_info.anyDataEncrypted = true;
        readRar5Attributes(h, e);
        break;
    }
    case 5:
        block.kind = Block::Kind::End;
        // Some writers leave the flags out altogether.
        block.moreVolumes = body.remaining() > 0 && (body.vint() & 0x01);
        break;
    default:
        block.kind = Block::Kind::Other;
        break;
    }
    if (!body.ok()) return fail(Status::Damaged, "damaged header");
    return true;
}

const char *describe(Status status)
{
    switch (status) {
    case Status::Ok: return "no error";
    case Status::NotRar: return "is not a RAR archive";
    case Status::NeedPassword: return "needs a password";
    case Status::WrongPassword: return "The specified password is incorrect.";
    case Status::PasswordTooLong: return "password is longer than 28 characters, which this archive's encryption cannot use";
    case Status::UnsupportedCipher: return "is encrypted with a RAR 1.5/2.0 cipher, which is not supported";
    case Status::Truncated: return "Unexpected end of archive";
    case Status::Damaged: return "the archive is damaged";
    case Status::IoError: return "read error";
    }
    return "unknown error";
}

void readRar5Compression(const std::vector<uint8_t> &header, uint64_t &info, bool &sizeUnknown)
{
    ByteReader r(header.data(), header.size());
    r.skip(4);
    r.vint();  // header size
    r.vint();  // type
    const uint64_t flags = r.vint();
    if (flags & 0x01) r.vint();
    if (flags & 0x02) r.vint();
    const uint64_t fileFlags = r.vint();
    r.vint();  // unpacked size
    r.vint();  // attributes
    if (fileFlags & 0x02) r.u32();
    if (fileFlags & 0x04) r.u32();
    info = r.vint();
    sizeUnknown = (fileFlags & 0x08) || !r.ok();
}

}  // namespace rarcontainer
