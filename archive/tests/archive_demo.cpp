// Opens each archive named on the command line in its own document window,
// to try the archive browser by hand. Not installed.
#include "MyDocument.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Vorlo"));
    QList<MyDocument *> documents;
    for (const QString &path : app.arguments().mid(1)) {
        auto *document = new MyDocument(&app);
        QObject::connect(document, &MyDocument::documentClosed, document, &QObject::deleteLater);
        document->readFromFile(path, QStringLiteral("RAR archive"));
        document->showWindows();
        documents << document;
    }
    if (documents.isEmpty())
        return 2;
    return app.exec();
}
