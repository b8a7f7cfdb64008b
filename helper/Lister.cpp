#include "Lister.h"

#include "ArchiveReader.h"
#include "Console.h"
#include "ContainerGlue.h"
#include "EncryptionNotice.h"
#include "EntryName.h"
#include "ExitCode.h"
#include "HelperProtocol.h"
#include "LineBatcher.h"
#include "StopGuard.h"

#include <archive.h>
#include <archive_entry.h>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>

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

    // RAR archives are listed from their headers: nothing is decompressed,
    // and hidden names are decrypted with the password.
    if (reader.isRar())
        return rarcontainer::listFromHeaders(reader, prompt, line_);

    if (!reader.start()) {
        Console::errorLine(reader.error());
        if (reader.isRar())
            Console::errorLine(HelperProtocol::kDamaged);
        return reader.errorStatus();
    }

    const bool bare = line_.command == CommandLine::Command::BareList;
    if (!bare) {
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
            if (reader.entryIndex() == 0 && !reader.isRar() && result == ARCHIVE_FATAL) {
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
        // Older versions of a file are kept out of sight, like deleted files.
        const RarProbe::Entry* probed = reader.probedEntry(entry);
        if (probed && probed->oldVersion)
            continue;
        const std::string name = Console::displayName(EntryName::path(entry, EntryName::legacyFor(reader.handle())));
        if (bare) {
            lines.add(name);
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
    if (!bare) {
        char summary[96];
        std::snprintf(summary, sizeof summary, "%" PRId64 " files, %" PRId64 " bytes", files, bytes);
        Console::line("");
        Console::line(summary);
    }
    return status;
}
