#pragma once

#include <stdexcept>
#include <string>

namespace vorlo::rarwriter {

// Anything that stops an archive from being written: an unreadable source,
// a full disk, a name that cannot be stored, a volume too small for a header.
class RarWriteError : public std::runtime_error {
public:
    explicit RarWriteError(const std::string &what) : std::runtime_error(what) {}
};

} // namespace vorlo::rarwriter
