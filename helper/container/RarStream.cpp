#include "RarStream.h"

#include "AesCbc.h"
#include "Bytes.h"
#include "LegacyCipher.h"

#include <algorithm>
#include <cstring>

namespace rarcontainer {

namespace {
constexpr size_t kChunk = 1u << 20;
}

// Decryption state of the file whose parts are being served; one CBC stream
// runs across all of its volume parts.
struct RarStream::FileState {
    size_t entryIndex = 0;
    bool encrypted = false;
    bool failed = false;
    int scheme = 0;
    std::array<uint8_t, 32> key{};
    uint8_t iv[16] = {};
    AesCbcDecryptor decryptor;
    // Data of unpack versions below 29: one of the old ciphers instead.
    bool legacy = false;
    LegacyCipher legacyCipher;
    uint8_t pending[16] = {};  // ciphertext carried over to the next part
    size_t pendingLen = 0;

    size_t blockSize() const { return legacy ? legacyCipher.blockSize() : 16; }
    uint64_t whole(uint64_t n) const { return n - n % blockSize(); }
    bool decrypt(uint8_t *data, size_t n)
    {
        if (!legacy) return decryptor.decrypt(data, data, n);
        legacyCipher.decrypt(data, data, n);
        return true;
    }
    uint64_t emitted = 0;      // plaintext served so far
    // Where the file's ciphertext lies, part by part, for the block walk.
    struct Part {
        size_t volume;
        uint64_t offset;
        uint64_t size;
        uint64_t logicalStart;
    };
    std::vector<Part> parts;
    uint64_t cipherTotal = 0;
    // Compressed RAR 5 data: offset of the next block header; end after the last block.
    uint64_t walkPos = 0;
    bool walkDone = false;
    bool walkFailed = false;
    uint64_t walkEnd = 0;
    // Decoded here: every part's packed data is fed to the decoder in turn.
    bool decoded = false;
    bool afterCompressed = false;  // a compressed file came before it in the run
    uint64_t compressionInfo = 0;  // RAR 5
    size_t readPart = 0;
    uint64_t readPos = 0;
};

struct RarStream::Segment {
    size_t volume = 0;
    uint64_t srcOffset = 0;      // data area still to read
    uint64_t srcLeft = 0;
    uint64_t emitLeft = 0;       // bytes of it still to serve
    bool decrypt = false;
    bool discard = false;        // consume the data area, serve nothing
    bool decode = false;         // serve emitLeft bytes from the decoder
    Block::Kind kind = Block::Kind::Other;
    bool lastPart = true;        // no later part of the same file follows
};

RarStream::RarStream(std::vector<std::string> volumes, PasswordPrompt *prompt, std::optional<std::string> password)
    : m_paths(std::move(volumes)), m_gate(prompt, std::move(password)), m_walker(m_volumes, m_gate)
{
}

RarStream::~RarStream() = default;

Status RarStream::open()
{
    if (m_opened) return m_status;
    m_opened = true;
    std::string failedPath;
    if (!m_volumes.open(m_paths, &failedPath)) {
        fail(Status::IoError, "cannot open " + failedPath);
        return m_status;
    }
    uint64_t start = 0;
    for (size_t i = 0; i < m_volumes.count(); ++i) {
        m_volumeStart.push_back(start);
        start += m_volumes.size(i);
    }
    m_totalSize = start;
    m_buffer.resize(kChunk + 32);
    // Read ahead to the first file header (or the end) so that hidden names
    // meet their password now.
    Block block;
    while (m_walker.next(block)) {
        m_ahead.push_back(block);
        if (block.kind == Block::Kind::File) break;
    }
    switch (m_walker.status()) {
    case Status::NotRar:
    case Status::NeedPassword:
    case Status::WrongPassword:
    case Status::PasswordTooLong:
    case Status::IoError:
        fail(m_walker.status(), m_walker.message());
        break;
    default:
        break;  // later damage shows when the stream reaches it
    }
    return m_status;
}

void RarStream::walkRest()
{
    if (!m_opened) open();
    Block block;
    while (m_walker.next(block)) {
    }
}

long RarStream::fail(Status status, std::string message)
{
    if (m_status == Status::Ok) {
        m_status = status;
        m_message = std::move(message);
    }
    return -1;
}

void RarStream::noteConsumed(size_t volume, uint64_t offset)
{
    if (volume < m_volumeStart.size()) m_consumed = std::max(m_consumed, m_volumeStart[volume] + offset);
}

// ---- serving ---------------------------------------------------------------

// The current segment's data: bytes served, 0 once it is
// used up, -1 on failure.
long RarStream::serveSegment(const void **buffer)
{
    for (;;) {
        Segment *s = m_segment.get();
        if (s->decode) {
            if (s->emitLeft > 0) {
                const size_t n = pullDecoded(m_buffer.data(), size_t(std::min<uint64_t>(s->emitLeft, kChunk)));
                if (n == 0) return -1;
                s->emitLeft -= n;
                m_file->emitted += n;
                *buffer = m_buffer.data();
                return long(n);
            }
            finishDecoded();
            s->decode = false;
            if (m_status != Status::Ok) return -1;
            continue;
        }
        if (s->srcLeft > 0 || (s->decrypt && m_aheadFilled)) {
            if (s->discard) {
                s->srcOffset += s->srcLeft;
                s->srcLeft = 0;
                noteConsumed(s->volume, s->srcOffset);
                continue;
            }
            if (!s->decrypt) {
                size_t n = size_t(std::min<uint64_t>(s->srcLeft, kChunk));
                if (!m_volumes.readAt(s->volume, s->srcOffset, m_buffer.data(), n)) return fail(Status::IoError, "read error");
                s->srcOffset += n;
                s->srcLeft -= n;
                s->emitLeft -= std::min<uint64_t>(n, s->emitLeft);
                noteConsumed(s->volume, s->srcOffset);
                *buffer = m_buffer.data();
                return long(n);
            }
            FileState &f = *m_file;
            size_t whole = 0;
            if (m_aheadFilled) {
                if (!m_decryptAhead.wait()) return fail(Status::IoError, "cipher failure");
                m_aheadFilled = false;
                std::swap(m_buffer, m_aheadBuffer);
                whole = m_aheadSize;
            } else {
                if (!readStoredPiece(*s, f, m_buffer.data(), whole)) return -1;
                if (!f.decrypt(m_buffer.data(), whole)) return fail(Status::IoError, "cipher failure");
            }
            // The next piece is decrypted while the caller writes this one.
            decryptNextStored(*s, f);
            if (m_status != Status::Ok) return -1;
            size_t out = size_t(std::min<uint64_t>(whole, s->emitLeft));
            s->emitLeft -= out;
            f.emitted += out;
            if (out > 0) {
                *buffer = m_buffer.data();
                return long(out);
            }
            continue;
        }
        if (s->emitLeft > 0) return fail(Status::Damaged, "encrypted data shorter than its header says");
        return 0;
    }
}

// ---- entry by entry ----------------------------------------------------------

// Uses up the current segment's data without serving it: 0, or -1 on failure.
long RarStream::skipSegment()
{
    const void *ignored = nullptr;
    long n;
    while ((n = serveSegment(&ignored)) > 0) {
    }
    return n;
}

bool RarStream::nextEntry()
{
    if (!m_opened) open();
    if (m_status != Status::Ok) return false;
    if (m_inEntry) {
        const void *ignored = nullptr;
        long n;
        while ((n = readData(&ignored)) > 0) {
        }
        if (n < 0) return false;
    }
    m_blocksPassed = 0;
    for (;;) {
        bool starts = m_segmentPending;
        if (m_segmentPending) {
            m_segmentPending = false;
        } else {
            const size_t known = m_entries.size();
            if (!nextSegment()) return false;
            starts = m_segment->kind == Block::Kind::File && m_entries.size() > known;
        }
        Segment &seg = *m_segment;
        if (starts) {
            m_inEntry = true;
            m_entryIndex = m_file->entryIndex;
            const Entry &e = m_entries[m_entryIndex];
            m_entryUndecodable = !e.isDirectory && !e.stored && !m_file->decoded && e.failure == Status::Ok
                && !m_file->failed;
            return true;
        }
        if (seg.kind != Block::Kind::Signature && seg.kind != Block::Kind::File) ++m_blocksPassed;
        if (skipSegment() < 0) return false;
    }
}

long RarStream::readData(const void **buffer)
{
    if (!m_inEntry) return m_status == Status::Ok ? 0 : -1;
    if (m_entryUndecodable) {
        // The packed bytes are still walked past, so the next entry is found.
        for (;;) {
            if (skipSegment() < 0) return -1;
            long result = 0;
            if (!continueEntry(result)) return result;
        }
    }
    for (;;) {
        Segment &seg = *m_segment;
        const long n = seg.kind == Block::Kind::File ? serveSegment(buffer) : skipSegment();
        if (n > 0) return n;
        if (n < 0) {
            m_inEntry = false;
            return -1;
        }
        // The file is complete: what follows is the next entry's business.
        if (seg.kind == Block::Kind::File && seg.lastPart) {
            m_inEntry = false;
            return 0;
        }
        // This part is used up: the next part of a split file follows,
        // after the blocks that end one volume and start the next.
        long result = 0;
        if (!continueEntry(result)) return result;
    }
}

bool RarStream::continueEntry(long &result)
{
    const size_t known = m_entries.size();
    if (!nextSegment()) {
        m_inEntry = false;
        result = m_status == Status::Ok ? 0 : -1;
        return false;
    }
    if (m_segment->kind == Block::Kind::File && m_entries.size() > known) {
        m_segmentPending = true;
        m_inEntry = false;
        result = 0;
        return false;
    }
    return true;
}

bool RarStream::nextSegment()
{
    dropAhead();
    for (;;) {
        Block block;
        if (!m_ahead.empty()) {
            block = std::move(m_ahead.front());
            m_ahead.pop_front();
        } else if (!m_walker.next(block)) {
            if (m_walker.status() != Status::Ok) fail(m_walker.status(), m_walker.message());
            m_segment.reset();
            return false;
        }
        noteConsumed(block.volume, block.dataOffset);
        auto seg = std::make_unique<Segment>();
        seg->kind = block.kind;
        seg->lastPart = !block.splitAfter;
        seg->volume = block.volume;
        seg->srcOffset = block.dataOffset;
        seg->srcLeft = block.dataSize;
        seg->emitLeft = block.dataSize;
        if (block.kind == Block::Kind::File) {
            m_segment = std::move(seg);
            return startFilePart(block);
        }
        // Main, service, comment and end blocks: nothing in them is served.
        seg->discard = true;
        seg->emitLeft = 0;
        m_segment = std::move(seg);
        return true;
    }
}

bool RarStream::startFilePart(const Block &block)
{
    Segment &seg = *m_segment;
    const bool rar4 = block.entry.formatVersion == 4;
    if (!block.splitBefore || !m_file) {
        m_file = std::make_unique<FileState>();
        m_file->entryIndex = m_entries.size();
        m_entries.push_back(block.entry);
        m_entries.back().packedSize = 0;
        m_file->encrypted = block.dataEncrypted;
        const Entry &e = block.entry;
        if (block.kind == Block::Kind::File && !e.isDirectory && !e.stored) {
            bool sizeUnknown = false;
            if (rar4) m_file->decoded = DataDecoder::handlesRar4(e.unpackVersion);
            else {
                readRar5Compression(block.header, m_file->compressionInfo, sizeUnknown);
                m_file->decoded = DataDecoder::handlesRar5(m_file->compressionInfo, sizeUnknown);
            }
            m_file->afterCompressed = m_anyCompressed;
            m_anyCompressed = m_anyCompressed || m_file->decoded;
        }
        if (block.dataEncrypted && !prepareKey(*m_file, block)) {
            if (m_status != Status::Ok) return false;
            m_file->failed = true;
            if (m_file->decoded) m_chainIntact = false;
        }
    }
    FileState &f = *m_file;
    Entry &entry = m_entries[f.entryIndex];
    entry.packedSize += block.dataSize;
    entry.lastPartSeen = !block.splitAfter;
    if (block.entry.hasCrc) {
        entry.hasCrc = true;
        entry.crc = block.entry.crc;
    }
    if (block.entry.hasBlake2) {
        entry.hasBlake2 = true;
        entry.blake2 = block.entry.blake2;
    }

    if (f.failed) {
        seg.discard = true;
        seg.emitLeft = 0;
        return true;
    }
    if (f.decoded) {
        if (!block.splitBefore) return startDecoded(f, block);
        // Every later part was taken when the file started: nothing is left here.
        seg.discard = true;
        seg.emitLeft = 0;
        return true;
    }
    if (!f.encrypted || !block.dataEncrypted) return true;

    f.parts.push_back({block.volume, block.dataOffset, block.dataSize, f.cipherTotal});
    f.cipherTotal += block.dataSize;
    const uint64_t available = f.pendingLen + block.dataSize;
    const uint64_t aligned = f.whole(available);
    uint64_t cap = UINT64_MAX;
    if (entry.stored) {
        cap = entry.unpackedSize;
    } else if (!rar4) {
        walkCompressedBlocks(f);
        if (f.walkDone) cap = f.walkEnd;
    }
    uint64_t emit = cap > f.emitted ? std::min(aligned, cap - f.emitted) : 0;
    seg.decrypt = true;
    seg.emitLeft = emit;
    return true;
}

// ---- decoding ----------------------------------------------------------------

// A file the helper decodes is served whole, its unpacked bytes as the
// decoder yields them. Its later parts
// (and the volume boundaries between) are taken now, so that the checksum
// kept in its last part is known before any byte of it is served.
bool RarStream::startDecoded(FileState &f, const Block &block)
{
    Segment &seg = *m_segment;
    Entry &entry = m_entries[f.entryIndex];
    collectParts(f, block);
    seg.srcLeft = 0;
    seg.emitLeft = 0;
    const bool rar4 = entry.formatVersion == 4;
    // Files of RAR 1.5 solid archives carry no solid flag of their own: each
    // compressed file after the first continues the stream.
    const bool solid = !rar4                     ? (f.compressionInfo & 0x40) != 0
                       : entry.unpackVersion < 20 ? m_walker.info().solid && f.afterCompressed
                                                  : (block.flags & 0x0010) != 0;
    bool begun = false;
    if (solid && !m_chainIntact) {
        entry.failureDetail = "cannot be decoded: the solid stream before it could not be read";
    } else {
        begun = rar4 ? m_decoder.beginRar4(entry.unpackVersion, block.flags, solid, entry.unpackedSize)
                     : m_decoder.beginRar5(f.compressionInfo, entry.unpackedSize);
        if (!begun) entry.failureDetail = m_decoder.error();
    }
    // Until this file is decoded to its end, nothing may continue from it.
    m_chainIntact = false;
    if (!begun) {
        entry.failure = Status::Damaged;
        seg.discard = true;
        return true;
    }
    f.readPart = 0;
    f.readPos = 0;
    seg.lastPart = true;  // every part is the decoder's now
    seg.decode = true;
    seg.emitLeft = entry.unpackedSize;
    return true;
}

void RarStream::collectParts(FileState &f, const Block &first)
{
    Entry &entry = m_entries[f.entryIndex];
    f.parts.push_back({first.volume, first.dataOffset, first.dataSize, 0});
    bool more = first.splitAfter;
    while (more) {
        Block block;
        if (!m_ahead.empty()) {
            block = std::move(m_ahead.front());
            m_ahead.pop_front();
        } else if (!m_walker.next(block)) {
            return;  // a missing or damaged volume: the walk's failure shows after this file
        }
        if (block.kind == Block::Kind::File && !block.splitBefore) {
            // Another file where the rest of this one should be.
            m_ahead.push_front(std::move(block));
            return;
        }
        if (block.kind != Block::Kind::File) continue;  // volume ends and starts, service data
        f.parts.push_back({block.volume, block.dataOffset, block.dataSize, 0});
        entry.packedSize += block.dataSize;
        entry.lastPartSeen = !block.splitAfter;
        if (block.entry.hasCrc) {
            entry.hasCrc = true;
            entry.crc = block.entry.crc;
        }
        if (block.entry.hasBlake2) {
            entry.hasBlake2 = true;
            entry.blake2 = block.entry.blake2;
        }
        more = block.splitAfter;
    }
}

// False when no packed byte is left (or reading failed: see m_status).
bool RarStream::feedDecoder(FileState &f)
{
    if (m_aheadFilled) {
        m_aheadFilled = false;
        if (!m_decryptAhead.wait()) {
            fail(Status::IoError, "cipher failure");
            return false;
        }
        std::swap(m_packed, m_aheadBuffer);
        m_decoder.feed(m_packed.data(), m_aheadSize);
        decryptNextPacked(f);
        return m_status == Status::Ok;
    }
    if (m_packed.size() < kChunk + 32) m_packed.resize(kChunk + 32);
    size_t total = 0;
    if (!readPackedPiece(f, m_packed.data(), total)) return false;
    if (f.encrypted && !f.decrypt(m_packed.data(), total)) {
        fail(Status::IoError, "cipher failure");
        return false;
    }
    m_decoder.feed(m_packed.data(), total);
    // The next piece is decrypted while the decoder works on this one.
    if (f.encrypted) decryptNextPacked(f);
    return m_status == Status::Ok;
}

bool RarStream::readPackedPiece(FileState &f, uint8_t *out, size_t &size)
{
    while (f.readPart < f.parts.size() && f.readPos >= f.parts[f.readPart].size) {
        ++f.readPart;
        f.readPos = 0;
    }
    if (f.readPart >= f.parts.size()) return false;
    const FileState::Part &p = f.parts[f.readPart];
    const size_t n = size_t(std::min<uint64_t>(p.size - f.readPos, kChunk));
    const size_t lead = f.encrypted ? f.pendingLen : 0;
    memcpy(out, f.pending, lead);
    if (!m_volumes.readAt(p.volume, p.offset + f.readPos, out + lead, n)) {
        fail(Status::IoError, "read error");
        return false;
    }
    f.readPos += n;
    noteConsumed(p.volume, p.offset + f.readPos);
    size = lead + n;
    if (f.encrypted) {
        // One CBC stream runs across all parts; the cipher padding after the
        // data goes to the decoder too, which stops at the file's size.
        const size_t whole = size_t(f.whole(size));
        f.pendingLen = size - whole;
        memcpy(f.pending, out + whole, f.pendingLen);
        size = whole;
    }
    return true;
}

bool RarStream::readStoredPiece(Segment &s, FileState &f, uint8_t *out, size_t &whole)
{
    const size_t n = size_t(std::min<uint64_t>(s.srcLeft, kChunk));
    memcpy(out, f.pending, f.pendingLen);
    if (!m_volumes.readAt(s.volume, s.srcOffset, out + f.pendingLen, n)) {
        fail(Status::IoError, "read error");
        return false;
    }
    s.srcOffset += n;
    s.srcLeft -= n;
    noteConsumed(s.volume, s.srcOffset);
    const size_t total = f.pendingLen + n;
    whole = size_t(f.whole(total));
    f.pendingLen = total - whole;
    memcpy(f.pending, out + whole, f.pendingLen);
    return true;
}

void RarStream::decryptNextStored(Segment &s, FileState &f)
{
    if (s.srcLeft == 0) return;
    if (m_aheadBuffer.size() < kChunk + 32) m_aheadBuffer.resize(kChunk + 32);
    size_t whole = 0;
    if (readStoredPiece(s, f, m_aheadBuffer.data(), whole)) startAhead(f, whole);
}

void RarStream::decryptNextPacked(FileState &f)
{
    if (m_aheadBuffer.size() < kChunk + 32) m_aheadBuffer.resize(kChunk + 32);
    size_t size = 0;
    if (readPackedPiece(f, m_aheadBuffer.data(), size)) startAhead(f, size);
}

bool RarStream::startAhead(FileState &f, size_t size)
{
    m_aheadSize = size;
    m_aheadFilled = true;
    // The old ciphers are cheap and have no thread-safe state: decrypted now,
    // as where no second thread can be had.
    if (!f.legacy && m_decryptAhead.start(f.decryptor, m_aheadBuffer.data(), size)) return true;
    if (f.decrypt(m_aheadBuffer.data(), size)) return true;
    m_aheadFilled = false;
    fail(Status::IoError, "cipher failure");
    return false;
}

// Before another file's state replaces this one's: nothing may still work on it.
void RarStream::dropAhead()
{
    m_decryptAhead.wait();
    m_aheadFilled = false;
}

// Up to capacity unpacked bytes, or 0 with the stream failed.
size_t RarStream::pullDecoded(uint8_t *out, size_t capacity)
{
    FileState &f = *m_file;
    const Entry &entry = m_entries[f.entryIndex];
    int idle = 0;
    for (;;) {
        const size_t n = m_decoder.read(out, capacity);
        if (n > 0) return n;
        switch (m_decoder.status()) {
        case DataDecoder::Status::NeedInput:
            if (feedDecoder(f)) {
                idle = 0;
                continue;
            }
            if (m_status != Status::Ok) return 0;
            m_decoder.finishInput();
            break;
        case DataDecoder::Status::Ready:
            break;
        case DataDecoder::Status::Finished:
            fail(Status::Damaged, "the compressed data ends before the size its header gives");
            return 0;
        case DataDecoder::Status::Failed:
            if (!entry.lastPartSeen)
                fail(Status::Truncated, "the volume with the rest of the file is missing or damaged");
            else if (entry.encrypted)
                fail(Status::Damaged, "corrupt file or wrong password (" + m_decoder.error() + ")");
            else
                fail(Status::Damaged, m_decoder.error());
            return 0;
        }
        if (++idle > 3) {
            fail(Status::Damaged, "the compressed data ends early");
            return 0;
        }
    }
}

// After the file's last byte: the decoder reads on to the end of its data, so
// that a solid file after it may continue from there.
void RarStream::finishDecoded()
{
    uint8_t spare[64];
    for (int idle = 0; idle < 4;) {
        switch (m_decoder.status()) {
        case DataDecoder::Status::Finished:
            m_chainIntact = true;
            return;
        case DataDecoder::Status::Failed:
            return;
        case DataDecoder::Status::NeedInput:
            if (!feedDecoder(*m_file)) {
                if (m_status != Status::Ok) return;
                m_decoder.finishInput();
                ++idle;
            }
            break;
        case DataDecoder::Status::Ready:
            ++idle;
            break;
        }
        if (m_decoder.read(spare, sizeof spare) > 0) return;  // more than its size: no solid file may follow
    }
}

bool RarStream::prepareKey(FileState &f, const Block &block)
{
    Entry &entry = m_entries[f.entryIndex];
    const DataCipher &c = block.cipher;
    f.scheme = c.scheme;
    if (c.scheme == 4) {
        KeyCache *keys = m_gate.keys();
        if (entry.unpackVersion < 29) {
            if (!keys) {
                entry.failure = m_gate.confirmed() ? Status::WrongPassword : Status::NeedPassword;
                return false;
            }
            f.legacy = true;
            f.legacyCipher.start(LegacyCipher::forUnpackVersion(entry.unpackVersion), keys->password());
            entry.passwordUnverified = !m_gate.confirmed();
            return true;
        }
        if (!keys) {
            entry.failure = m_gate.confirmed() ? Status::WrongPassword : Status::NeedPassword;
            return false;
        }
        const Rar4Key *key = keys->rar4(c.salt);
        if (!key) {
            entry.failure = Status::PasswordTooLong;
            return false;
        }
        std::copy(key->key.begin(), key->key.begin() + 16, f.key.begin());
        memcpy(f.iv, key->iv.data(), 16);
        entry.passwordUnverified = !m_gate.confirmed();
        return f.decryptor.start(f.key.data(), 128, f.iv) || (fail(Status::IoError, "cipher failure"), false);
    }
    const bool checkUsable = c.hasCheck && rar5CheckFieldIntact(c.check);
    for (;;) {
        KeyCache *keys = m_gate.keys();
        if (!keys) {
            entry.failure = m_gate.confirmed() || m_gate.exhausted() ? Status::WrongPassword : Status::NeedPassword;
            return false;
        }
        const Rar5Key *key = keys->rar5(c.salt, c.log2Count);
        if (!key) {
            entry.failure = Status::Damaged;
            return false;
        }
        if (!checkUsable || memcmp(key->check.data(), c.check, 8) == 0) {
            if (checkUsable) m_gate.confirm();
            else entry.passwordUnverified = !m_gate.confirmed();
            f.key = key->key;
            memcpy(f.iv, c.iv, 16);
            entry.hashKey = key->hashKey;
            entry.hashKeyKnown = true;
            return f.decryptor.start(f.key.data(), 256, f.iv) || (fail(Status::IoError, "cipher failure"), false);
        }
        // Before any password was proved right, a mismatch means ask again;
        // afterwards this entry simply has another password.
        if (!m_gate.retry()) {
            entry.failure = Status::WrongPassword;
            return false;
        }
    }
}

// ---- compressed block walk (RAR 5) ---------------------------------------

bool RarStream::readCipher(const FileState &f, uint64_t logical, uint8_t *out, size_t n) const
{
    for (const auto &p : f.parts) {
        if (n == 0) break;
        if (logical >= p.logicalStart + p.size) continue;
        uint64_t within = logical - p.logicalStart;
        size_t take = size_t(std::min<uint64_t>(n, p.size - within));
        if (!m_volumes.readAt(p.volume, p.offset + within, out, take)) return false;
        out += take;
        logical += take;
        n -= take;
    }
    return n == 0;
}

bool RarStream::readPlain(const FileState &f, uint64_t logical, uint8_t *out, size_t n) const
{
    uint64_t first = logical & ~uint64_t(15);
    uint64_t end = (logical + n + 15) & ~uint64_t(15);
    if (end > f.cipherTotal) return false;
    uint8_t iv[16];
    uint8_t buf[48];
    if (end - first > sizeof buf) return false;
    if (first == 0) memcpy(iv, f.iv, 16);
    else if (!readCipher(f, first - 16, iv, 16)) return false;
    if (!readCipher(f, first, buf, size_t(end - first))) return false;
    if (!aesCbcDecrypt(f.key.data(), 256, iv, buf, buf, size_t(end - first))) return false;
    memcpy(out, buf + (logical - first), n);
    return true;
}

// The compressed stream is a chain of blocks, each with a small header that
// gives its size; the one flagged last ends the data, and what follows it is
// cipher padding, not data.
void RarStream::walkCompressedBlocks(FileState &f)
{
    while (!f.walkDone && !f.walkFailed) {
        if (f.walkPos + 3 > f.cipherTotal) return;
        uint8_t h[5] = {};
        size_t n = size_t(std::min<uint64_t>(5, f.cipherTotal - f.walkPos));
        if (!readPlain(f, f.walkPos, h, n)) {
            // The header's last cipher block is completed by the next part.
            if (((f.walkPos + n + 15) & ~uint64_t(15)) > f.cipherTotal) return;
            f.walkFailed = true;
            return;
        }
        const uint8_t flags = h[0];
        const size_t sizeBytes = ((flags >> 3) & 3) + 1;
        if (sizeBytes == 4) {
            f.walkFailed = true;
            return;
        }
        if (2 + sizeBytes > n) return;
        uint64_t size = 0;
        uint8_t check = 0x5A ^ flags;
        for (size_t i = 0; i < sizeBytes; ++i) {
            size |= uint64_t(h[2 + i]) << (8 * i);
            check ^= h[2 + i];
        }
        if (check != h[1]) {
            f.walkFailed = true;
            return;
        }
        uint64_t next = f.walkPos + 2 + sizeBytes + size;
        if (flags & 0x40) {
            f.walkDone = true;
            f.walkEnd = next;
            return;
        }
        f.walkPos = next;
    }
}

}  // namespace rarcontainer
