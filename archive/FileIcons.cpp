#include "FileIcons.h"

#include "ResourceLocator.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

namespace {
// Without a desktop session (a bare X server, offscreen) no icon theme is
// set and every themed icon comes out blank: fall back to Adwaita.
void ensureIconTheme()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor"))
        return;
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &dir : {QStringLiteral("/usr/share/icons"), QDir::homePath() + QStringLiteral("/.local/share/icons")}) {
        if (!paths.contains(dir))
            paths << dir;
    }
    QIcon::setThemeSearchPaths(paths);
    if (QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QIcon genericDocument()
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    if (icon.isNull() && qobject_cast<QApplication *>(QCoreApplication::instance()))
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}
} // namespace

QIcon FileIcons::folder()
{
    static QIcon icon;
    if (icon.isNull()) {
        const QString path = ResourceLocator::find(QStringLiteral("images/folder.png"));
        icon = path.isEmpty() ? QIcon() : QIcon(path);
        if (icon.isNull() && qobject_cast<QApplication *>(QCoreApplication::instance()))
            icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    }
    return icon;
}

QIcon FileIcons::forFileName(const QString &name)
{
    static QHash<QString, QIcon> byExtension;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    const auto cached = byExtension.constFind(extension);
    if (cached != byExtension.cend())
        return *cached;

    ensureIconTheme();
    QIcon icon;
    if (!extension.isEmpty()) {
        static const QMimeDatabase mimeDatabase;
        const QMimeType type = mimeDatabase.mimeTypeForFile(QStringLiteral("x.") + extension,
                                                            QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) {
            icon = QIcon::fromTheme(type.iconName());
            if (icon.isNull())
                icon = QIcon::fromTheme(type.genericIconName());
        }
    }
    if (icon.isNull())
        icon = genericDocument();
    byExtension.insert(extension, icon);
    return icon;
}

QIcon FileIcons::lock()
{
    static QIcon icon;
    if (!icon.isNull())
        return icon;
    ensureIconTheme();
    icon = QIcon::fromTheme(QStringLiteral("changes-prevent-symbolic"));
    if (!icon.isNull())
        return icon;
    // No theme at all: a body and a shackle, drawn once.
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 70, 70), 1.6));
    painter.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
    painter.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
    painter.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 70, 70));
    painter.drawRoundedRect(QRectF(3, 7.5, 10, 7.5), 1.5, 1.5);
    painter.end();
    icon = QIcon(picture);
    return icon;
}
