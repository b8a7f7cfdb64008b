#pragma once

// The helper's exit statuses, as listed by --help.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitWarning = 1,         // finished, but something was not as it should be
    kExitFatal = 2,           // damaged, truncated or incomplete archive; not an archive
    kExitChecksum = 3,        // an entry failed its checksum
    kExitUnsupported = 4,     // encrypted with a method this version cannot decrypt
    kExitWrite = 5,           // cannot write (disk full, permission denied)
    kExitOpen = 6,            // cannot open the archive
    kExitUsage = 7,           // bad command line
    kExitRefused = 9,         // an entry was refused (unsafe path) or could not be created
    kExitNoFiles = 10,        // nothing to extract
    kExitBadPassword = 11,    // wrong or missing password
    kExitStopped = 255,       // stopped by a signal
};
