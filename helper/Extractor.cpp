#include "Extractor.h"

#include "ArchiveReader.h"
#include "Console.h"
#include "ContainerSource.h"
#include "EntryVerifier.h"
#include "Crc32.h"
#include "EntryName.h"
#include "ExitCode.h"
#include "HelperProtocol.h"
#include "LibarchiveEntries.h"
#include "PasswordPrompt.h"
#include "PathSafety.h"
#include "ProgressReporter.h"
#include "RarEntries.h"
#include "RarFailure.h"
#include "StagedFile.h"
#include "StopGuard.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <memory>
#include <optional>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Data read within a moment, even from a slow disk.
constexpr la_int64_t kSoonBytes = 1 << 20;

bool mentions(const std::string& text, const char* word)
{
    std::string low = text;
    for (char& c : low)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return low.find(word) != std::string::npos;
}

bool makeFolders(const std::string& path)
{
    std::string partial;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        partial = path.substr(0, position);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The exit status for a failed write, from errno-style causes in the message.
int writeStatus(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EROFS
            || error == EACCES || error == EPERM
        ? kExitWrite
        : kExitRefused;
}

// The disk writer's last error, with its cause: libarchive's texts often
// leave it out ("Can't create 'x'", "Write failed").
std::string describe(archive* disk)
{
    const char* message = archive_error_string(disk);
    std::string text = message ? message : "unknown error";
    if (const int error = archive_errno(disk); error > 0) {
        const std::string cause = std::strerror(error);
        if (text.find(cause) == std::string::npos)
            text += ": " + cause;
    }
    return text;
}

// The file being written, for the Stop signal to delete.
class WritingFile {
public:
    explicit WritingFile(const std::string& path) { StopGuard::instance().beginFile(path); }
    ~WritingFile() { StopGuard::instance().endFile(); }
    WritingFile(const WritingFile&) = delete;
    WritingFile& operator=(const WritingFile&) = delete;
};

} // namespace

void Extractor::fail(int status)
{
    // The first failure decides the status; any failure overrides a mere
    // warning (an entry skipped by design).
    if (status_ == kExitSuccess || (status_ == kExitWarning && status != kExitWarning))
        status_ = status;
}

void Extractor::reportFull(const std::string& shown)
{
    Console::errorLine("Write error in " + shown + ": stopped, the destination is nearly full ("
                       + std::to_string(space_.headroom() >> 20) + " MB left before its reserve)");
    fail(kExitWrite);
}

bool Extractor::enterDestination()
{
    if (line_.destination.empty())
        return true;
    if (!makeFolders(line_.destination)) {
        Console::errorLine("Cannot create " + Console::displayName(line_.destination) + ": "
                           + std::strerror(errno));
        return false;
    }
    if (::chdir(line_.destination.c_str()) != 0) {
        Console::errorLine("Cannot enter " + Console::displayName(line_.destination) + ": "
                           + std::strerror(errno));
        return false;
    }
    return true;
}

int Extractor::run()
{
    for (const std::string& name : line_.names)
        selection_.add(name);
    for (const std::string& list : line_.nameFiles) {
        if (!selection_.addFromFile(list)) {
            Console::errorLine("Cannot read the names in " + Console::displayName(list) + ": " + std::strerror(errno));
            return kExitUsage;
        }
    }
    if (selection_.empty() && (!line_.names.empty() || !line_.nameFiles.empty())) {
        // An empty list is a selection of nothing, not of everything.
        Console::errorLine("No files to extract");
        return kExitNoFiles;
    }
    PasswordPrompt prompt(line_.archive, line_.password);
    for (;;) {
        status_ = kExitSuccess;
        selection_.resetUse();
        passwordRetry_ = false;
        const int status = runOnce(prompt);
        if (!passwordRetry_) {
            Console::flushHeld();
            return status;
        }
        // Says "incorrect" and asks again; the next run takes the new answer.
        if (!prompt.retry()) {
            Console::errorLine(prompt.inputEnded() ? "No password given for " + Console::displayName(line_.archive)
                                                   : "Wrong password for " + Console::displayName(line_.archive));
            return kExitBadPassword;
        }
    }
}

