#pragma once

#include "ByteSource.h"
#include "BlockWalker.h"
#include "PasswordPrompt.h"
#include "VolumeSet.h"
#include "VolumeSource.h"

#include <memory>
#include <string>
#include <vector>

struct archive;
struct archive_entry;
class ContainerSource;
namespace rarcontainer {
struct Entry;
}

// One archive opened for reading: finds its volume set and where a RAR
// archive starts. A RAR archive is read by the helper's own RAR layer
// (stackContainer()); any other runs libarchive over the set through a
// ByteSource (start()).
//
// prepare() finds and checks the files and builds the bottom VolumeSource
// (which also meters the RAR layer's progress).
class ArchiveReader {
public:
    ArchiveReader(std::string path, PasswordPrompt& prompt);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    bool prepare();
    // Puts the RAR layer (decryption, decoding, checksums of its own) on the
    // set and opens it, which asks for the password when names are hidden.
    // On a failure container()->stream().message() says why.
    rarcontainer::Status stackContainer();
    // Hands an archive that is not RAR to libarchive.
    bool start();

    // After a failed step: the message and the exit status it calls for.
    const std::string& error() const { return error_; }
    int errorStatus() const { return errorStatus_; }

    bool isRar() const { return signature_.version != 0; }
    const rarcontainer::VolumeSet& volumeSet() const { return set_; }
    const std::shared_ptr<ConsumptionMeter>& meter() const { return volumes_->meter(); }

    // Reads what the format reader left of a compressed stream, so that its
    // trailer is checked; false, with streamError(), when it fails. True at
    // once for archives that are not one compressed stream.
    bool readToEnd();
    std::string streamError() const;

    // The set found on disk lacks volumes: a hole in the names, or (as the
    // RAR layer's header walk finds to the end of the set) the last volume
    // says that more follow or a volume is cut short. missingVolume() names
    // the hole, if any.
    bool incomplete();
    std::string missingVolume() const { return set_.missing(); }
    // Says why the set is incomplete, then "Unexpected end of archive".
    void reportIncomplete(const std::string& archiveName) const;
    // Names the volume missing from the middle of the set, if one is.
    void reportMissingVolume() const;

    // libarchive's next header, under the stall watchdog. Counts entries.
    // Headers libarchive found damaged and stepped over (ARCHIVE_RETRY) are
    // never returned: they are counted in skippedHeaders() instead.
    int nextHeader(archive_entry** entry);
    // What is wrong with the current entry's header so that its data cannot
    // be trusted, or "" (see nextHeader() for which warnings count).
    const std::string& headerFault() const { return headerFault_; }
    // Damaged headers stepped over so far, and libarchive's word on the first.
    std::size_t skippedHeaders() const { return skippedHeaders_; }
    const std::string& skippedHeaderError() const { return skippedHeaderError_; }
    // Says that damaged headers were stepped over, then "Unexpected end of archive".
    void reportSkippedHeaders(const std::string& archiveName) const;
    std::size_t entryIndex() const { return entries_ == 0 ? 0 : entries_ - 1; }
    // Whether the current entry's data is encrypted (as far as anyone can tell).
    bool entryEncrypted(archive_entry* entry) const;
    ContainerSource* container() const { return container_.get(); }

    PasswordPrompt& prompt() { return prompt_; }
    archive* handle() { return archive_; }
    std::string libraryError() const;
    // The password callback gave up (input ended, prompts used up).
    bool passwordGivenUp() const { return passwordGivenUp_; }

    const std::string& path() const { return path_; }

private:
    void stackDecompressor();
    static long readCallback(archive*, void* self, const void** buffer);
    static std::int64_t skipCallback(archive*, void* self, std::int64_t request);
    static std::int64_t seekCallback(archive*, void* self, std::int64_t offset, int whence);
    static const char* passphraseCallback(archive*, void* self);

    std::string path_;
    PasswordPrompt& prompt_;
    rarcontainer::VolumeSet set_;
    rarcontainer::Signature signature_;
    std::unique_ptr<VolumeSource> volumes_;
    std::unique_ptr<ByteSource> layer_;
    std::unique_ptr<ContainerSource> container_;
    archive* archive_ = nullptr;
    std::vector<unsigned char> buffer_;
    std::string passphrase_;
    bool passwordGivenUp_ = false;
    int passphraseRequests_ = 0;
    std::size_t entries_ = 0;
    std::string headerFault_;
    std::size_t skippedHeaders_ = 0;
    std::string skippedHeaderError_;
    std::string error_;
    int errorStatus_ = 0;
};
