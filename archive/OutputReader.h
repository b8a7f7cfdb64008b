#pragma once

#include "HelperProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <functional>

// Turns the merged output of one helper run into state, piece by piece.
//
// The helper prints entry names and the archive's own name among its lines,
// so no text found just anywhere in the output may steer the document. Only
// whole lines are compared with the protocol's marker lines (exactly, case
// included), and a password prompt is recognised only as the last, still
// open line of the output. Whether a marker line means anything is decided
// with the helper's exit status, by HelperRun; this class only reports what
// the text holds. The pipe may cut the output anywhere: the state of the
// line under way is carried from one piece to the next.
//
// The listing text is kept as bytes and decoded once at the end, so a
// multi-byte character cut by the pipe survives. What a listing may hold is
// bounded (kMaxListingBytes of text, kMaxListingEntries lines): past that
// the text is dropped and the run is to be stopped, so that an archive of
// huge or countless names cannot exhaust the memory.
class OutputReader
{
public:
    enum class Run { None, Listing, Details, Extraction };

    // 64 MiB of names is far more than any real archive lists (a million
    // entries of typical length take about 40 MiB) and keeps the decoded
    // listing within a few hundred MB.
    static constexpr qsizetype kMaxListingBytes = qsizetype(64) << 20;
    // Short names cost more per byte once decoded (one string each): the
    // count is bounded too, at twice the largest archive we measure.
    static constexpr qsizetype kMaxListingEntries = 2'000'000;

    // What one piece asks of the document.
    struct Outcome
    {
        // The output now ends with the helper's password prompt line. It is
        // a prompt only if the helper waits for input: see HelperRun.
        bool atPromptLine = false;
        bool barChanged = false;       // barValue() or barDeterminate() moved
        bool entryChanged = false;     // currentEntry() names the next entry
        bool listingTooLarge = false;  // the listing has just gone past its bounds
    };

    // What to do at a password prompt.
    enum class PromptAnswer { ShowPasswordWindow, SendRememberedPassword };

    void startListing();
    void startExtraction();
    // A listing whose lines are handed to `takeLine` as each one ends (no
    // line feed) instead of being kept: a technical listing parsed as it
    // comes holds nothing but what it keeps of each line.
    void startDetails(std::function<void(QByteArrayView)> takeLine);

    Outcome readPiece(QByteArrayView piece);

    // The helper waits at the prompt line the output ends with. In a listing
    // this means the names are hidden: nothing before the prompt is an
    // entry, nor is the rest of its line (the helper ends that line once it
    // has read the answer).
    void promptConfirmed();

    // In a listing run the prompt always opens the password window; in an
    // extraction run a password typed earlier is sent again without asking.
    PromptAnswer answerPrompt(const QString &passwordFieldText) const;

    // The output has ended: returns the listing text split into entries (at
    // every line feed), empty when the listing went past its bounds. Whether
    // the run's text is an entry list at all is for the exit status to say.
    QStringList finishListing();
    void finishRun() { m_run = Run::None; }

    Run run() const { return m_run; }
    // Marker lines seen in this run, each exactly as a line of its own.
    bool allOkLine() const { return m_allOkLine; }
    bool damagedLine() const { return m_damagedLine; }
    // The helper refused the answer to the listing's last prompt.
    bool passwordRefused() const { return m_refused; }
    // The helper refused the answer given before the prompt now open.
    bool lastAnswerRefused() const { return m_answerWasRefused; }
    bool listingTooLarge() const { return m_tooLarge; }
    int barValue() const { return m_barValue; }
    bool barDeterminate() const { return m_barDeterminate; }

    // The entry an extraction is at, from its "Extracting" line: the name
    // as the helper printed it (already made safe for one line), empty
    // before the first entry.
    const QString &currentEntry() const { return m_currentEntry; }
    // Bounds a name read from the output; the helper prints shorter ones.
    static constexpr qsizetype kMaxEntryNameBytes = 16 * 1024;

    // Splits listing text into entry paths: every line feed ends a line,
    // nothing is trimmed, a trailing line feed gives a last empty entry.
    // Surrounding and doubled "/" are tidied so that folder paths compare.
    static QStringList splitListing(const QString &text);
    // The same from the helper's UTF-8 bytes.
    static QStringList splitListing(QByteArrayView utf8);

private:
    void lineEnded();
    void readProgress(QByteArrayView piece, Outcome &outcome);
    void readEntryName(QByteArrayView segment, qsizetype segmentOffset, bool lineEnds, Outcome &outcome);
    void appendListing(QByteArrayView text, Outcome &outcome);
    void passDetails(QByteArrayView text);
    static void tidy(QString &entry);

    // Enough of a line to tell every marker line and the prompt's start
    // from any longer line.
    static constexpr std::size_t kHeadBytes =
        std::max({HelperProtocol::kAllOk.size(), HelperProtocol::kDamaged.size(),
                  HelperProtocol::kPasswordRefused.size(), HelperProtocol::kPasswordPromptStart.size(),
                  HelperProtocol::kExtracting.size() + 2}) + 1;

    Run m_run = Run::None;
    QByteArray m_listing;
    std::function<void(QByteArrayView)> m_takeLine;
    QByteArray m_partialLine; // a technical line not ended yet
    qsizetype m_listedLines = 0;
    std::array<char, kHeadBytes> m_lineHead = {}; // the first bytes of the line under way
    qsizetype m_headSize = 0;
    qsizetype m_lineLength = 0;  // the whole length of the line under way
    QByteArray m_outputEnd;      // the last bytes of the output
    enum class EntryName { Unknown, Reading, Read };
    EntryName m_entryName = EntryName::Unknown; // of the line under way
    QByteArray m_entryNameBytes;
    QString m_currentEntry;
    QByteArray m_markTail;       // the last bytes of the previous piece, for a progress mark cut in two
    bool m_inPromptLine = false; // listing text up to the next line feed is the prompt's
    bool m_prompted = false;     // the listing asked for a password
    bool m_refused = false;
    bool m_answerWasRefused = false;
    bool m_tooLarge = false;
    bool m_damagedLine = false;
    bool m_allOkLine = false;
    int m_barValue = 0;
    bool m_barDeterminate = false;
};