int Extractor::runOnce(PasswordPrompt& prompt)
{
    testOnly_ = line_.command == CommandLine::Command::Test;
    ArchiveReader reader(line_.archive, prompt);
    prompt_ = &prompt;
    if (!reader.prepare()) {
        Console::errorLine(reader.error());
        return reader.errorStatus();
    }
    StopGuard::instance().watch(reader.meter());
    StopGuard::instance().setArchiveName(line_.archive);

    // RAR entries come from the helper's own RAR layer; libarchive reads the rest.
    std::unique_ptr<EntrySource> source;
    if (reader.isRar()) {
        if (const rarcontainer::Status opened = reader.stackContainer(); opened != rarcontainer::Status::Ok)
            return RarFailure::report(opened, reader.container()->stream().message(), line_.archive, prompt);
        source = std::make_unique<RarEntries>(*reader.container());
    } else {
        if (!reader.start()) {
            Console::errorLine(reader.error());
            return reader.errorStatus();
        }
        source = std::make_unique<LibarchiveEntries>(reader);
    }
    source_ = source.get();
    if (!testOnly_ && !enterDestination())
        return kExitWrite;

    if (!testOnly_) {
        disk_ = archive_write_disk_new();
        int flags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;
        if (line_.overwrite == CommandLine::Overwrite::Never)
            flags |= ARCHIVE_EXTRACT_NO_OVERWRITE;
        archive_write_disk_set_options(disk_, flags);
    }

    ProgressReporter progress(*reader.meter());
    Console::line((testOnly_ ? std::string("Testing archive ") : std::string(HelperProtocol::kExtracting) + " from ")
                  + Console::displayName(line_.archive));

    std::size_t entries = 0;
    bool ended = false;
    while (!ended) {
        archive_entry* entry = nullptr;
        const int result = source_->next(&entry);
        if (result == ARCHIVE_EOF)
            break;
        if (result == ARCHIVE_FATAL || !entry) {
            const std::string why = source_->error();
            Console::errorLine(Console::displayName(line_.archive) + ": " + why);
            if (mentions(reader.streamError(), "checksum")) {
                // A compressed stream's check failed between two entries.
                fail(kExitChecksum);
                ended = true;
                break;
            }
            if (entries > 0 || reader.isRar())
                Console::errorLine(HelperProtocol::kDamaged);
            fail(kExitFatal);
            ended = true;
            break;
        }
        if (result == ARCHIVE_FAILED) {
            // The RAR readers can return the same failed header forever.
            Console::errorLine(Console::displayName(line_.archive) + ": " + source_->error());
            Console::errorLine(HelperProtocol::kDamaged);
            fail(kExitFatal);
            break;
        }
        // Older versions of a file are kept out of sight, like deleted files.
        if (const rarcontainer::Entry* held = source_->containerEntry(); held && held->oldVersion)
            continue;
        // Entries left out are stepped over: nothing of theirs is written,
        // checked or counted.
        if (!selection_.empty()
            && !selection_.takes(Console::displayName(EntryName::path(entry, source_->legacy()))))
            continue;
        ++entries;
        if (extractEntry(reader, entry, progress) == Outcome::Fatal)
            ended = true;
    }

    if (reader.skippedHeaders() > 0) {
        // The entries behind a damaged header are lost (or were taken for
        // data): the archive is damaged even when everything else came out.
        reader.reportSkippedHeaders(line_.archive);
        fail(kExitFatal);
    }
    if (!ended && !reader.readToEnd()) {
        // A compressed stream's trailer comes after the last entry, so the
        // files are in place by now: the files are not known bad, the
        // archive is, and the run fails.
        const std::string why = reader.streamError();
        Console::errorLine(Console::displayName(line_.archive) + ": " + why);
        if (mentions(why, "checksum")) {
            fail(kExitChecksum);
        } else {
            Console::errorLine(HelperProtocol::kDamaged);
            fail(kExitFatal);
        }
    }
    if (!ended) {
        // The RAR layer's walk failed after the last entry it served.
        const ContainerSource* layer = reader.container();
        if (layer && layer->stream().status() != rarcontainer::Status::Ok)
            fail(RarFailure::report(layer->stream().status(), layer->stream().message(), line_.archive, prompt));
    }

    if (disk_) {
        // Folder times and permissions are set here, after their contents.
        if (archive_write_close(disk_) != ARCHIVE_OK) {
            Console::errorLine(std::string("Cannot finish the extraction: ") + archive_error_string(disk_));
            fail(kExitWrite);
        }
        archive_write_free(disk_);
        disk_ = nullptr;
    }

    if (status_ != kExitFatal && reader.incomplete()) {
        reader.reportIncomplete(line_.archive);
        fail(kExitFatal);
    } else if (status_ == kExitFatal) {
        // The set stops at a hole: whatever failed, the volume to look for is known.
        reader.reportMissingVolume();
    }
    if (!ended && !selection_.empty()) {
        // A name that took nothing is a request not carried out.
        const std::vector<std::string> unused = selection_.unused();
        for (const std::string& name : unused)
            Console::errorLine("No entry named " + Console::displayName(name) + " in "
                               + Console::displayName(line_.archive));
        if (!unused.empty())
            fail(entries == 0 ? kExitNoFiles : kExitWarning);
    }
    if (status_ == kExitSuccess && entries == 0) {
        Console::errorLine("No files to extract");
        return kExitNoFiles;
    }
    if (status_ == kExitSuccess)
        Console::marker(HelperProtocol::kAllOk);
    return status_;
}

