#pragma once

#include "RarTypes.h"

#include <string>

class PasswordPrompt;

// The lines and exit statuses for what the RAR layer refuses: a run that
// cannot go on (no or wrong password, a damaged or cut archive) and an entry
// that the layer served empty.
class RarFailure {
public:
    // Prints why the run stops and returns its exit status.
    static int report(rarcontainer::Status status, const std::string& message, const std::string& archiveName,
                      const PasswordPrompt& prompt);

    static std::string entryLine(const rarcontainer::Entry& entry, const std::string& shownName);
    static int entryStatus(const rarcontainer::Entry& entry);
};
