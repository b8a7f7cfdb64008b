#include "ExtractionFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QString ExtractionFolder::baseName(const QString &archiveFileName)
{
    QString name = archiveFileName;
    // A raw piece of a split archive (".001") and a volume's part number
    // (".part01") say which piece, not what the archive is called.
    static const QRegularExpression volume(QStringLiteral("(\\.part\\d+)?\\.[^.]+$"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression piece(QStringLiteral("\\.\\d{3}$"));
    name.remove(piece);
    name.remove(volume);
    if (name.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
        name.chop(4);
    // A name that is all extension (".rar") keeps what it has.
    return name.isEmpty() ? archiveFileName : name;
}

QString ExtractionFolder::freePath(const QString &parent, const QString &base)
{
    const QDir folder(parent);
    QString candidate = folder.filePath(base);
    // QFileInfo::exists follows links: a dangling link takes a name too.
    for (int number = 2; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++number)
        candidate = folder.filePath(QStringLiteral("%1 (%2)").arg(base).arg(number));
    return candidate;
}