Extractor::Outcome Extractor::extractEntry(ArchiveReader& reader, archive_entry* entry, ProgressReporter& progress)
{
    const EntryName::Legacy legacy = source_->legacy();
    const std::string path = EntryName::path(entry, legacy);
    const std::string shown = Console::displayName(path);
    if (archive_entry_filetype(entry) == 0 && !archive_entry_hardlink(entry)) {
        // Some archivers store attributes without a file type: a plain file
        // (whose data must still be read and checked).
        archive_entry_set_filetype(entry, AE_IFREG);
        if ((archive_entry_perm(entry) & 0777) == 0)
            archive_entry_set_perm(entry, 0644);
    }
    const auto type = archive_entry_filetype(entry);
    const bool hardlink = archive_entry_hardlink(entry) != nullptr;
    const std::string linkTarget = hardlink ? EntryName::hardlink(entry, legacy)
        : type == AE_IFLNK                  ? EntryName::symlink(entry, legacy)
                                            : std::string();

    std::string refusal = PathSafety::checkEntryPath(path);
    if (refusal.empty() && type == AE_IFLNK && !hardlink)
        refusal = PathSafety::checkSymlinkTarget(path, linkTarget);
    if (refusal.empty() && hardlink)
        refusal = PathSafety::checkHardlinkTarget(linkTarget);
    if (!refusal.empty()) {
        Console::errorLine("Refused unsafe entry " + shown + ": " + refusal);
        fail(kExitRefused);
        return Outcome::Failed;
    }

    const bool encrypted = source_->encrypted(entry);
    if (!reader.headerFault().empty() && type == AE_IFREG && !hardlink) {
        // Its data would be checked against a value the archive itself disputes.
        Console::line((testOnly_ ? "Testing  " : "Extracting  ") + shown);
        Console::errorLine("Checksum error in " + shown + ": " + reader.headerFault());
        fail(kExitChecksum);
        return Outcome::Failed;
    }
    if (const rarcontainer::Entry* held = source_->containerEntry();
        held && held->failure != rarcontainer::Status::Ok) {
        // Served empty by the layer (wrong password, unsupported cipher): never written.
        Console::line((testOnly_ ? "Testing  " : "Extracting  ") + shown);
        Console::errorLine(RarFailure::entryLine(*held, shown));
        fail(RarFailure::entryStatus(*held));
        return Outcome::Failed;
    }
    if (!testOnly_ && line_.overwrite == CommandLine::Overwrite::Never && type != AE_IFDIR) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            Console::line("Skipping  " + shown + "  (already exists)");
            return Outcome::Skipped;
        }
    }

    const bool special = !hardlink && (type == AE_IFCHR || type == AE_IFBLK || type == AE_IFIFO || type == AE_IFSOCK);
    if (special && !testOnly_) {
        // Device nodes would open the machine's disks or terminals to whoever
        // reads the destination; FIFOs and sockets block or mislead the
        // programs that open them. None of them holds data of the archive.
        const char* kind = type == AE_IFIFO ? "a FIFO" : type == AE_IFSOCK ? "a socket" : "a device node";
        Console::line("Skipping  " + shown + "  (" + kind + ", not created)");
        fail(kExitWarning);
        return Outcome::Skipped;
    }

    // A hard link entry may carry the data of all its names (cpio, pax).
    const bool linkData = hardlink && archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0;
    std::optional<FileId> linkedFile;
    if (hardlink && !testOnly_) {
        linkedFile = fileId(linkTarget);
        if (!linkedFile || !written_.count(*linkedFile)) {
            Console::errorLine("Refused hard link " + shown + ": its target " + Console::displayName(linkTarget)
                               + " is not a file written by this extraction");
            fail(kExitRefused);
            return Outcome::Failed;
        }
        if (linkData) {
            // Written as a file of its own; the other names follow it below.
            archive_entry_set_hardlink(entry, nullptr);
            archive_entry_set_filetype(entry, AE_IFREG);
        } else {
            // Never opened for writing: the link's target stays as it is.
            archive_entry_set_size(entry, 0);
            archive_entry_set_hardlink_utf8(entry, linkTarget.c_str());
        }
    }
    if (type == AE_IFLNK && !hardlink)
        archive_entry_set_symlink_utf8(entry, linkTarget.c_str());
    // Set-user-ID, set-group-ID and sticky bits are not the archive's to give.
    archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);

    const bool regularData = type == AE_IFREG && (!hardlink || linkData);
    // The line of an entry whose result comes soon goes out whole with it;
    // a big file's name is shown while its data is read.
    const bool soon = !regularData
        || (archive_entry_size_is_set(entry) && archive_entry_size(entry) <= kSoonBytes);
    const std::string started = (testOnly_ ? "Testing  " : std::string(HelperProtocol::kExtracting) + "  ")
        + shown + progress.currentMark();
    if (soon)
        Console::hold(started);
    else
        Console::out(started);

    if (!testOnly_ && regularData && archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0
        && !space_.fits(static_cast<std::uint64_t>(archive_entry_size(entry)))) {
        Console::out("\n");
        reportFull(shown);
        return Outcome::Fatal;
    }
    if (regularData) {
        const Outcome written = writeFile(reader, entry, path, shown, encrypted, hardlink, progress);
        if (written == Outcome::Done && linkData)
            relinkGroup(*linkedFile, linkTarget, path);
        return written;
    }

    // A new link goes under a hidden name until it is in place.
    const bool staged = !testOnly_ && hardlink;
    const std::string target = staged ? StagedFile::temporaryNameFor(path) : path;
    std::optional<WritingFile> writing;
    if (staged)
        writing.emplace(target);
    const auto diskError = [&] { return StagedFile::showFinalName(describe(disk_), target, path); };

    if (!testOnly_) {
        // What libarchive creates or removes may be a folder kept open.
        if (type != AE_IFDIR)
            folders_.clear();
        // The name on disk is the cleaned UTF-8 one that was checked above
        // (in the same folder, for a staged link).
        archive_entry_set_pathname_utf8(entry, target.c_str());
        const int written = archive_write_header(disk_, entry);
        if (written < ARCHIVE_WARN) {
            const int error = archive_errno(disk_);
            Console::out("\n");
            Console::errorLine("Cannot create " + shown + ": " + diskError());
            if (staged)
                ::unlink(target.c_str());
            fail(error == ENOSPC || error == EACCES || error == EROFS ? kExitWrite : kExitRefused);
            return Outcome::Failed;
        }
        // Sets the time and mode, then closes it.
        const int finished = archive_write_finish_entry(disk_);
        if (finished < ARCHIVE_WARN) {
            const int error = archive_errno(disk_);
            Console::out("\n");
            Console::errorLine("Cannot write " + shown + ": " + diskError());
            if (staged)
                ::unlink(target.c_str());
            fail(writeStatus(error));
            return Outcome::Failed;
        }
    }
    if (staged) {
        const int error = StagedFile::commit(target, path, line_.overwrite == CommandLine::Overwrite::Always);
        // A link to the file the name already holds leaves both names.
        if (error == 0)
            ::unlink(target.c_str());
        if (error != 0) {
            Console::out("\n");
            Console::errorLine("Cannot create " + shown + ": " + std::strerror(error));
            ::unlink(target.c_str());
            fail(writeStatus(error));
            return Outcome::Failed;
        }
        remember(path, true);
    }
    Console::out("  OK\n");
    return Outcome::Done;
}

