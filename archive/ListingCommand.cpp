#include "ListingCommand.h"

QString ListingCommand::shellQuote(const QString &word)
{
    // Inside single quotes nothing is special but the single quote itself,
    // which is closed, escaped and reopened.
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString ListingCommand::build(const QString &helperPath, const QString &archiveName)
{
    QString name = archiveName;
    if (name.startsWith(QLatin1Char('-')))
        name.prepend(QLatin1String("./"));
    return QLatin1String("exec ") + shellQuote(helperPath) + QLatin1String(" vb -v ") + shellQuote(name);
}
