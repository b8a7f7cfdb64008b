#include "InstanceChannel.h"
#include "ResourceLocator.h"
#include "StringTable.h"
#include "VorloCtrl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlo"));
    QApplication::setOrganizationName(QStringLiteral("Vorlo"));
    QApplication::setApplicationVersion(QStringLiteral(VORLO_VERSION));
    // Ties the windows to vorlo.desktop (its name and icon in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("vorlo"));
    const QString icon = ResourceLocator::find(QStringLiteral("images/vorlo.png"));
    if (!icon.isEmpty())
        QApplication::setWindowIcon(QIcon(icon));
    // Vorlo decides itself when to end: hidden windows count as gone.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own dialogs (the file choosers) in the user's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    QCommandLineParser parser;
    parser.setApplicationDescription(StringTable::text(QStringLiteral("appDescription")));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("archives"),
                                 StringTable::text(QStringLiteral("appArgumentArchives")),
                                 QStringLiteral("[ARCHIVE...]"));
    parser.process(application);

    QStringList archives;
    for (const QString &argument : parser.positionalArguments()) {
        const QString path = VorloCtrl::archivePathFromArgument(argument);
        if (!path.isEmpty())
            archives << QFileInfo(path).absoluteFilePath();
    }

    // One Vorlo per user: a second start hands its archives over and ends.
    InstanceChannel channel(InstanceChannel::defaultName());
    if (channel.sendToRunning(archives))
        return 0;
    channel.listen();

    VorloCtrl controller;
    QObject::connect(&channel, &InstanceChannel::archivesReceived, &controller, &VorloCtrl::openRequested);
    // Started from inside the event loop, so that cancelling the Open
    // chooser can end it.
    QTimer::singleShot(0, &controller, [&controller, archives] { controller.start(archives); });
    return application.exec();
}
