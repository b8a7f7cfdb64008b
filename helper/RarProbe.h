#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the helper needs to know about a RAR archive before libarchive reads
// it, found by walking the block headers itself (never the file data):
// where the archive starts (after a self-extracting stub), whether it is
// encrypted (libarchive 3.6 cannot decrypt RAR, and cannot even tell for
// RAR 5), and whether the volume set found on disk is complete.
class RarProbe {
public:
    struct Signature {
        int version = 0;          // 0 = no RAR signature, else 4 or 5
        std::int64_t offset = 0;  // where the signature starts
    };

    struct Entry {
        bool encrypted = false;   // the data is encrypted
        bool oldVersion = false;  // an older version of a file kept beside it
        bool directory = false;
        bool hasCrc = false;      // crc holds the CRC-32 of the whole unpacked file
        std::uint32_t crc = 0;
        std::int64_t size = -1;   // unpacked size, -1 if unknown
    };

    struct Layout {
        int version = 0;
        bool headersEncrypted = false;  // names hidden: nothing readable without a password
        bool volume = false;            // the archive says it is part of a volume set
        bool continues = false;         // the last file found says more volumes follow
        bool damaged = false;           // a header could not be walked
        bool truncated = false;         // a RAR 5 volume ends without its end-of-archive block
        // The walk stopped at its block limit (a hostile number of blocks, or
        // a legitimately huge archive): nothing is known of the blocks after,
        // so a missing end block means nothing.
        bool walkCut = false;
        // Per entry, in archive order (split continuations not counted).
        std::vector<Entry> entries;
        bool anyEncrypted() const;
    };

    // Looks for the RAR signature at the start of the file or, for a
    // self-extracting archive or an archive glued after another file, within
    // its first megabytes. Files that start as another known format are not
    // searched, so a ZIP that stores a RAR stays a ZIP.
    static Signature findSignature(const std::string& path);

    // Walks the headers of every volume, the first one from `first.offset`.
    // With `pieces`, the files are raw pieces of one archive, read as one.
    static Layout inspect(const std::vector<std::string>& volumes, const Signature& first,
                          bool pieces = false);

    // How far into a file the signature is looked for.
    static constexpr std::int64_t kSearchLimit = 8 * 1024 * 1024;
};
