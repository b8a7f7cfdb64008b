#include "ContainerGlue.h"

#include "ArchiveReader.h"
#include "Console.h"
#include "ContainerSource.h"
#include "ExitCode.h"
#include "HelperProtocol.h"
#include "LineBatcher.h"
#include "PasswordPrompt.h"
#include "RarListing.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace rarcontainer {

namespace {

// The lines for a run that cannot go on, and its exit status.
int reportArchiveFailure(Status status, const std::string &message, const std::string &archiveName,
                         const ::PasswordPrompt &prompt)
{
    const std::string shown = Console::displayName(archiveName);
    switch (status) {
    case Status::NeedPassword:
        Console::errorLine("No password given for " + shown);
        return kExitBadPassword;
    case Status::WrongPassword:
        // The dialogue has already said "incorrect" for each refused answer.
        Console::errorLine(prompt.inputEnded() ? "No password given for " + shown : "Wrong password for " + shown);
        return kExitBadPassword;
    case Status::PasswordTooLong:
        Console::errorLine(shown + ": " + describe(status));
        return kExitBadPassword;
    case Status::UnsupportedCipher:
        Console::errorLine(shown + " " + describe(status));
        return kExitUnsupported;
    case Status::Truncated:
        // The marker counts only as a line of its own.
        Console::errorLine(shown + ": " + (message == HelperProtocol::kDamaged ? "the archive is cut short" : message));
        Console::errorLine(HelperProtocol::kDamaged);
        return kExitFatal;
    case Status::NotRar:
    case Status::Damaged:
    case Status::IoError:
    case Status::Ok:
        break;
    }
    Console::errorLine(shown + ": " + message);
    Console::errorLine(HelperProtocol::kDamaged);
    return kExitFatal;
}

std::string detailLine(const Entry &entry, const std::string &name)
{
    char size[32];
    if (entry.isDirectory)
        std::snprintf(size, sizeof size, "%12s", "<dir>");
    else
        std::snprintf(size, sizeof size, "%12" PRIu64, entry.unpackedSize);
    char date[32] = "                ";
    if (entry.mtime != 0) {
        const std::time_t when = std::time_t(entry.mtime);
        std::tm local{};
        if (localtime_r(&when, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &local);
    }
    return std::string(entry.encrypted ? "*" : " ") + size + "  " + date + "  " + name;
}

}  // namespace

int stackOrReport(ArchiveReader &reader, const std::string &archiveName)
{
    auto layer = std::make_unique<ContainerSource>(reader.volumeSet().paths(), reader.prompt(), reader.meter());
    const Status status = layer->open();
    if (status != Status::Ok) return reportArchiveFailure(status, layer->stream().message(), archiveName, reader.prompt());
    // Solid RAR 4 stays with libarchive, which extracts the first entry and
    // then says "RAR solid archive support unavailable".
    reader.stackContainer(std::move(layer));
    return kExitSuccess;
}

int listFromHeaders(ArchiveReader &reader, ::PasswordPrompt &prompt, const CommandLine &line)
{
    HelperPasswordPrompt answers(prompt);
    const bool bare = line.command == CommandLine::Command::BareList;
    // Each entry is written as the walk completes it, so the lines flow
    // while the headers are read and no entry list is kept.
    std::int64_t entries = 0, files = 0, bytes = 0;
    Listing listing;
    {
        LineBatcher lines;
        listing = walkArchive(reader.volumeSet().paths(), &answers, std::nullopt, [&](const Entry &entry) {
            if (entries++ == 0 && !bare) { Console::line("Archive: " + Console::displayName(line.archive)); Console::line(""); }
            if (entry.oldVersion) return;
            const std::string name = Console::displayName(entry.name);
            if (bare) {
                lines.add(name);
                return;
            }
            lines.add(detailLine(entry, name));
            if (!entry.isDirectory) {
                ++files;
                bytes += std::int64_t(entry.unpackedSize);
            }
        });
    }
    if (listing.status != Status::Ok) return reportArchiveFailure(listing.status, listing.message, line.archive, prompt);
    if (!bare) {
        if (entries == 0) { Console::line("Archive: " + Console::displayName(line.archive)); Console::line(""); }
        char summary[96];
        std::snprintf(summary, sizeof summary, "%" PRId64 " files, %" PRId64 " bytes", files, bytes);
        Console::line("");
        Console::line(summary);
    }
    return kExitSuccess;
}

int reportStreamEnd(ArchiveReader &reader, const std::string &archiveName)
{
    const ContainerSource *layer = reader.container();
    if (!layer || layer->stream().status() == Status::Ok) return kExitSuccess;
    return reportArchiveFailure(layer->stream().status(), layer->stream().message(), archiveName, reader.prompt());
}

std::string refusalLine(const Entry &entry, const std::string &shownName)
{
    switch (entry.failure) {
    case Status::NeedPassword: return "No password given for " + shownName;
    case Status::WrongPassword: return "Wrong password for " + shownName;
    case Status::PasswordTooLong: return shownName + ": " + describe(entry.failure);
    case Status::UnsupportedCipher: return shownName + " " + describe(entry.failure);
    default:
        return shownName + ": " + (entry.failureDetail.empty() ? describe(entry.failure) : entry.failureDetail);
    }
}

int refusalStatus(const Entry &entry)
{
    switch (entry.failure) {
    case Status::UnsupportedCipher: return kExitUnsupported;
    case Status::NeedPassword:
    case Status::WrongPassword:
    case Status::PasswordTooLong: return kExitBadPassword;
    default: return kExitFatal;
    }
}

}  // namespace rarcontainer
