#pragma once
// Shared by the end-to-end tests of the document: where the fixture archives
// are, what the table shows, checksums of extracted files, alerts answered.
#include "MyDocument.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <zlib.h>

namespace {
const QString fixtures = QStringLiteral(VORLO_FIXTURES_DIR "/rar/");

QString fixture(const char *name)
{
    return fixtures + QString::fromUtf8(name);
}

QStringList rowNames(const MyDocument &document)
{
    QStringList names;
    for (const EntryRow &row : document.rows())
        names << (row.kind == EntryRow::Kind::Folder ? row.name + QLatin1Char('*') : row.name);
    return names;
}

quint32 fileCrc(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray data = file.readAll();
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

// Answers every application-modal alert with its button and remembers its
// text; the document's exec() returns then.
class AlertAnswerer : public QObject
{
public:
    AlertAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        m_timer.start(20);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

} // namespace
