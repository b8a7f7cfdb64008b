#include "Lister.h"

#include "ArchiveReader.h"
#include "Console.h"
#include "EncryptionNotice.h"
#include "EntryName.h"
#include "ExitCode.h"
#include "HelperPasswordPrompt.h"
#include "HelperProtocol.h"
#include "LineBatcher.h"
#include "PasswordPrompt.h"
#include "RarFailure.h"
#include "RarListing.h"
#include "StopGuard.h"

#include <archive.h>
#include <archive_entry.h>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <optional>
#include <algorithm>

namespace {

std::string detailLine(archive_entry* entry, const std::string& name, bool encrypted)
{
    char size[32] = "";
    if (archive_entry_filetype(entry) == AE_IFDIR)
        std::snprintf(size, sizeof size, "%12s", "<dir>");
    else
        std::snprintf(size, sizeof size, "%12" PRId64, static_cast<std::int64_t>(archive_entry_size(entry)));
    char date[32] = "                ";
    if (archive_entry_mtime_is_set(entry)) {
        const std::time_t when = archive_entry_mtime(entry);
        std::tm local {};
        if (localtime_r(&when, &local))
            std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &local);
    }
    return std::string(encrypted ? "*" : " ") + size + "  " + date + "  " + name;
}

// One line of "vt": FLAGS SIZE PACKED MTIME NAME, numbers in decimal and
// "-" for what the format does not record, so that a program can split the
// line at its first four spaces and take the rest as the name.
std::string technicalLine(bool directory, bool encrypted, std::uint64_t size, std::optional<std::uint64_t> packed,
                          std::optional<std::int64_t> mtime, const std::string& name)
{
    char fields[96];
    char packedText[24] = "-";
    char mtimeText[24] = "-";
    if (packed)
        std::snprintf(packedText, sizeof packedText, "%" PRIu64, *packed);
    if (mtime)
        std::snprintf(mtimeText, sizeof mtimeText, "%" PRId64, *mtime);
    std::snprintf(fields, sizeof fields, "%c%c %" PRIu64 " %s %s ", directory ? 'd' : '-', encrypted ? '*' : '-',
                  size, packedText, mtimeText);
    return fields + name;
}

// The same line for an entry the RAR header walk found.
std::string detailLine(const rarcontainer::Entry& entry, const std::string& name)
{
    char size[32];
    if (entry.isDirectory)
        std::snprintf(size, sizeof size, "%12s", "<dir>");
    else
        std::snprintf(size, sizeof size, "%12" PRIu64, entry.unpackedSize);
    char date[32] = "                ";
    if (entry.mtime != 0) {
        const std::time_t when = std::time_t(entry.mtime);
        std::tm local {};
        if (localtime_r(&when, &local))
            std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &local);
    }
    return std::string(entry.encrypted ? "*" : " ") + size + "  " + date + "  " + name;
}

// A RAR archive is listed from its headers alone: nothing is decompressed,
// and hidden names are decrypted with the password. Each entry is written
// as the walk completes it, so the lines flow while the headers are read
// and no entry list is kept; the walk gives the packed sizes for "vt".
int listRar(ArchiveReader& reader, PasswordPrompt& prompt, const CommandLine& line)
{
    HelperPasswordPrompt answers(prompt);
    const bool bare = line.command == CommandLine::Command::BareList;
    const bool technical = line.command == CommandLine::Command::TechnicalList;
    const bool detailed = !bare && !technical;
    const auto heading = [&] {
        Console::line("Archive: " + Console::displayName(line.archive));
        Console::line("");
    };
    std::int64_t entries = 0, files = 0, bytes = 0;
    rarcontainer::Listing listing;
    {
        LineBatcher lines;
        listing = rarcontainer::walkArchive(reader.volumeSet().paths(), &answers, std::nullopt,
                                            [&](const rarcontainer::Entry& entry) {
            if (entries++ == 0 && detailed)
                heading();
            // Older versions of a file are kept out of sight, like deleted files.
            if (entry.oldVersion)
                return;
            const std::string name = Console::displayName(entry.name);
            if (bare) {
                lines.add(name);
            } else if (technical) {
                lines.add(technicalLine(entry.isDirectory, entry.encrypted, entry.isDirectory ? 0 : entry.unpackedSize,
                                        entry.packedSize, entry.mtime != 0 ? std::optional(entry.mtime) : std::nullopt,
                                        name));
            } else {
                lines.add(detailLine(entry, name));
                if (!entry.isDirectory) {
                    ++files;
                    bytes += std::int64_t(entry.unpackedSize);
                }
            }
        });
    }
    if (listing.status != rarcontainer::Status::Ok) {
        const int status = RarFailure::report(listing.status, listing.message, line.archive, prompt);
        reader.reportMissingVolume();
        return status;
    }
    if (detailed) {
        if (entries == 0)
            heading();
        char summary[96];
        std::snprintf(summary, sizeof summary, "%" PRId64 " files, %" PRId64 " bytes", files, bytes);
        Console::line("");
        Console::line(summary);
    }
    return kExitSuccess;
}

} // namespace

