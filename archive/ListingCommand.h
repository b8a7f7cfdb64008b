#pragma once

#include <QString>

// The shell command that lists an archive, run by /bin/sh -c in the
// archive's folder.
namespace ListingCommand {
// Quotes `word` so that the shell reads it back unchanged and never expands
// or runs anything in it.
QString shellQuote(const QString &word);

// `helperPath` vb -v `archiveName`, both quoted; a name that starts with "-"
// is written "./-name" so that the helper cannot take it for an option. The
// shell execs the helper, so that ending the run (a window closed mid-listing)
// ends the helper itself rather than leaving it orphaned behind its shell.
QString build(const QString &helperPath, const QString &archiveName);
}
