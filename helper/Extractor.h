#pragma once

#include "CommandLine.h"
#include "SpaceGuard.h"

#include <string>

class ArchiveReader;
class PasswordPrompt;
class ProgressReporter;
struct archive;
struct archive_entry;

// The "x" and "t" commands. Extraction writes below the destination folder
// only: the folder becomes the working directory and libarchive's disk
// writer gets relative names with its secure flags on, after the helper's
// own checks of names and link targets (PathSafety). A file's data is written
// under a hidden name and renamed into place once complete and verified
// (StagedFile); a file that fails (checksum, password, write error, Stop) is
// deleted, and nothing half written ever carries an entry's name.
class Extractor {
public:
    explicit Extractor(const CommandLine& line) : line_(line) {}
    int run();

private:
    int runOnce(PasswordPrompt& prompt);
    enum class Outcome { Done, Skipped, Failed, Fatal };

    bool enterDestination();
    Outcome extractEntry(ArchiveReader& reader, archive_entry* entry, PasswordPrompt& prompt,
                         ProgressReporter& progress);
    // target: where the data goes (the file's hidden name until it is checked).
    Outcome copyData(ArchiveReader& reader, archive_entry* entry, const std::string& target,
                     const std::string& shown, bool encrypted, ProgressReporter& progress);
    void fail(int status);
    void reportFull(const std::string& shown);

    const CommandLine& line_;
    archive* disk_ = nullptr;
    SpaceGuard space_;
    PasswordPrompt* prompt_ = nullptr;
    bool testOnly_ = false;
    bool encryptionRefused_ = false;
    // An entry whose password no check value could confirm failed: ask again
    // and start over (RAR 4 data carries no password check).
    bool passwordRetry_ = false;
    int status_ = 0;
};
