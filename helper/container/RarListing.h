#pragma once
// The entry list of a RAR archive read from its block structure alone: no
// decompression, no data decryption. Names hidden by header encryption need
// the password (asked through the prompt when none is given).

#include "RarTypes.h"

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

}  // namespace rarcontainer
