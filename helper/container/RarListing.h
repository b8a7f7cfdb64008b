#pragma once
// The entry list of a RAR archive read from its block structure alone: no
// decompression, no data decryption. Names hidden by header encryption need
// the password (asked through the prompt when none is given).

#include "RarTypes.h"

#include <functional>
#include <string>
#include <vector>

namespace rarcontainer {

struct Listing {
    Status status = Status::Ok;
    std::string message;
    ArchiveInfo info;
    std::vector<Entry> entries;  // files and folders in archive order, one per file (parts merged)
};

Listing listArchive(const std::vector<std::string> &volumes, PasswordPrompt *prompt,
                    const std::optional<std::string> &password = std::nullopt);

// The same walk, handing each entry to `take` as soon as it is complete (its
// last part seen) instead of keeping them: a listing of a million entries
// need not hold them all. The result's entries stay empty.
Listing walkArchive(const std::vector<std::string> &volumes, PasswordPrompt *prompt,
                    const std::optional<std::string> &password, const std::function<void(const Entry &)> &take);

}  // namespace rarcontainer
