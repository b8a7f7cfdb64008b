// What the tests that drive a whole archive document share: an archive
// written, a document opened and listed, a run awaited, every alert
// answered, a file read back.
#pragma once

#include "MyDocument.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace DocumentTestTools {

inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Writes a RAR archive of `files` (path, contents), then of rarwrite's
// sources in `more`, as `name` in `folder`; returns its path, empty on failure.
inline QString writeRar(const QTemporaryDir &folder, const char *name,
                        const QList<std::pair<QString, QByteArray>> &files, const QStringList &more = {})
{
    QByteArray records;
    for (const auto &[path, contents] : files)
        records += path.toUtf8() + '\0' + contents + '\0';
    const QString archive = folder.filePath(QString::fromUtf8(name));
    QProcess writer;
    writer.start(VORLO_RARWRITE, QStringList{archive, "--names", "-", "--with-contents"} + more);
    writer.write(records);
    writer.closeWriteChannel();
    const bool written = writer.waitForFinished(60000) && writer.exitStatus() == QProcess::NormalExit
                         && writer.exitCode() == 0;
    return written ? archive : QString();
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
