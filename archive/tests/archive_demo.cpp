// Opens each archive named on the command line in its own document window,
// to try the archive browser by hand. Not installed.
//   archive_demo [--extract-to FOLDER] ARCHIVE...
// With --extract-to, each archive is extracted there once its listing ends.
#include "MyDocument.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Vorlo"));
    QStringList arguments = app.arguments().mid(1);
    QString extractTo;
    if (arguments.size() > 1 && arguments.first() == QLatin1String("--extract-to")) {
        extractTo = arguments.at(1);
        arguments = arguments.mid(2);
    }
    if (arguments.isEmpty())
        return 2;
    for (const QString &path : std::as_const(arguments)) {
        auto *document = new MyDocument(&app);
        QObject::connect(document, &MyDocument::documentClosed, document, &QObject::deleteLater);
        if (!extractTo.isEmpty()) {
            QObject::connect(document, &MyDocument::runFinished, document, [document, extractTo](MyDocument::Action action) {
                if (action == MyDocument::Action::Listing)
                    document->launchExtractionTo(extractTo);
            });
        }
        document->readFromFile(path, QStringLiteral("RAR archive"));
        document->showWindows();
    }
    return app.exec();
}
