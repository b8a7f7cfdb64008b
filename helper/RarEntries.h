#pragma once
// Entries of a RAR archive as the helper's own RAR layer reads them: names,
// modes, times and links from its headers, data stored, decrypted or decoded
// by the layer. libarchive reads nothing here.

#include "EntrySource.h"

#include <vector>

class ContainerSource;

class RarEntries final : public EntrySource {
public:
    explicit RarEntries(ContainerSource& layer);
    ~RarEntries() override;
    RarEntries(const RarEntries&) = delete;
    RarEntries& operator=(const RarEntries&) = delete;

    int next(archive_entry** entry) override;
    int readBlock(const void** block, std::size_t* size, std::int64_t* offset) override;
    std::string error() const override;
    const rarcontainer::Entry* containerEntry() const override;
    bool encrypted(archive_entry* entry) const override;
    EntryName::Legacy legacy() const override { return EntryName::Legacy::Latin1; }

private:
    ContainerSource& layer_;
    archive_entry* entry_;
    bool inEntry_ = false;
    std::int64_t offset_ = 0;
    std::string error_;
};
