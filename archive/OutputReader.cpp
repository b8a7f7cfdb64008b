#include "OutputReader.h"

#include <QStringDecoder>

#include <algorithm>

namespace {
QByteArrayView view(std::string_view text)
{
    return QByteArrayView(text.data(), qsizetype(text.size()));
}

const QByteArrayView kProgressMark = view(HelperProtocol::kProgressMarkLead);
// An entry's line: the word, two spaces, the name, then the progress marks.
const QByteArray kEntryLineLead = QByteArray(HelperProtocol::kExtracting.data(),
                                             qsizetype(HelperProtocol::kExtracting.size())) + "  ";
constexpr qsizetype kProgressDigits = 3;
// A progress mark whose digits have not all arrived yet.
const qsizetype kMarkTailBytes = kProgressMark.size() + kProgressDigits - 1;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Whether a listed path has a "/" at either end or two in a row. Checked
// for every entry of the listing: a plain loop, as a substring search costs
// more to set up than these short paths take to scan.
bool needsTidying(QStringView path)
{
    const qsizetype size = path.size();
    if (size == 0)
        return false;
    if (path[0] == u'/' || path[size - 1] == u'/')
        return true;
    for (qsizetype i = 1; i < size; ++i) {
        if (path[i] == u'/' && path[i - 1] == u'/')
            return true;
    }
    return false;
}

// Reads a whole number the way a lenient text-to-integer conversion does:
// leading white space, an optional sign, then digits; no digits gives 0.
int readPercentage(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        value = value * 10 + (text[i++] - '0');
    return negative ? -value : value;
}
} // namespace

void OutputReader::startListing()
{
    *this = OutputReader();
    m_run = Run::Listing;
}

void OutputReader::startExtraction()
{
    *this = OutputReader();
    m_run = Run::Extraction;
}

void OutputReader::startDetails(std::function<void(QByteArrayView)> takeLine)
{
    *this = OutputReader();
    m_run = Run::Details;
    m_takeLine = std::move(takeLine);
}

OutputReader::Outcome OutputReader::readPiece(QByteArrayView piece)
{
    Outcome outcome;
    if (m_run == Run::None || piece.isEmpty())
        return outcome;

    const QByteArrayView extracting = view(HelperProtocol::kExtracting);
    for (qsizetype at = 0; at < piece.size();) {
        const qsizetype lineFeed = piece.indexOf('\n', at);
        const qsizetype end = lineFeed < 0 ? piece.size() : lineFeed;
        const qsizetype taken = std::min(end - at, qsizetype(kHeadBytes) - m_headSize);
        if (taken > 0) {
            const bool shortOfExtracting = m_headSize < extracting.size();
            std::copy_n(piece.data() + at, taken, m_lineHead.data() + m_headSize);
            m_headSize += taken;
            // A new file's line: its bar starts again.
            if (m_run == Run::Extraction && shortOfExtracting && m_headSize >= extracting.size()
                && QByteArrayView(m_lineHead.data(), extracting.size()) == extracting) {
                m_barValue = 0;
                outcome.barChanged = true;
            }
        }
        if (m_run == Run::Extraction)
            readEntryName(piece.sliced(at, end - at), m_lineLength, lineFeed >= 0, outcome);
        m_lineLength += end - at;
        if (lineFeed < 0)
            break;
        lineEnded();
        at = lineFeed + 1;
    }

    if (m_run == Run::Listing)
        appendListing(piece, outcome);
    else if (m_run == Run::Details)
        passDetails(piece);
    else
        readProgress(piece, outcome);

    const QByteArrayView promptStart = view(HelperProtocol::kPasswordPromptStart);
    const QByteArrayView promptEnd = view(HelperProtocol::kPasswordPromptEnd);
    if (piece.size() >= promptEnd.size())
        m_outputEnd = piece.last(promptEnd.size()).toByteArray();
    else
        m_outputEnd = m_outputEnd.append(piece).right(promptEnd.size());
    outcome.atPromptLine = m_headSize >= promptStart.size()
                           && QByteArrayView(m_lineHead.data(), promptStart.size()) == promptStart
                           && m_lineLength >= promptStart.size() + promptEnd.size() && m_outputEnd == promptEnd;
    return outcome;
}

void OutputReader::lineEnded()
{
    const QByteArrayView line(m_lineHead.data(), m_headSize);
    // A marker line holds the marker and nothing else: the head holds one
    // byte more than the longest marker, so a longer line never matches.
    if (m_lineLength == m_headSize) {
        if (line == view(HelperProtocol::kAllOk))
            m_allOkLine = true;
        else if (line == view(HelperProtocol::kDamaged))
            m_damagedLine = true;
        else if (line == view(HelperProtocol::kPasswordRefused) && m_prompted)
            m_refused = true;
    }
    m_headSize = 0;
    m_lineLength = 0;
    m_entryName = EntryName::Unknown;
}

