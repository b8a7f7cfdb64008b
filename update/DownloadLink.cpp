#include "DownloadLink.h"

#include <QUrl>

namespace {
bool isPrintableAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return false;
    }
    return true;
}
}

bool DownloadLink::isAcceptable(const QString &link)
{
    if (link.isEmpty() || link.startsWith(QLatin1Char('-')) || !isPrintableAscii(link))
        return false;

    const qsizetype schemeEnd = link.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return false;
    const QString scheme = link.left(schemeEnd).toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;

    // curl expands "{a,b}" and "[1-9]" into several transfers. Brackets are
    // only legitimate around an IPv6 address in the host part.
    if (link.contains(QLatin1Char('{')) || link.contains(QLatin1Char('}')))
        return false;
    const qsizetype authorityStart = schemeEnd + 3;
    qsizetype authorityEnd = link.size();
    for (const QChar delimiter : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = link.indexOf(delimiter, authorityStart);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const QString rest = link.mid(authorityEnd);
    if (rest.contains(QLatin1Char('[')) || rest.contains(QLatin1Char(']')))
        return false;

    const QUrl url(link, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty();
}

QString DownloadLink::proposedFileName(const QString &link)
{
    const QUrl url(link);
    if (!url.isValid())
        return {};
    // Split after decoding, so an encoded "/" cannot smuggle a folder in.
    const QString path = url.path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    return name;
}
