// The credits' RTF reader and the URL detection run over what it reads
// (or over the input as plain text when it is no RTF).
#include "RtfReader.h"
#include "URLMutableAttributedString.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    std::unique_ptr<QTextDocument> document = RtfReader::read(bytes);
    if (!document) {
        document = std::make_unique<QTextDocument>();
        document->setPlainText(QString::fromUtf8(bytes));
    }
    const QString before = document->toPlainText();
    detectURLs(document.get(), QColor(Qt::blue));
    if (document->toPlainText() != before) // links never change the characters
        __builtin_trap();
    return 0;
}
