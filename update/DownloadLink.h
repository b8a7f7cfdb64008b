#pragma once

#include <QString>

// The download address of an update list. It comes from the network and
// becomes an argument of curl, so it is checked before use.
class DownloadLink
{
public:
    // Whether `link` may be given to curl as the address to fetch: an
    // absolute http or https address with a host, written in printable
    // ASCII without blanks. A link starting with "-" (which curl would read
    // as an option) or holding "{}" or "[]" outside an IPv6 host (which curl
    // would expand into several addresses) is refused.
    static bool isAcceptable(const QString &link);

    // The file name to propose when saving the download: the last component
    // of the link's path, decoded. Never a path, never "." or "..", and
    // empty when the link names no file.
    static QString proposedFileName(const QString &link);
};
