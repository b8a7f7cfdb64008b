#pragma once
// Where the helper's commands meet the container layer: putting it over a
// RAR archive, listing from the block structure alone, and the lines and
// exit statuses for what the layer refuses.

#include "CommandLine.h"
#include "RarTypes.h"

#include <string>

class ArchiveReader;
class PasswordPrompt;

namespace rarcontainer {

// Stacks the layer over the reader's volumes (asking for the password when
// names are hidden). Prints the failure and returns its exit status, or
// returns 0 when libarchive may start reading.
int stackOrReport(ArchiveReader &reader, const std::string &archiveName);

// "vb" and "l" for a RAR archive: names, sizes and dates from the headers,
// without decompressing anything.
int listFromHeaders(ArchiveReader &reader, ::PasswordPrompt &prompt, const CommandLine &line);

// After the last entry: a damaged or truncated stream that libarchive took
// for its end. Prints the failure and returns its exit status, or 0.
int reportStreamEnd(ArchiveReader &reader, const std::string &archiveName);

// An entry the layer could not hand over: the line to print and the status.
std::string refusalLine(const Entry &entry, const std::string &shownName);
int refusalStatus(const Entry &entry);

}  // namespace rarcontainer