void OutputReader::readEntryName(QByteArrayView segment, qsizetype segmentOffset, bool lineEnds,
                                 Outcome &outcome)
{
    // `segment` is the part of the line under way that this piece holds,
    // from `segmentOffset` on; the line's head has taken it in already.
    if (m_entryName == EntryName::Unknown) {
        if (m_headSize < kEntryLineLead.size()) {
            if (lineEnds || QByteArrayView(m_lineHead.data(), m_headSize) != kEntryLineLead.first(m_headSize))
                m_entryName = EntryName::Read; // not an entry's line
            return;
        }
        if (QByteArrayView(m_lineHead.data(), kEntryLineLead.size()) != kEntryLineLead) {
            m_entryName = EntryName::Read;
            return;
        }
        m_entryName = EntryName::Reading;
        m_entryNameBytes.clear();
    }
    if (m_entryName != EntryName::Reading)
        return;
    const qsizetype skip = std::max<qsizetype>(0, kEntryLineLead.size() - segmentOffset);
    QByteArrayView name = segment.sliced(std::min(skip, segment.size()));
    // The name holds no control character: the first progress mark ends it.
    const qsizetype mark = name.indexOf(kProgressMark.first(1));
    if (mark >= 0)
        name = name.first(mark);
    m_entryNameBytes.append(name.first(std::min(name.size(), kMaxEntryNameBytes - m_entryNameBytes.size())));
    if (mark >= 0 || lineEnds) {
        m_entryName = EntryName::Read;
        m_currentEntry = QString::fromUtf8(std::exchange(m_entryNameBytes, QByteArray()));
        outcome.entryChanged = true;
    }
}

void OutputReader::readProgress(QByteArrayView piece, Outcome &outcome)
{
    // The first progress mark whose three characters have all arrived; an
    // incomplete one at the end waits for the next piece. The carried bytes
    // are too few to hold a complete mark, so none is read twice.
    const QByteArray window = QByteArray(m_markTail).append(piece);
    const qsizetype mark = window.indexOf(kProgressMark);
    if (mark >= 0 && mark + kProgressMark.size() + kProgressDigits <= window.size()) {
        const int percentage =
            readPercentage(QByteArrayView(window).sliced(mark + kProgressMark.size(), kProgressDigits));
        if (!m_barDeterminate && percentage > 1) {
            m_barDeterminate = true;
            outcome.barChanged = true;
        }
        if (percentage > m_barValue) {
            m_barValue = std::min(percentage, 100);
            outcome.barChanged = true;
        }
    }
    m_markTail = window.right(std::min(kMarkTailBytes, window.size()));
}

void OutputReader::promptConfirmed()
{
    // Only after a prompt is the refusal line the helper's: before it, the
    // line could be an entry's name.
    m_prompted = true;
    m_answerWasRefused = std::exchange(m_refused, false);
    if (m_run != Run::Listing && m_run != Run::Details)
        return;
    m_listing.clear();
    m_partialLine.clear();
    m_listedLines = 0;
    m_inPromptLine = true;
}

void OutputReader::appendListing(QByteArrayView text, Outcome &outcome)
{
    if (m_tooLarge)
        return;
    if (m_inPromptLine) {
        const qsizetype lineEnd = text.indexOf('\n');
        if (lineEnd < 0)
            return;
        text = text.sliced(lineEnd + 1);
        m_inPromptLine = false;
    }
    m_listing.append(text);
    m_listedLines += text.count('\n');
    if (m_listing.size() > kMaxListingBytes || m_listedLines > kMaxListingEntries) {
        m_tooLarge = true;
        outcome.listingTooLarge = true;
        m_listing = QByteArray();
    }
}

void OutputReader::passDetails(QByteArrayView text)
{
    if (m_inPromptLine) {
        const qsizetype lineEnd = text.indexOf('\n');
        if (lineEnd < 0)
            return;
        text = text.sliced(lineEnd + 1);
        m_inPromptLine = false;
    }
    for (;;) {
        const qsizetype lineFeed = text.indexOf('\n');
        if (lineFeed < 0)
            break;
        if (m_partialLine.isEmpty()) {
            m_takeLine(text.first(lineFeed));
        } else {
            m_partialLine.append(text.first(lineFeed));
            m_takeLine(std::exchange(m_partialLine, QByteArray()));
        }
        text = text.sliced(lineFeed + 1);
    }
    // No line the helper prints for an entry is longer than its name bound
    // and the fields: anything longer is not a technical line.
    if (m_partialLine.size() + text.size() <= kMaxListingBytes / 1024)
        m_partialLine.append(text);
    else
        m_partialLine.clear();
}

OutputReader::PromptAnswer OutputReader::answerPrompt(const QString &passwordFieldText) const
{
    if ((m_run == Run::Extraction || m_run == Run::Details) && !passwordFieldText.isEmpty())
        return PromptAnswer::SendRememberedPassword;
    return PromptAnswer::ShowPasswordWindow;
}

QStringList OutputReader::finishListing()
{
    m_run = Run::None;
    const QByteArray listing = std::exchange(m_listing, QByteArray());
    if (m_tooLarge)
        return {};
    return splitListing(QByteArrayView(listing));
}

QStringList OutputReader::splitListing(const QString &text)
{
    QStringList entries = text.split(QLatin1Char('\n'));
    for (QString &entry : entries)
        tidy(entry);
    return entries;
}

QStringList OutputReader::splitListing(QByteArrayView utf8)
{
    // Line by line, so that a listing of a million names is never held a
    // second time as one decoded text. A line feed byte is never part of a
    // UTF-8 sequence: each line decodes as it would within the whole text.
    // Only the text's first byte order mark is dropped, as a whole-text
    // decoding does: later lines keep theirs.
    QStringDecoder laterLine(QStringDecoder::Utf8,
                             QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QStringList entries;
    entries.reserve(utf8.count('\n') + 1);
    for (qsizetype start = 0;;) {
        const qsizetype end = utf8.indexOf('\n', start);
        const QByteArrayView line = utf8.sliced(start, (end < 0 ? utf8.size() : end) - start);
        QString entry = start == 0 ? QString::fromUtf8(line) : laterLine.decode(line);
        tidy(entry);
        entries.append(std::move(entry));
        if (end < 0)
            return entries;
        start = end + 1;
    }
}

void OutputReader::tidy(QString &entry)
{
    if (needsTidying(entry))
        entry = entry.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}
