#pragma once

#include <QString>

// Where "Extract" puts an archive of several top-level items when asked to
// keep them together: a new folder beside the archive, named after it.
namespace ExtractionFolder {
// The archive's name without its extension and volume suffix:
// "photos.part01.rar" and "photos.rar" give "photos", "logs.tar.gz" "logs".
QString baseName(const QString &archiveFileName);

// `base` in `parent`, or "base (2)", "base (3)"... when the name is taken by
// anything at all; the first name that is free.
QString freePath(const QString &parent, const QString &base);
}
