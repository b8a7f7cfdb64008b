#pragma once
// The compressed data of each file entry of a RAR archive, found with the
// container layer's block walker: where its parts lie in the volumes and what
// the header says about the compression.

#include "RarTypes.h"
#include "VolumeSet.h"

#include <cstdint>
#include <string>
#include <vector>

struct PackedEntry {
    rarcontainer::Entry entry;
    uint64_t compressionInfo = 0;  // RAR 5
    uint32_t rar4Flags = 0;        // RAR 4: dictionary size and solid flag
    bool sizeUnknown = false;
    struct Part {
        size_t volume;
        uint64_t offset;
        uint64_t size;
    };
    std::vector<Part> parts;

    std::vector<uint8_t> packedData(const rarcontainer::VolumeSet &volumes) const;
};

// Every file entry in archive order; false (with error set) when the walk
// stops on an error before the end of the archive.
bool packedEntries(const rarcontainer::VolumeSet &volumes, std::vector<PackedEntry> &out, std::string &error);
