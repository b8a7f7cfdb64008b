#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A regular file is written under a hidden name in its own folder and takes
// its real name only once its data is complete and its checksum verified.
// Whatever ends the helper halfway (SIGKILL, a crash, a full disk, a folder
// made read-only) leaves at most such a hidden file, never a half-written
// file under a name from the archive, and an older copy being replaced stays
// whole until the new one is ready.
//
// Where the filesystem allows it the file is made without any name at all
// (O_TMPFILE) and linked to its name once verified: a killed helper then
// leaves nothing behind. Elsewhere it is written under a hidden name.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile() { discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the file for `name` in the open folder `folder` (whose path
    // below the working directory is `folderPath`, "" or ending in "/"),
    // with permissions `mode` (the umask applies). 0 or the errno.
    //
    // A file announced as `empty` is not made until commit: then it is
    // created under its name at once (a file without data is complete the
    // moment it exists), which spares the staging for archives of many empty
    // files. Should data come after all, it is staged as any other file.
    int create(int folder, const std::string& folderPath, const std::string& name, mode_t mode,
               bool empty = false);
    // `size` bytes at `offset`; 0 or the errno. Small pieces that follow
    // each other are gathered and written in big ones.
    int write(const void* data, std::size_t size, std::int64_t offset);
    // Writes what is gathered; 0 or the errno.
    int flush();
    // Gives the file its length (a sparse end) and times; nullptr leaves a time as it is.
    int finish(std::int64_t size, const struct timespec* accessed, const struct timespec* modified);
    // Gives the complete file its name (see the static commit). 0 or the errno.
    int commit(bool replace);
    // Deletes what was written; nothing is left on disk.
    void discard();

    int descriptor() const { return fd_; }
    // The hidden name relative to the working directory; "" while the file has none.
    const std::string& hiddenPath() const { return hiddenPath_; }

    // After commit: whether an empty folder in the way was removed (a
    // folder descriptor kept for it is stale).
    bool removedFolder() const { return removedFolder_; }

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

private:
    int stage();
    int linkAs(const std::string& name);
    int commitEmpty(bool replace);

    int fd_ = -1;
    int folder_ = -1;
    std::string name_;
    std::string hidden_;
    std::string hiddenPath_;
    std::int64_t end_ = 0;
    std::vector<char> pending_;
    std::int64_t pendingOffset_ = 0;
    bool removedFolder_ = false;
    // An empty file not made yet, and what it is to be given when it is.
    bool deferred_ = false;
    std::string folderPath_;
    mode_t mode_ = 0;
    struct timespec times_[2] {};
    bool timesGiven_ = false;
};
