#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

class QTextDocument;

// Turns the web, ftp and mail addresses that stand as plain words in a
// styled text into links.
//
// A word is a longest run of characters that are not white space
// (QChar::isSpace: space, tab, line feed, vertical tab, form feed, carriage
// return, U+0085 and every Unicode separator). Punctuation belongs to the
// word, so "(see" or "vorlo.example." keep their brackets and full stops.

// The address a word links to, or an empty string when the word is no
// address. The first rule that matches decides, comparing case-sensitively:
//   contains "://"        -> the word itself
//   begins with "www."    -> "http://" + word
//   begins with "ftp."    -> "ftp://" + word
//   contains "@"          -> "mailto:" + word
// The address is not checked for well-formedness here.
QString addressForWord(QStringView word);

// Marks every word of `document` whose address parses as a strict URL:
// the word's characters get an anchor whose href is the address, a single
// underline and `linkColor`, merged over whatever format they had. Text
// outside these words is left as it is, and existing links are never
// removed. The characters themselves never change.
void detectURLs(QTextDocument *document, const QColor &linkColor);
