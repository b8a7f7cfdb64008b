#include "CommandLine.h"

#include <cstddef>

CommandLine CommandLine::parse(const std::vector<std::string>& arguments, std::string& error)
{
    CommandLine line;
    std::vector<std::string> words;
    bool switchesEnded = false;
    for (const std::string& argument : arguments) {
        if (switchesEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            words.push_back(argument);
            continue;
        }
        if (argument == "--") {
            switchesEnded = true;
        } else if (argument == "-?" || argument == "-h" || argument == "--help") {
            line.command = Command::Help;
            return line;
        } else if (argument == "-o+") {
            line.overwrite = Overwrite::Always;
        } else if (argument == "-o-") {
            line.overwrite = Overwrite::Never;
        } else if (argument == "-y") {
            line.assumeYes = true;
        } else if (argument == "-v") {
            // Lists every volume of a set: always the case here.
        } else if (argument.rfind("-n@", 0) == 0 && argument.size() > 3) {
            // Standard input is the password's: a list is read from a file only.
            if (argument == "-n@-") {
                error = "Names cannot be read from standard input: use -n@FILE";
                return CommandLine{};
            }
            line.nameFiles.push_back(argument.substr(3));
        } else if (argument.rfind("-p", 0) == 0 && argument.size() > 2) {
            line.password = argument.substr(2);
        } else {
            error = "Unknown switch: " + argument;
            return CommandLine{};
        }
    }

    if (words.empty()) {
        error = "No command given";
        return CommandLine{};
    }
    const std::string& command = words[0];
    std::size_t maxWords = 2;
    bool takesNames = false;
    if (command == "vb") {
        line.command = Command::BareList;
    } else if (command == "vt") {
        line.command = Command::TechnicalList;
    } else if (command == "l" || command == "v") {
        line.command = Command::List;
    } else if (command == "t") {
        line.command = Command::Test;
        takesNames = true;
    } else if (command == "x") {
        line.command = Command::Extract;
        maxWords = 3;
        takesNames = true;
    } else {
        error = "Unknown command: " + command;
        return CommandLine{};
    }
    if (words.size() < 2) {
        error = "No archive given";
        return CommandLine{};
    }
    if (!takesNames && !line.nameFiles.empty()) {
        error = "Names are taken by \"x\" and \"t\" only";
        return CommandLine{};
    }
    if (takesNames && words.size() > maxWords) {
        line.names.assign(words.begin() + static_cast<std::ptrdiff_t>(maxWords), words.end());
        words.resize(maxWords);
    }
    if (words.size() > maxWords) {
        error = "Unexpected argument: " + words[maxWords];
        return CommandLine{};
    }
    line.archive = words[1];
    if (words.size() > 2)
        line.destination = words[2];
    return line;
}

std::string CommandLine::usage()
{
    return "Usage: unrar COMMAND [SWITCHES] ARCHIVE [DESTINATION] [--] [NAME...]\n"
           "\n"
           "Commands:\n"
           "  vb    bare listing: one entry path per line\n"
           "  vt    technical listing, one line per entry for programs to read:\n"
           "          FLAGS SIZE PACKED MTIME NAME\n"
           "        one space between fields, NAME runs to the end of the line.\n"
           "        FLAGS is two characters: \"d\" folder or \"-\", then \"*\" encrypted\n"
           "        or \"-\"; SIZE is in bytes; PACKED is in bytes or \"-\" when the\n"
           "        format does not say; MTIME is seconds since 1970 (UTC) or \"-\".\n"
           "        Entries come in the order and with the names of \"vb\".\n"
           "  l     listing with size, date and name\n"
           "  t     test every entry's checksum without writing\n"
           "  x     extract with full paths into DESTINATION (default: here)\n"
           "\n"
           "  \"x\" and \"t\" take everything, or only the entries NAME... (for \"x\",\n"
           "  after DESTINATION): each NAME is an entry exactly as \"vb\" prints it,\n"
           "  and a folder's name takes everything under it. A NAME that matches no\n"
           "  entry is reported and the run fails (status 10 when nothing matched,\n"
           "  else 1). Put \"--\" before names that start with \"-\". The progress\n"
           "  marks still count the whole archive's bytes, skipped entries included.\n"
           "\n"
           "Switches:\n"
           "  -n@FILE  also take the names listed in FILE, one per line (for long\n"
           "        selections; standard input stays free for the password)\n"
           "  -o+   overwrite existing files (the default)\n"
           "  -o-   skip existing files\n"
           "  -p<password>  use this password instead of asking\n"
           "  -v    list every volume (accepted, always done)\n"
           "  -y    assume yes to every question\n"
           "  -?, --help    this text\n"
           "\n"
           "Volume sets are opened through their first volume (name.part1.rar,\n"
           "name.rar with name.r00...); raw pieces (name.001, name_aa) are joined.\n"
           "ZIP, 7z, tar, ISO and the other formats of libarchive are read too.\n"
           "\n"
           "Device nodes, FIFOs and sockets are skipped (status 1) and set-user-ID,\n"
           "set-group-ID and sticky bits dropped. Hard links are made only to files\n"
           "the same extraction wrote. Names that are not UTF-8 are read as code\n"
           "page 437 (ZIP), Latin-1 (RAR) or Windows-1252 (tar, cpio and others).\n"
           "\n"
           "Exit status:\n"
           "  0    success\n"
           "  1    warning: finished, but not everything as asked (an entry skipped)\n"
           "  2    fatal: damaged, truncated or incomplete archive, or not an archive\n"
           "  3    checksum error\n"
           "  4    encrypted with a method this version cannot decrypt\n"
           "  5    write error (disk full, permission denied)\n"
           "  6    cannot open the archive\n"
           "  7    bad command line\n"
           "  9    an entry was refused (unsafe path) or could not be created\n"
           "  10   no files to extract\n"
           "  11   wrong or missing password\n"
           "  255  stopped by a signal\n";
}
