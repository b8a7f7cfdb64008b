#pragma once
// Walks the block structure of a RAR 4 or RAR 5 archive over its volumes,
// one header at a time, decrypting encrypted headers. Every length is checked
// against the file that holds it.

#include "PasswordGate.h"
#include "RarTypes.h"
#include "VolumeSet.h"

#include <vector>

namespace rarcontainer {

// Encryption parameters of one file's data.
struct DataCipher {
    int scheme = 0;             // 4 or 5
    uint8_t salt[16] = {};
    uint8_t iv[16] = {};        // RAR 5 only; RAR 4 derives it
    int log2Count = 0;
    bool hasCheck = false;
    uint8_t check[12] = {};
    bool checksumsConverted = false;
};

struct Block {
    enum class Kind { Signature, Main, CryptHeader, File, Service, End, Other };
    Kind kind = Kind::Other;
    size_t volume = 0;
    uint64_t offset = 0;        // where the block starts in its volume
    uint64_t dataOffset = 0;    // where its data area starts
    uint64_t dataSize = 0;      // bytes of data area on disk
    std::vector<uint8_t> header;  // header in clear (signature bytes for Signature)

    int rar4Type = 0;           // RAR 4 HEAD_TYPE
    uint32_t flags = 0;         // RAR 4 HEAD_FLAGS / RAR 5 header flags
    bool splitBefore = false;
    bool splitAfter = false;
    bool moreVolumes = false;   // End: another volume follows
    Entry entry;                // File and Service blocks
    bool dataEncrypted = false;
    DataCipher cipher;
};

// Where a RAR archive starts in a file: 0 for a plain archive, later for a
// self-extracting one or an archive glued after another file.
struct Signature {
    int version = 0;      // 0 = no RAR signature, else 4 or 5, or 14 for RAR 1.3/1.4
    uint64_t offset = 0;
};

class BlockWalker {
public:
    // Why a walk found the set incomplete: more volumes were announced (by an
    // end block or a file split after the last volume) than exist, or a
    // RAR 5 volume lacks the end block every volume closes with.
    enum class Shortfall { None, NextVolume, CutShort };

    BlockWalker(const VolumeSet &volumes, PasswordGate &gate) : m_volumes(volumes), m_gate(gate) {}

    // Looks for the signature at the start of the first volume or, for a
    // self-extracting archive, within its first megabytes, where a signature
    // counts only when a main header follows it. A file that starts as
    // another known format is not searched, so a ZIP that stores a RAR stays
    // a ZIP. Later volumes start with their signature.
    static Signature findSignature(const VolumeSet &volumes, size_t volume);
    static Signature findSignature(const std::string &path);

    // The next block; false at the end of the set or on error (see status()).
    bool next(Block &block);
    Status status() const { return m_status; }
    const std::string &message() const { return m_message; }
    const ArchiveInfo &info() const { return m_info; }
    Shortfall shortfall() const { return m_shortfall; }

private:
    bool fail(Status status, std::string message);
    bool startVolume(Block &block);
    bool nextRar4(Block &block);
    bool nextRar5(Block &block);
    bool readRar4Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end);
    bool readRar14Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end);
    bool readRar5Header(uint64_t pos, std::vector<uint8_t> &header, uint64_t &end);
    bool parseRar4File(Block &block);
    static void utf8NameInHeader(Block &block, size_t nameAt, size_t nameSize);
    static bool oldPartialChecksum(std::vector<uint8_t> &header);
    bool parseRar5(Block &block);
    bool finishBlock(Block &block);

    const VolumeSet &m_volumes;
    PasswordGate &m_gate;
    ArchiveInfo m_info;
    Status m_status = Status::Ok;
    std::string m_message;
    Shortfall m_shortfall = Shortfall::None;

    size_t m_volume = 0;
    uint64_t m_pos = 0;
    bool m_atVolumeStart = true;
    bool m_finished = false;
    bool m_headersEncrypted = false;
    bool m_firstEncryptedHeader = true;
    bool m_expectMoreVolumes = false;
    bool m_lastSplitAfter = false;
    bool m_sawMain = false;  // in the current volume
    // RAR 1.3/1.4 layout, read as RAR 4 blocks (see Rar14Layout).
    bool m_rar14 = false;
    // RAR 5 header encryption parameters.
    uint8_t m_headerSalt[16] = {};
    int m_headerLog2 = 0;
};

// RAR 4 file names: the legacy bytes, or the packed UTF-16 form that follows a
// NUL. Legacy bytes that are valid UTF-8 are taken as they are; others are
// read in the code page of the system that made the archive: code page 437
// for DOS, OS/2 and Windows (whose archivers wrote the OEM code page there),
// Latin-1 for any other (oemCodePage false). No header names the exact
// code page, and 437 was the default of DOS.
std::string decodeRar4Name(const uint8_t *data, size_t size, bool unicodeFlag, bool oemCodePage = false);

// The compression field and the "size unknown" flag of a RAR 5 file header
// (the whole header in clear), which sit behind fields the walk does not keep.
// A header too short to hold them reads as of unknown size.
void readRar5Compression(const std::vector<uint8_t> &header, uint64_t &info, bool &sizeUnknown);

}  // namespace rarcontainer
