#pragma once

#include <cstdint>
#include <string>

// Keeps an extraction from filling the destination's filesystem. A small
// archive can expand to far more than its size (a "zip bomb"), and header
// sizes can lie, so the free space is checked as data is written, not only
// from what the entries announce. The extraction stops while a margin is
// still free: the smaller of 64 MiB and a sixteenth of the filesystem.
class SpaceGuard {
public:
    // folder: where the data goes (the working directory by default).
    explicit SpaceGuard(std::string folder = ".") : folder_(std::move(folder)) {}

    // False when writing `bytes` more would eat into the margin. Asks the
    // filesystem at most once per few MiB written; a filesystem that cannot
    // say is never refused.
    bool allows(std::uint64_t bytes);

    // Whether `bytes` fit above the margin (asks the filesystem once per
    // many files or MiB, and before refusing; takes nothing from the
    // headroom). For sizes announced before the data.
    bool fits(std::uint64_t bytes);

    // Free space above the margin at the last check, in bytes.
    std::uint64_t headroom() const { return headroom_; }

    static std::uint64_t marginFor(std::uint64_t filesystemSize);

private:
    bool refresh();

    std::string folder_;
    std::uint64_t headroom_ = 0;
    std::uint64_t sinceCheck_ = 0;
    unsigned filesSinceCheck_ = 0;
    bool known_ = false;
    bool checked_ = false;
};
