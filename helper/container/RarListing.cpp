#include "RarListing.h"

#include "BlockWalker.h"

namespace rarcontainer {

Listing listArchive(const std::vector<std::string> &volumes, PasswordPrompt *prompt,
                    const std::optional<std::string> &password)
{
    Listing result;
    VolumeSet set;
    std::string failedPath;
    if (!set.open(volumes, &failedPath)) {
        result.status = Status::IoError;
        result.message = "cannot open " + failedPath;
        return result;
    }
    PasswordGate gate(prompt, password);
    BlockWalker walker(set, gate);
    Block block;
    while (walker.next(block)) {
        if (block.kind != Block::Kind::File) continue;
        if (block.splitBefore && !result.entries.empty()) {
            // A later part of the file before it: only its totals change.
            Entry &e = result.entries.back();
            e.packedSize += block.entry.packedSize;
            if (block.entry.hasCrc) {
                e.hasCrc = true;
                e.crc = block.entry.crc;
            }
            continue;
        }
        result.entries.push_back(block.entry);
    }
    result.status = walker.status();
    result.message = walker.message();
    result.info = walker.info();
    return result;
}

}  // namespace rarcontainer
