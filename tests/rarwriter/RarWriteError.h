#pragma once

#include <stdexcept>
#include <string>

namespace vorlo::rarwriter {

// What stops an archive from being written: an unreadable source, a full disk, a bad name...
class RarWriteError : public std::runtime_error {
public:
    explicit RarWriteError(const std::string &what) : std::runtime_error(what) {}
};

} // namespace vorlo::rarwriter
