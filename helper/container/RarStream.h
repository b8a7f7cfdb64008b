#pragma once
// Serves a RAR archive's files entry by entry: headers walked (and
// decrypted), file data decrypted and trimmed of its cipher padding,
// compressed data of the RAR 1.5 to RAR 5 algorithms decoded by the helper's
// own decoders, a split file's parts joined across volumes. Only the current
// piece of data is ever held in memory.

#include "BlockWalker.h"
#include "DataDecoder.h"
#include "DecryptAhead.h"
#include "RarTypes.h"
#include "VolumeSet.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace rarcontainer {

class RarStream {
public:
    RarStream(std::vector<std::string> volumes, PasswordPrompt *prompt,
              std::optional<std::string> password = std::nullopt);
    ~RarStream();
    RarStream(const RarStream &) = delete;
    RarStream &operator=(const RarStream &) = delete;

    // Opens the volumes and reads ahead to the first entry, so that hidden
    // names ask for their password here: NeedPassword / WrongPassword then.
    Status open();

    // Moves to the next file entry, reading (and discarding) what is left of
    // the current one: a solid stream decodes every file on the way. False
    // at the end of the archive or on failure (see status()).
    bool nextEntry();
    // The current entry, as entries() holds it. Its checksum is that of its
    // last part, known once its data has been read to the end.
    const Entry &entry() const { return m_entries[m_entryIndex]; }
    // The current entry's data cannot be served here: compressed by a
    // method none of the helper's decoders handle.
    bool entryUndecodable() const { return m_entryUndecodable; }
    // The current entry's next bytes: 0 at its end, -1 on failure. An entry
    // that failed (entry().failure) or cannot be decoded serves none.
    long readData(const void **buffer);
    // Blocks other than file data walked past by the last nextEntry().
    size_t blocksPassed() const { return m_blocksPassed; }

    // The caller verified an encrypted entry against its checksum: the
    // password is right, so later mismatches are damage, not a wrong password.
    void confirmPassword() { m_gate.confirm(); }

    Status status() const { return m_status; }
    const std::string &message() const { return m_message; }
    const ArchiveInfo &info() const { return m_walker.info(); }
    // Walks the headers left after the last block served, data unread, so
    // that shortfall() speaks for the whole set even when the reading
    // stopped early.
    void walkRest();
    BlockWalker::Shortfall shortfall() const { return m_walker.shortfall(); }
    // The entries whose headers have been served so far, in the archive's order. An entry's failure field says when it must not be written.
    const std::vector<Entry> &entries() const { return m_entries; }
    // Progress: archive bytes consumed so far against the size of all volumes.
    uint64_t consumed() const { return m_consumed; }
    uint64_t totalSize() const { return m_totalSize; }

private:
    struct FileState;
    struct Segment;

    bool nextSegment();
    // Moves on to the next part of the entry under way; false when the entry
    // ends there (at the archive's end, or at the next file's header), with
    // what readData() returns then in `result`.
    bool continueEntry(long &result);
    bool startFilePart(const Block &block);
    bool prepareKey(FileState &file, const Block &block);
    void walkCompressedBlocks(FileState &file);
    bool readCipher(const FileState &file, uint64_t logical, uint8_t *out, size_t n) const;
    bool readPlain(const FileState &file, uint64_t logical, uint8_t *out, size_t n) const;
    bool startDecoded(FileState &file, const Block &block);
    void collectParts(FileState &file, const Block &block);
    bool feedDecoder(FileState &file);
    // The next piece of ciphertext of a stored file's part, or of a decoded
    // file's packed data, into out: its whole cipher blocks (the rest is
    // carried over). False at the end (or on a read error: see m_status).
    bool readStoredPiece(Segment &segment, FileState &file, uint8_t *out, size_t &whole);
    bool readPackedPiece(FileState &file, uint8_t *out, size_t &size);
    // Reads the piece after this one and has it decrypted in the background.
    void decryptNextStored(Segment &segment, FileState &file);
    void decryptNextPacked(FileState &file);
    bool startAhead(FileState &file, size_t size);
    void dropAhead();
    size_t pullDecoded(uint8_t *out, size_t capacity);
    void finishDecoded();
    long serveSegment(const void **buffer);
    long skipSegment();
    long fail(Status status, std::string message);
    void noteConsumed(size_t volume, uint64_t offset);

    std::vector<std::string> m_paths;
    VolumeSet m_volumes;
    PasswordGate m_gate;
    BlockWalker m_walker;
    std::deque<Block> m_ahead;
    std::unique_ptr<Segment> m_segment;
    std::unique_ptr<FileState> m_file;
    std::vector<Entry> m_entries;
    std::vector<uint8_t> m_buffer;
    std::vector<uint8_t> m_packed;  // packed bytes on their way to the decoder
    // The piece after the one being served, decrypted (or being decrypted)
    // by m_decryptAhead; the two buffers swap when it is served.
    std::vector<uint8_t> m_aheadBuffer;
    size_t m_aheadSize = 0;
    bool m_aheadFilled = false;
    DataDecoder m_decoder;
    // The last file the decoders should have read was decoded to its end, so
    // a solid file after it can continue from it.
    bool m_chainIntact = true;
    bool m_anyCompressed = false;  // a file the decoders read has been met
    std::vector<uint64_t> m_volumeStart;
    Status m_status = Status::Ok;
    std::string m_message;
    uint64_t m_consumed = 0;
    uint64_t m_totalSize = 0;
    bool m_opened = false;
    // Entry by entry: the segment that starts the next entry is set up already.
    bool m_segmentPending = false;
    size_t m_blocksPassed = 0;
    bool m_inEntry = false;
    bool m_entryUndecodable = false;
    size_t m_entryIndex = 0;
    // Last, so that its thread ends before the buffers and keys it works on go.
    DecryptAhead m_decryptAhead;
};

}  // namespace rarcontainer