Extractor::Outcome Extractor::writeFile(ArchiveReader& reader, archive_entry* entry, const std::string& path,
                                        const std::string& shown, bool encrypted, bool linked,
                                        ProgressReporter& progress)
{
    if (testOnly_) {
        const Outcome copied = copyData(reader, nullptr, shown, encrypted, progress);
        if (copied == Outcome::Done)
            Console::out("  OK\n");
        return copied;
    }
    const bool replace = line_.overwrite == CommandLine::Overwrite::Always;
    const std::size_t slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int error = 0;
    const int folder = folders_.open(slash == std::string::npos ? std::string() : path.substr(0, slash), error);
    StagedFile file;
    if (folder >= 0)
        error = file.create(folder, folderPath, name, archive_entry_perm(entry) & 0777,
                            archive_entry_size_is_set(entry) && archive_entry_size(entry) == 0);
    if (folder < 0 || error != 0) {
        Console::out("\n");
        if (folder < 0 && error == ELOOP) {
            Console::errorLine("Cannot create " + shown + ": a folder on its path is a symbolic link");
            fail(kExitRefused);
        } else {
            Console::errorLine("Cannot create " + shown + ": " + std::strerror(error));
            fail(folder < 0 && error == ENOTDIR ? kExitRefused : writeStatus(error));
        }
        return Outcome::Failed;
    }
    std::optional<WritingFile> writing;
    if (!file.hiddenPath().empty())
        writing.emplace(file.hiddenPath());

    const Outcome copied = copyData(reader, &file, shown, encrypted, progress);
    if (copied != Outcome::Done)
        return copied;

    timespec accessed {archive_entry_atime(entry), archive_entry_atime_nsec(entry)};
    timespec modified {archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)};
    error = file.finish(archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0,
                        archive_entry_atime_is_set(entry) ? &accessed : nullptr,
                        archive_entry_mtime_is_set(entry) ? &modified : nullptr);
    if (error != 0) {
        Console::out("\n");
        Console::errorLine("Cannot write " + shown + ": " + std::strerror(error));
        fail(writeStatus(error));
        return Outcome::Failed;
    }
    error = file.commit(replace);
    if (file.removedFolder())
        folders_.clear();
    if (error != 0) {
        Console::out("\n");
        Console::errorLine("Cannot create " + shown + ": " + std::strerror(error));
        fail(writeStatus(error));
        return Outcome::Failed;
    }
    struct stat info {};
    if (::fstat(file.descriptor(), &info) == 0)
        remember(FileId {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)}, path,
                 linked || archive_entry_nlink(entry) > 1);
    Console::out("  OK\n");
    return Outcome::Done;
}

