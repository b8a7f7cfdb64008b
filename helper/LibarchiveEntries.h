#pragma once
// Entries as libarchive reads them from an opened ArchiveReader.

#include "EntrySource.h"

class ArchiveReader;

class LibarchiveEntries final : public EntrySource {
public:
    explicit LibarchiveEntries(ArchiveReader& reader) : reader_(reader) {}

    int next(archive_entry** entry) override;
    int readBlock(const void** block, std::size_t* size, std::int64_t* offset) override;
    std::string error() const override;
    const rarcontainer::Entry* containerEntry() const override;
    bool encrypted(archive_entry* entry) const override;
    EntryName::Legacy legacy() const override;

private:
    ArchiveReader& reader_;
};
