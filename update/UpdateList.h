#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The update property list published beside each release: an XML property
// list whose root dictionary names the newest version and where to get it.
class UpdateList
{
public:
    // Reads `xml`. The notes are the array of strings under `notesKey`
    // (each language has a key of its own). Text values that are missing
    // or not strings read as empty, and entries of the notes that are not
    // strings are left out.
    //
    // Gives nothing when the text is not a property list with a dictionary
    // root, when "lastVersion" is not a string, or when "link" is not an
    // address that is safe to hand to curl (see DownloadLink): such a list
    // cannot lead to an update.
    static std::optional<UpdateList> fromXml(const QByteArray &xml, const QString &notesKey);

    QString lastVersion;
    QString dateSortie;
    QString sysMin;
    QString tailleTotale;  // shown as written; see totalSize()
    QString link;
    QStringList notes;

    // The numeric value of tailleTotale, 0 when it holds no number.
    double totalSize() const;
};
