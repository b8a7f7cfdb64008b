#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Writes update lists as a publisher would, for the tests.
inline QByteArray updateListXml(const QString &version, const QString &link, const QString &size = "12.5",
                                const QByteArray &extra = QByteArray())
{
    auto escaped = [](const QString &text) { return text.toHtmlEscaped().toUtf8(); };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "  <key>lastVersion</key><string>" + escaped(version) + "</string>\n"
           "  <key>dateSortie</key><string>2026-12-01</string>\n"
           "  <key>sysMin</key><string>Debian 12</string>\n"
           "  <key>tailleTotale</key><string>" + escaped(size) + "</string>\n"
           "  <key>link</key><string>" + escaped(link) + "</string>\n"
           + extra + "</dict>\n</plist>\n";
}

inline QByteArray notesXml(const QString &key, const QStringList &lines)
{
    QByteArray xml = "  <key>" + key.toUtf8() + "</key><array>";
    for (const QString &line : lines)
        xml += "<string>" + line.toHtmlEscaped().toUtf8() + "</string>";
    return xml + "</array>\n";
}
