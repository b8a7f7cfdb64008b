#pragma once

#include <optional>
#include <string>
#include <vector>

// The helper's command line: a command word, switches anywhere, the archive
// and, for extraction, the destination folder.
struct CommandLine {
    enum class Command { None, Help, BareList, List, TechnicalList, Extract, Test };
    enum class Overwrite { Always, Never };

    Command command = Command::None;
    std::string archive;
    std::string destination;  // "" = the working directory
    std::optional<std::string> password;
    Overwrite overwrite = Overwrite::Always;
    bool assumeYes = false;

    // On failure, `error` says what is wrong and the command is None.
    static CommandLine parse(const std::vector<std::string>& arguments, std::string& error);

    static std::string usage();
};
