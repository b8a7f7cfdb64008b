// unrar: Vorlo's archive helper. Lists, tests and extracts RAR archives (and
// whatever else libarchive reads) and prints the texts the application
// reads through a pipe. See CommandLine::usage() for the commands.

#include "CommandLine.h"
#include "Console.h"
#include "ExitCode.h"
#include "Extractor.h"
#include "Lister.h"
#include "StopGuard.h"

#include <clocale>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv)
{
    // libarchive converts names through the locale: without a UTF-8 one,
    // RAR 4 names outside ASCII come back empty.
    // Names are printed as UTF-8 whatever the user's locale.
    std::setlocale(LC_ALL, "");
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "en_US.UTF-8");

    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const CommandLine line = CommandLine::parse(arguments, error);
    if (line.command == CommandLine::Command::Help) {
        Console::out(CommandLine::usage());
        return kExitSuccess;
    }
    if (line.command == CommandLine::Command::None) {
        Console::errorLine(error);
        Console::err("\n" + CommandLine::usage());
        return kExitUsage;
    }

    StopGuard::instance().install(std::chrono::seconds(10));
    int status;
    if (line.command == CommandLine::Command::BareList || line.command == CommandLine::Command::List
        || line.command == CommandLine::Command::TechnicalList)
        status = Lister(line).run();
    else
        status = Extractor(line).run();
    Console::flush();
    // The guard's thread is still running: leave without static destructors.
    std::_Exit(status);
}
