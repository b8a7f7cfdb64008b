#pragma once
// What the container layer tells its callers: archive facts, entries, and the
// outcome of an operation.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace rarcontainer {

enum class Status {
    Ok,
    NotRar,             // no RAR signature where one was expected
    NeedPassword,       // names or data are encrypted and no password was given
    WrongPassword,      // every password offered was refused
    PasswordTooLong,    // RAR 4 keys: over 28 UTF-16 units (or not UTF-8)
    UnsupportedCipher,  // RAR 1.5/2.0 encryption
    Truncated,          // a file or volume ends early, or a volume is missing
    Damaged,            // a header is inconsistent or fails its checksum
    IoError,
};

// A one-line English description of a status, for the helper's error lines.
const char *describe(Status status);

// A time as the file system takes it.
struct Timestamp {
    bool set = false;
    int64_t seconds = 0;
    long nanoseconds = 0;
};

// What a link entry points to.
enum class LinkKind { None, Symbolic, Hard };

struct Entry {
    std::string name;            // UTF-8, "/" between folders
    bool isDirectory = false;
    bool oldVersion = false;     // an older version of a file kept beside it
    bool encrypted = false;
    bool stored = false;         // no compression
    bool solid = false;
    uint64_t unpackedSize = 0;
    uint64_t packedSize = 0;     // sum over all parts
    int64_t mtime = 0;           // seconds since the epoch; 0 when unknown
    int formatVersion = 4;       // 4 or 5
    int unpackVersion = 0;       // RAR 4 only

    // How the entry is written to disk: file type and permission bits as a
    // Unix mode, and the times to restore. A host system whose attributes
    // mean nothing here leaves modeKnown false.
    bool modeKnown = false;
    uint32_t mode = 0;
    Timestamp modified;
    Timestamp accessed;
    LinkKind link = LinkKind::None;
    std::string linkTarget;      // UTF-8, as stored
    // A RAR 4 symbolic link keeps its target as the file's data.
    bool linkTargetInData = false;
    // The RAR 4 extended time field runs past the end of its header.
    bool timesDamaged = false;

    // The header of the file's last part has been served: until then a
    // split file is incomplete and its checksum (kept in that part) unknown.
    bool lastPartSeen = false;
    bool hasCrc = false;
    uint32_t crc = 0;            // of the whole file (taken from its last part)
    // RAR 1.3/1.4: crc is a 16-bit sum (Rar14Layout::checksum), not a CRC-32.
    bool checksum16 = false;
    bool hasBlake2 = false;
    std::array<uint8_t, 32> blake2{};
    // RAR 5 "converted" checksums: stored values are keyed with hashKey.
    bool checksumsConverted = false;
    bool hashKeyKnown = false;
    std::array<uint8_t, 32> hashKey{};

    // Set by the rewriting stream when it cannot hand the contents over
    // (wrong password, unsupported cipher): the entry is served empty and
    // must be reported as failed, never written.
    Status failure = Status::Ok;
    std::string failureDetail;   // what the decoder said, when it refused the entry
    // RAR 4 data has no password check value: a wrong password only shows as
    // a checksum mismatch after extraction.
    bool passwordUnverified = false;
};

struct ArchiveInfo {
    int formatVersion = 0;       // 4 or 5
    bool solid = false;
    bool multiVolume = false;
    bool headersEncrypted = false;
    bool anyDataEncrypted = false;
    uint64_t signatureOffset = 0;  // in the first file (self-extracting stubs)
};

// Asked for a password when one is needed. The layer makes at most three
// requests per run; rejected() is called after a password proved wrong.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;
    virtual std::optional<std::string> ask() = 0;  // nullopt: none (end of input)
    virtual void rejected() = 0;
};

}  // namespace rarcontainer
