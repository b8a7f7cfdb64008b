#pragma once

#include "CommandLine.h"
#include "EntrySelection.h"
#include "FolderCache.h"
#include "SpaceGuard.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class ArchiveReader;
class EntrySource;
class PasswordPrompt;
class ProgressReporter;
class StagedFile;
struct archive;
struct archive_entry;

// The "x" and "t" commands. Extraction writes below the destination folder
// only: the folder becomes the working directory and libarchive's disk
// writer gets relative names with its secure flags on, after the helper's
// own checks of names and link targets (PathSafety). Regular files are
// written by the helper itself, into folders reached without following links
// (FolderCache), without a name or under a hidden one until complete and
// verified (StagedFile); a file that fails (checksum, password, write error,
// Stop) is deleted, and nothing half written ever carries an entry's name.
class Extractor {
public:
    explicit Extractor(const CommandLine& line) : line_(line) {}
    int run();

private:
    int runOnce(PasswordPrompt& prompt);
    enum class Outcome { Done, Skipped, Failed, Fatal };

    bool enterDestination();
    Outcome extractEntry(ArchiveReader& reader, archive_entry* entry, ProgressReporter& progress);
    // file: where the data goes (nullptr when only testing).
    Outcome copyData(ArchiveReader& reader, StagedFile* file, const std::string& shown,
                     bool encrypted, ProgressReporter& progress);
    // Writes a regular file's data and gives it its name once checked.
    // linked: a hard link entry's data (the file may have other names).
    Outcome writeFile(ArchiveReader& reader, archive_entry* entry, const std::string& path,
                      const std::string& shown, bool encrypted, bool linked, ProgressReporter& progress);
    void fail(int status);
    void reportFull(const std::string& shown);

    // Hard links may only point at files this run wrote, never at what the
    // destination held before (a link would let the archive's data or a
    // later entry reach a file of the user's). Files are known by device and
    // inode, checked against what the name holds at the time of linking.
    struct FileId {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileId&) const = default;
    };
    struct FileIdHash {
        std::size_t operator()(const FileId& id) const
        {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };
    // The file `path` names (the name itself, never followed); nullopt when
    // it is not a regular file.
    static std::optional<FileId> fileId(const std::string& path);
    void remember(const std::string& path, bool linked);
    void remember(FileId id, const std::string& path, bool linked);
    // The names linked to `old` take the data a later link entry carried.
    void relinkGroup(FileId old, const std::string& oldName, const std::string& path);

    const CommandLine& line_;
    EntrySelection selection_;
    archive* disk_ = nullptr;
    SpaceGuard space_;
    FolderCache folders_;
    PasswordPrompt* prompt_ = nullptr;
    EntrySource* source_ = nullptr;  // the entries of the run under way
    bool testOnly_ = false;
    // An entry whose password no check value could confirm failed: ask again
    // and start over (RAR 4 data carries no password check).
    bool passwordRetry_ = false;
    int status_ = 0;
    std::unordered_set<FileId, FileIdHash> written_;
    // Names of files that are part of a link group, by file.
    std::unordered_map<FileId, std::vector<std::string>, FileIdHash> groups_;
};
