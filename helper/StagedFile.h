#pragma once

#include <cstdint>
#include <string>

// A regular file is written under a hidden name in its own folder and takes
// its real name only once its data is complete and its checksum verified.
// Whatever ends the helper halfway (SIGKILL, a crash, a full disk, a folder
// made read-only) leaves at most such a hidden file, never a half-written
// file under a name from the archive, and an older copy being replaced stays
// whole until the new one is ready.
class StagedFile {
public:
    // A temporary name beside `path` (relative to the working directory) that
    // nothing on disk holds now: "<folder>/.<name>.<random>.part", the name
    // cut to keep the whole within a file name's length.
    static std::string temporaryNameFor(const std::string& path);

    // Puts `staged` in place as `path`. With `replace`, what `path` holds is
    // replaced (a file or link as such, never followed; an empty folder is
    // removed first); without, an existing `path` is left and EEXIST
    // returned. 0 on success, else the errno; `staged` is left as it was on
    // failure.
    static int commit(const std::string& staged, const std::string& path, bool replace);

    // The text of `message` with the temporary name shown as the final one.
    static std::string showFinalName(std::string message, const std::string& staged, const std::string& path);

    // Only for tests: the name part of `temporaryNameFor`, from a given number.
    static std::string nameFor(const std::string& base, std::uint64_t random);
};
