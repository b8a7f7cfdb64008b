#include "RarFailure.h"

#include "Console.h"
#include "ExitCode.h"
#include "HelperProtocol.h"
#include "PasswordPrompt.h"

using rarcontainer::Status;

int RarFailure::report(Status status, const std::string& message, const std::string& archiveName,
                       const PasswordPrompt& prompt)
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
        Console::errorLine(shown + ": " + rarcontainer::describe(status));
        return kExitBadPassword;
    case Status::UnsupportedCipher:
        Console::errorLine(shown + " " + rarcontainer::describe(status));
        return kExitUnsupported;
    default:
        break;
    }
    // The marker counts only as a line of its own.
    Console::errorLine(shown + ": "
                       + (message == HelperProtocol::kDamaged ? std::string("the archive is cut short")
                          : message.empty()                   ? std::string(rarcontainer::describe(status))
                                                              : message));
    Console::errorLine(HelperProtocol::kDamaged);
    return kExitFatal;
}

std::string RarFailure::entryLine(const rarcontainer::Entry& entry, const std::string& shownName)
{
    switch (entry.failure) {
    case Status::NeedPassword:
        return "No password given for " + shownName;
    case Status::WrongPassword:
        return "Wrong password for " + shownName;
    case Status::PasswordTooLong:
        return shownName + ": " + rarcontainer::describe(entry.failure);
    case Status::UnsupportedCipher:
        return shownName + " " + rarcontainer::describe(entry.failure);
    default:
        return shownName + ": "
            + (entry.failureDetail.empty() ? std::string(rarcontainer::describe(entry.failure)) : entry.failureDetail);
    }
}

int RarFailure::entryStatus(const rarcontainer::Entry& entry)
{
    switch (entry.failure) {
    case Status::UnsupportedCipher:
        return kExitUnsupported;
    case Status::NeedPassword:
    case Status::WrongPassword:
    case Status::PasswordTooLong:
        return kExitBadPassword;
    default:
        return kExitFatal;
    }
}