std::optional<Extractor::FileId> Extractor::fileId(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileId {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

void Extractor::remember(const std::string& path, bool linked)
{
    if (const std::optional<FileId> id = fileId(path))
        remember(*id, path, linked);
}

void Extractor::remember(FileId id, const std::string& path, bool linked)
{
    written_.insert(id);
    // Only names that may share their file are kept, not every file's name.
    if (linked)
        groups_[id].push_back(EntryName::normalized(path));
}

void Extractor::relinkGroup(FileId old, const std::string& oldName, const std::string& path)
{
    std::vector<std::string> names;
    if (const auto group = groups_.find(old); group != groups_.end()) {
        names = std::move(group->second);
        groups_.erase(group);
    }
    names.push_back(EntryName::normalized(oldName));
    for (const std::string& name : names) {
        // A name given to something else since then keeps what it holds now.
        if (fileId(name) != old)
            continue;
        const std::string staged = StagedFile::temporaryNameFor(name);
        if (::link(path.c_str(), staged.c_str()) != 0 || ::rename(staged.c_str(), name.c_str()) != 0) {
            const int error = errno;
            ::unlink(staged.c_str());
            Console::errorLine("Cannot link " + Console::displayName(name) + " to " + Console::displayName(path)
                               + ": " + std::strerror(error));
            fail(writeStatus(error));
            continue;
        }
        remember(name, true);
    }
}

Extractor::Outcome Extractor::copyData(ArchiveReader& reader, StagedFile* file,
                                       const std::string& shown, bool encrypted, ProgressReporter& progress)
{
    // Plain CRC-32s are checked here (the fast CRC); the container layer's
    // verifier takes the forms only it knows: keyed checksums of encrypted
    // entries, BLAKE2sp and the 16-bit sums of RAR 1.3/1.4.
    const rarcontainer::Entry* known = source_->containerEntry();
    std::optional<rarcontainer::EntryVerifier> checker;
    if (known && (known->checksumsConverted || known->checksum16 || (!known->hasCrc && known->hasBlake2)))
        checker.emplace(*known);
    // A split file may carry its CRC only in its last part: compute it anyway.
    const bool verify = !checker && known;
    Crc32 crc;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        std::int64_t offset = 0;
        const int result = source_->readBlock(&block, &size, &offset);
        if (result == ARCHIVE_EOF)
            break;
        // A warning from a data read is a failed check of this entry's data
        // (libarchive's "ZIP bad CRC", "7-Zip bad CRC", sizes that do not
        // match): its data, the last block included, is not to be kept.
        if (result != ARCHIVE_OK) {
            const std::string why = source_->error();
            Console::out("\n");
            if (file)
                file->discard();
            if (const rarcontainer::Entry* held = source_->containerEntry(); held && held->passwordUnverified) {
                passwordRetry_ = true;
                fail(kExitBadPassword);
                return Outcome::Fatal;
            }
            if (reader.passwordGivenUp() || mentions(why, "passphrase") || mentions(why, "password")) {
                Console::errorLine(prompt_->inputEnded() ? "No password given for " + shown
                                                       : "Wrong password for " + shown);
                fail(kExitBadPassword);
                return Outcome::Failed;
            }
            if (mentions(why, "crc") || mentions(why, "checksum")) {
                // The compressed stream around the archive failed its check
                // while this entry was read: its data is not to be trusted.
                const std::string stream = reader.streamError();
                Console::errorLine("Checksum error in " + shown
                                   + (!stream.empty() ? ": " + stream
                                      : encrypted ? ": corrupt file or wrong password" : ": the file is corrupt"));
                fail(kExitChecksum);
                return result == ARCHIVE_FATAL ? Outcome::Fatal : Outcome::Failed;
            }
            Console::errorLine(shown + ": " + why);
            if (result == ARCHIVE_FATAL) {
                Console::errorLine(HelperProtocol::kDamaged);
                fail(kExitFatal);
                return Outcome::Fatal;
            }
            fail(kExitFatal);
            return Outcome::Failed;
        }
        reader.meter()->touch();
        if (verify)
            crc.update(block, size);
        if (checker)
            checker->update(block, size);
        if (!testOnly_ && size > 0 && !space_.allows(size)) {
            // Far more data than the archive's size, or a lying header.
            Console::out("\n");
            reportFull(shown);
            file->discard();
            return Outcome::Fatal;
        }
        if (file && size > 0) {
            if (const int error = file->write(block, size, offset); error != 0) {
                Console::out("\n");
                Console::errorLine("Write error in " + shown + ": " + std::strerror(error));
                file->discard();
                fail(writeStatus(error));
                return Outcome::Fatal;
            }
        }
        progress.update();
    }
    if (file) {
        if (const int error = file->flush(); error != 0) {
            Console::out("\n");
            Console::errorLine("Write error in " + shown + ": " + std::strerror(error));
            file->discard();
            fail(writeStatus(error));
            return Outcome::Fatal;
        }
    }
    // The layer's entry is complete now (a split file's CRC is in its last part).
    const rarcontainer::Entry* held = source_->containerEntry();
    if (held && !held->lastPartSeen) {
        // The volume with the rest of the file is missing, empty, cut or
        // unreadable, whatever libarchive made of the data: it cannot have
        // been checked, so it never takes the file's name.
        Console::out("\n");
        Console::errorLine("Cannot check " + shown
                           + ": the volume with its last part and checksum is missing or damaged");
        if (file)
            file->discard();
        fail(kExitFatal);
        return Outcome::Failed;
    }
    const auto verdict = checker ? checker->finish(*held) : rarcontainer::EntryVerifier::Verdict::Unchecked;
    const bool compared = verify ? held->hasCrc : verdict != rarcontainer::EntryVerifier::Verdict::Unchecked;
    const bool mismatch = verify ? compared && crc.value() != held->crc
                                 : verdict == rarcontainer::EntryVerifier::Verdict::Mismatch;
    if (mismatch && held && held->passwordUnverified) {
        Console::out("\n");
        if (file)
            file->discard();
        passwordRetry_ = true;
        fail(kExitBadPassword);
        return Outcome::Fatal;
    }
    if (!mismatch && compared && held && held->encrypted)
        reader.container()->stream().confirmPassword();
    if (mismatch) {
        Console::out("\n");
        Console::errorLine("Checksum error in " + shown
                           + (encrypted ? ": corrupt file or wrong password" : ": the file is corrupt"));
        if (file)
            file->discard();
        fail(kExitChecksum);
        return Outcome::Failed;
    }
    return Outcome::Done;
}
