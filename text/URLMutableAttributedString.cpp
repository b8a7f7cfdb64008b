#include "URLMutableAttributedString.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

QString addressForWord(QStringView word)
{
    if (word.contains(u"://"))
        return word.toString();
    if (word.startsWith(u"www."))
        return QStringLiteral("http://") + word.toString();
    if (word.startsWith(u"ftp."))
        return QStringLiteral("ftp://") + word.toString();
    if (word.contains(u'@'))
        return QStringLiteral("mailto:") + word.toString();
    return {};
}

void detectURLs(QTextDocument *document, const QColor &linkColor)
{
    if (!document)
        return;

    // toRawText() keeps one character per document position (paragraph
    // ends are U+2029, a separator), so indices here are cursor positions.
    // toPlainText() would not do: it rewrites no-break spaces.
    const QString text = document->toRawText();
    const qsizetype length = text.size();

    QTextCursor cursor(document);
    cursor.beginEditBlock();
    qsizetype pos = 0;
    while (pos < length) {
        while (pos < length && text.at(pos).isSpace())
            ++pos;
        const qsizetype start = pos;
        while (pos < length && !text.at(pos).isSpace())
            ++pos;
        if (start == pos)
            break;

        const QString address = addressForWord(QStringView(text).mid(start, pos - start));
        if (address.isEmpty())
            continue;
        const QUrl url(address, QUrl::StrictMode);
        if (!url.isValid())
            continue;

        QTextCharFormat link;
        link.setAnchor(true);
        link.setAnchorHref(address);
        link.setUnderlineStyle(QTextCharFormat::SingleUnderline);
        link.setForeground(linkColor);
        cursor.setPosition(int(start));
        cursor.setPosition(int(pos), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(link);
    }
    cursor.endEditBlock();
}
