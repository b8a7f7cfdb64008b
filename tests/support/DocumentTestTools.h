// What the tests that drive a whole archive document share: a document
// opened and listed, a run awaited, every alert answered, a file read back.
#pragma once

#include "MyDocument.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

namespace DocumentTestTools {

inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Opens `path` and shows the window; null when the listing does not end.
inline std::unique_ptr<MyDocument> open(const QString &path, bool waitForListing = true)
{
    auto document = std::make_unique<MyDocument>();
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    if (path.isEmpty() || !document->readFromFile(path, QStringLiteral("RAR archive")))
        return nullptr;
    document->showWindows();
    return !waitForListing || finished.wait(30000) ? std::move(document) : nullptr;
}

inline bool waitForRun(MyDocument &document, int timeout = 30000)
{
    QSignalSpy finished(&document, &MyDocument::runFinished);
    return !document.isRunning() || finished.wait(timeout);
}

// Answers every alert, sheet or application-modal, with its button and
// remembers its text; a document waiting in exec() goes on then.
struct AlertAnswerer : QObject
{
    QStringList texts;
    QTimer timer;

    AlertAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                    texts << box->text();
                    box->accept();
                }
        });
        timer.start(20);
    }
};

} // namespace DocumentTestTools
