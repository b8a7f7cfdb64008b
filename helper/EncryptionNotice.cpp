#include "EncryptionNotice.h"

#include "Console.h"
#include "ExitCode.h"

namespace EncryptionNotice {

std::string cannotDecrypt(const std::string& name)
{
    return Console::displayName(name) + " is encrypted with a method this version cannot decrypt";
}

int refuseHiddenNames(PasswordPrompt& prompt, const std::string& archiveName)
{
    if (!prompt.first()) {
        Console::errorLine("No password given for " + Console::displayName(archiveName));
        return kExitBadPassword;
    }
    Console::errorLine(cannotDecrypt(archiveName));
    return kExitUnsupported;
}

} // namespace EncryptionNotice
