#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Turns the merged output of one helper run into state, piece by piece.
//
// The helper talks to us through a handful of ASCII markers found anywhere
// in its output, ignoring case. The pipe may cut the output anywhere, so the
// last bytes of each piece are carried into the next search: a marker split
// between two pieces is still found, and found only once. The listing text
// is kept as bytes and decoded once at the end, so a multi-byte character
// cut by the pipe survives.
class OutputReader
{
public:
    enum class Run { None, Listing, Extraction };

    // What one piece asks of the document.
    struct Outcome
    {
        bool passwordPrompt = false; // the helper waits for a password
        bool barChanged = false;     // barValue() or barDeterminate() moved
    };

    // What to do at a password prompt.
    enum class PromptAnswer { ShowPasswordWindow, SendRememberedPassword };

    void startListing();
    void startExtraction();

    Outcome readPiece(const QByteArray &piece);

    // In a listing run the prompt always opens the password window; in an
    // extraction run a password typed earlier is sent again without asking.
    PromptAnswer answerPrompt(const QString &passwordFieldText) const;

    // The output has ended. In a listing run `rest` is whatever arrived
    // with the end and is kept unsearched; returns the entry list (the text
    // split at every line feed), or an empty list after a damaged archive or
    // a password the helper refused for good.
    QStringList finishListing(const QByteArray &rest = {});
    void finishRun() { m_run = Run::None; }

    Run run() const { return m_run; }
    bool damaged() const { return m_damaged; }
    bool allOk() const { return m_allOk; }
    int barValue() const { return m_barValue; }
    bool barDeterminate() const { return m_barDeterminate; }

    // Splits listing text into entry paths: every line feed ends a line,
    // nothing is trimmed, a trailing line feed gives a last empty entry.
    // Surrounding and doubled "/" are tidied so that folder paths compare.
    static QStringList splitListing(const QString &text);
    // The same from the helper's UTF-8 bytes.
    static QStringList splitListing(QByteArrayView utf8);

    // Position of `needle` (ASCII) in `haystack` from `from`, ignoring ASCII
    // case; -1 when absent.
    static qsizetype indexOfIgnoringCase(const QByteArray &haystack, QByteArrayView needle,
                                         qsizetype from = 0);

private:
    // Finds the first occurrence of `marker` in the search window that was
    // not already wholly inside the previous window.
    qsizetype findNew(const QByteArray &window, QByteArrayView marker) const;
    // The same for the last such occurrence.
    qsizetype findLastNew(const QByteArray &window, QByteArrayView marker) const;
    static void tidy(QString &entry);
    // Adds listing text, leaving out what remains of a prompt's line.
    void appendListing(QByteArrayView text);

    Run m_run = Run::None;
    QByteArray m_listing;
    QByteArray m_tail;          // last bytes of the previous piece
    bool m_inPromptLine = false; // listing text up to the next line feed is the prompt's
    bool m_prompted = false;     // the listing asked for a password
    bool m_refused = false;      // the helper refused the last password given in the listing
    bool m_damaged = false;
    bool m_allOk = false;
    int m_barValue = 0;
    bool m_barDeterminate = false;
};
