#pragma once

#include <QString>
#include <QStringList>

// Fills a printf-style format from a string table with already formatted
// arguments. Formats may come from translations or the network, so nothing
// in them can read past the arguments given or crash the program:
//   %@ %s %d %i %u %ld %lu %lld %llu %f and positional %N$@ (N from 1) take
//   the next (or the Nth) argument as text; a missing argument gives "".
//   %% gives "%". Anything else after "%" is kept literally.
// Arguments are inserted as they are and never scanned again.
QString safeFormat(const QString &format, const QStringList &arguments);
