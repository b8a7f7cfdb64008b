#pragma once
// Where the extraction takes its entries from: libarchive for most formats,
// the helper's own RAR reader for RAR archives. Results use libarchive's
// status codes (ARCHIVE_OK, ARCHIVE_EOF, ARCHIVE_FAILED, ARCHIVE_FATAL) and
// entries its archive_entry, which the extraction already speaks.

#include "EntryName.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct archive_entry;
namespace rarcontainer {
struct Entry;
}

class EntrySource {
public:
    virtual ~EntrySource() = default;

    // The next entry's header; the entry stays valid until the next call.
    virtual int next(archive_entry** entry) = 0;
    // The current entry's next block of data (ARCHIVE_EOF after its last).
    virtual int readBlock(const void** block, std::size_t* size, std::int64_t* offset) = 0;
    // Why the last call failed.
    virtual std::string error() const = 0;
    // What the RAR layer knows of the current entry; null for other formats.
    virtual const rarcontainer::Entry* containerEntry() const = 0;
    // Whether the current entry's data is encrypted (as far as anyone can tell).
    virtual bool encrypted(archive_entry* entry) const = 0;
    // How names that are not UTF-8 are read.
    virtual EntryName::Legacy legacy() const = 0;
};
