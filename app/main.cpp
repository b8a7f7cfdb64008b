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
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// Ctrl+C in a terminal, the end of the session or a plain kill end Vorlo as
// Quit does, so that the helpers it started end with it. The handlers are
// set at once; a signal that comes before the event loop waits in the pipe.
void catchTerminationSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

void quitOnTerminationSignals(VorloCtrl &controller)
{
    if (signalPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &controller);
    QObject::connect(notifier, &QSocketNotifier::activated, &controller, [&controller] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        controller.quit();
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    catchTerminationSignals();
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
    quitOnTerminationSignals(controller);
    QObject::connect(&channel, &InstanceChannel::archivesReceived, &controller, &VorloCtrl::openRequested);
    // Started from inside the event loop, so that cancelling the Open
    // chooser can end it.
    QTimer::singleShot(0, &controller, [&controller, archives] { controller.start(archives); });
    return application.exec();
}
