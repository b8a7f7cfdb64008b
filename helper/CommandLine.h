#pragma once

#include <optional>
#include <string>
#include <vector>

// The helper's command line: a command word, switches anywhere, the archive,
// for extraction the destination folder, and then the names of the entries
// to limit "x" or "t" to.
struct CommandLine {
    enum class Command { None, Help, BareList, List, TechnicalList, Extract, Test };
    enum class Overwrite { Always, Never };

    Command command = Command::None;
    std::string archive;
    std::string destination;  // "" = the working directory
    std::optional<std::string> password;
    Overwrite overwrite = Overwrite::Always;
    bool assumeYes = false;
    std::vector<std::string> names;      // entries named on the command line
    std::vector<std::string> nameFiles;  // files of names, one per line (-n@FILE)

    // On failure, `error` says what is wrong and the command is None.
    static CommandLine parse(const std::vector<std::string>& arguments, std::string& error);

    static std::string usage();
};
