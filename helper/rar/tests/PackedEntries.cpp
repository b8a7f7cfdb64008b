#include "PackedEntries.h"

#include "BlockWalker.h"
#include "Bytes.h"
#include "PasswordGate.h"

using namespace rarcontainer;

namespace {

// The compression field and the "size unknown" flag sit in the file header
// behind fields the walker does not keep.
void readCompression(const std::vector<uint8_t> &header, PackedEntry &e)
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
    e.compressionInfo = r.vint();
    e.sizeUnknown = fileFlags & 0x08;
}

}  // namespace

std::vector<uint8_t> PackedEntry::packedData(const VolumeSet &volumes) const
{
    std::vector<uint8_t> data;
    for (const Part &p : parts) {
        const size_t at = data.size();
        data.resize(at + size_t(p.size));
        if (!volumes.readAt(p.volume, p.offset, data.data() + at, size_t(p.size))) data.resize(at);
    }
    return data;
}

bool packedEntries(const VolumeSet &volumes, std::vector<PackedEntry> &out, std::string &error)
{
    PasswordGate gate(nullptr, std::nullopt);
    BlockWalker walker(volumes, gate);
    Block block;
    while (walker.next(block)) {
        if (block.kind != Block::Kind::File) continue;
        if (block.splitBefore && !out.empty()) {
            out.back().parts.push_back({block.volume, block.dataOffset, block.dataSize});
            // Checksums belong to the last part.
            out.back().entry.hasCrc = block.entry.hasCrc;
            out.back().entry.crc = block.entry.crc;
            out.back().entry.hasBlake2 = block.entry.hasBlake2;
            out.back().entry.blake2 = block.entry.blake2;
            continue;
        }
        PackedEntry e;
        e.entry = block.entry;
        if (e.entry.formatVersion == 5) readCompression(block.header, e);
        else e.rar4Flags = block.flags;
        e.parts.push_back({block.volume, block.dataOffset, block.dataSize});
        out.push_back(std::move(e));
    }
    error = walker.message();
    return walker.status() == Status::Ok;
}
