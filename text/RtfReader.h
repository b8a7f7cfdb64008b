#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTextDocument;

// A small, strict reader for the RTF our credits are written in.
//
// Understood: groups, \par, \line, \tab, \b, \i, \ul/\ulnone, \fs, \plain,
// \pard, \ql/\qc/\qr/\qj, the colour table and \cf, \'hh (Windows-1252),
// \uN with \ucN, the escaped symbols \\ \{ \} \~ \- \_ and the named
// punctuation words (\emdash, \rquote ...). Font tables, stylesheets,
// info, pictures and every \* destination are skipped; other control words
// are ignored, as RTF asks readers to do.
//
// Strict about structure: the data must start with "{\rtf1", its braces
// must balance, nothing but white space may follow the closing brace, and
// it must be 7-bit text. Anything else is malformed and yields no document,
// so the caller keeps what it had.
class RtfReader
{
public:
    static std::unique_ptr<QTextDocument> read(const QByteArray &rtf, QString *error = nullptr);
};
