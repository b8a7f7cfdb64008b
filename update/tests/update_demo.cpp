// Shows the update window against a local server, for looking at it:
//   update_demo filled        the filled window
//   update_demo downloading   the same, with a slow download under way
//   update_demo save          the real save dialog over the window
//   update_demo offer         the real offer alert
#include "LocalHttpServer.h"
#include "UpdateListXml.h"

#include "StringTable.h"
#include "UpdateCheck.h"
#include "UpdateControl.h"
#include "UpdateDesktop.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

namespace {
// Answers the save dialog itself, with a file in the temporary folder.
class AutoSaveDesktop : public UpdateDesktop
{
public:
    void chooseSavePath(QWidget *, const QString &, const QString &proposedName,
                        std::function<void(int, const QString &)> done) override
    {
        done(1, QDir::temp().filePath(proposedName));
    }
};
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion("1.0.0");
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("filled");

    LocalHttpServer server;
    if (!server.listen())
        return 1;
    qputenv("VORLO_UPDATE_BASE", server.baseUrl().toUtf8());
    server.route("/updates/vorlocheck.xml",
                 {200, updateListXml("2.0", server.baseUrl() + "/files/Vorlo-2.0.tar.gz", "48.6",
                                     notesXml("notes", {"Archives open twice as fast.",
                                                        "Encrypted RAR 5 archives ask for their password once.",
                                                        "Extraction can be stopped at any moment.",
                                                        "Fixed: names with accents were shown wrongly."})
                                         + notesXml("notesFr", {"Les archives s'ouvrent deux fois plus vite."}))});
    LocalHttpServer::Response slow{200, QByteArray(8 * 1024 * 1024, 'v')};
    slow.chunks = 400;
    slow.chunkDelay = 100;
    server.route("/files/Vorlo-2.0.tar.gz", slow);

    if (mode == "offer") {
        UpdateControl *center = nullptr;
        QTimer::singleShot(0, [&] { UpdateCheck().run(center, &app); });
        return app.exec();
    }

    AutoSaveDesktop autoSave;
    UpdateControl control(mode == "save" ? nullptr : &autoSave);
    control.startUpdate(1);
    if (mode == "downloading" || mode == "save") {
        QTimer::singleShot(500, [&control] {
            control.window()->findChild<QPushButton *>("comm")->click();
        });
    }
    return app.exec();
}
