#include "RarListing.h"

#include "BlockWalker.h"

#include <optional>

namespace rarcontainer {

Listing listArchive(const std::vector<std::string> &volumes, PasswordPrompt *prompt,
                    const std::optional<std::string> &password)
{
    std::vector<Entry> entries;
    Listing result = walkArchive(volumes, prompt, password, [&entries](const Entry &entry) {
        entries.push_back(entry);
    });
    result.entries = std::move(entries);
    return result;
}

Listing walkArchive(const std::vector<std::string> &volumes, PasswordPrompt *prompt,
                    const std::optional<std::string> &password, const std::function<void(const Entry &)> &take)
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
    // The entry whose later parts may still come.
    std::optional<Entry> pending;
    while (walker.next(block)) {
        if (block.kind != Block::Kind::File) continue;
        if (block.splitBefore && pending) {
            // A later part of the file before it: only its totals change.
            pending->packedSize += block.entry.packedSize;
            if (block.entry.hasCrc) {
                pending->hasCrc = true;
                pending->crc = block.entry.crc;
            }
            continue;
        }
        if (pending) take(*pending);
        pending = std::move(block.entry);
    }
    if (pending) take(*pending);
    result.status = walker.status();
    result.message = walker.message();
    result.info = walker.info();
    return result;
}

}  // namespace rarcontainer
