#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The application's localised texts, looked up by key.
//
// Tables are JSON objects (key to text) in strings/<language>/*.json among
// the resources; every file of the language folder is read, so each part of
// the application keeps its own texts. The language follows the default
// QLocale: French for "fr", English otherwise. A key without a text
// yields the key itself.
class StringTable
{
public:
    static QString text(const QString &key);

    // The text of `key` as a format, filled safely (see safeFormat).
    static QString format(const QString &key, const QStringList &arguments);

    // The language whose table is in use ("en" or "fr").
    static QString language();

    // Forgets the loaded table, so the next lookup reads it again (after
    // QLocale::setDefault, for instance).
    static void reload();

    // Every key of the table of `language`, for completeness checks.
    static QHash<QString, QString> loadTable(const QString &language);
};