int Lister::run()
{
    PasswordPrompt prompt(line_.archive, line_.password);
    ArchiveReader reader(line_.archive, prompt);
    if (!reader.prepare()) {
        Console::errorLine(reader.error());
        return reader.errorStatus();
    }
    StopGuard::instance().watch(reader.meter());
    StopGuard::instance().setArchiveName(line_.archive);

    if (reader.isRar())
        return listRar(reader, prompt, line_);

    if (!reader.start()) {
        Console::errorLine(reader.error());
        return reader.errorStatus();
    }

    const bool bare = line_.command == CommandLine::Command::BareList;
    const bool technical = line_.command == CommandLine::Command::TechnicalList;
    if (!bare && !technical) {
        Console::line("Archive: " + Console::displayName(line_.archive));
        Console::line("");
    }

    int status = kExitSuccess;
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    LineBatcher lines;
    for (;;) {
        archive_entry* entry = nullptr;
        lines.beforeWait();
        const auto started = std::chrono::steady_clock::now();
        const int result = reader.nextHeader(&entry);
        lines.afterWait(std::chrono::steady_clock::now() - started);
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN)
            lines.flush();
        if (result == ARCHIVE_EOF)
            break;
        if (result == ARCHIVE_FATAL || !entry) {
            if (reader.entryIndex() == 0 && result == ARCHIVE_FATAL) {
                Console::errorLine(Console::displayName(line_.archive) + ": " + reader.libraryError());
                return kExitFatal;
            }
            Console::errorLine(Console::displayName(line_.archive) + ": " + reader.libraryError());
            Console::errorLine(HelperProtocol::kDamaged);
            return kExitFatal;
        }
        if (result == ARCHIVE_FAILED) {
            Console::errorLine(Console::displayName(line_.archive) + ": " + reader.libraryError());
            Console::errorLine(HelperProtocol::kDamaged);
            return kExitFatal;
        }
        const std::string name = Console::displayName(EntryName::path(entry, EntryName::legacyFor(reader.handle())));
        if (bare) {
            lines.add(name);
        } else if (technical) {
            const bool directory = archive_entry_filetype(entry) == AE_IFDIR;
            lines.add(technicalLine(directory, reader.entryEncrypted(entry),
                                    directory ? 0 : std::uint64_t(std::max<std::int64_t>(archive_entry_size(entry), 0)),
                                    std::nullopt,
                                    archive_entry_mtime_is_set(entry) ? std::optional<std::int64_t>(archive_entry_mtime(entry))
                                                                      : std::nullopt,
                                    name));
        } else {
            const bool encrypted = reader.entryEncrypted(entry);
            lines.add(detailLine(entry, name, encrypted));
            if (archive_entry_filetype(entry) != AE_IFDIR) {
                ++files;
                bytes += archive_entry_size(entry);
            }
        }
    }

    lines.flush();
    if (reader.skippedHeaders() > 0) {
        reader.reportSkippedHeaders(line_.archive);
        return kExitFatal;
    }
    if (reader.incomplete()) {
        reader.reportIncomplete(line_.archive);
        return kExitFatal;
    }
    if (!bare && !technical) {
        char summary[96];
        std::snprintf(summary, sizeof summary, "%" PRId64 " files, %" PRId64 " bytes", files, bytes);
        Console::line("");
        Console::line(summary);
    }
    return status;
}
