#include "OutputReader.h"

#include <QStringDecoder>

#include <algorithm>

namespace {
constexpr QByteArrayView kPasswordPrompt("Enter password");
constexpr QByteArrayView kPasswordRefused("The specified password is incorrect.");
constexpr QByteArrayView kDamaged("Unexpected end of archive");
constexpr QByteArrayView kExtracting("Extracting");
constexpr QByteArrayView kAllOk("***All OK****");
constexpr QByteArrayView kProgressMark("\b\b\b\b");
constexpr qsizetype kProgressDigits = 3;

// Enough bytes to hold any marker but one of its characters, and a progress
// mark whose digits have not arrived yet.
constexpr qsizetype kCarriedBytes =
    std::max({kPasswordPrompt.size(), kPasswordRefused.size(), kDamaged.size(), kExtracting.size(), kAllOk.size(),
              kProgressMark.size() + kProgressDigits}) - 1;

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

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

qsizetype OutputReader::indexOfIgnoringCase(const QByteArray &haystack, QByteArrayView needle,
                                            qsizetype from)
{
    if (needle.isEmpty())
        return from <= haystack.size() ? from : -1;
    const char first = asciiLower(needle[0]);
    const char firstUpper = (first >= 'a' && first <= 'z') ? char(first - 'a' + 'A') : first;
    const qsizetype last = haystack.size() - needle.size();
    const char *data = haystack.constData();
    for (qsizetype i = std::max<qsizetype>(from, 0); i <= last; ++i) {
        if (data[i] != first && data[i] != firstUpper)
            continue;
        qsizetype k = 1;
        while (k < needle.size() && asciiLower(data[i + k]) == asciiLower(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

void OutputReader::startListing()
{
    *this = OutputReader();
    m_run = Run::Listing;
}

void OutputReader::startExtraction()
{
    m_run = Run::Extraction;
    m_tail.clear();
    m_allOk = false;
    m_barValue = 0;
    m_barDeterminate = false;
}

qsizetype OutputReader::findNew(const QByteArray &window, QByteArrayView marker) const
{
    // An occurrence that ends inside the carried bytes was wholly in the
    // previous window and has been counted there.
    const qsizetype from = std::max<qsizetype>(0, m_tail.size() - marker.size() + 1);
    return indexOfIgnoringCase(window, marker, from);
}

qsizetype OutputReader::findLastNew(const QByteArray &window, QByteArrayView marker) const
{
    qsizetype last = findNew(window, marker);
    for (qsizetype next = last; next >= 0; next = indexOfIgnoringCase(window, marker, last + 1))
        last = next;
    return last;
}

OutputReader::Outcome OutputReader::readPiece(const QByteArray &piece)
{
    Outcome outcome;
    if (m_run == Run::None || piece.isEmpty())
        return outcome;

    const QByteArray window = m_tail + piece;
    const qsizetype carried = m_tail.size();

    if (m_run == Run::Listing) {
        // A prompt in a listing means the names are hidden: nothing before it
        // is an entry, nor is the rest of its line (the helper ends that line
        // once it has read the answer). A refusal of the answer starts the
        // dialogue again; the text after it is no entry unless another prompt
        // follows and is answered.
        const qsizetype prompt = findLastNew(window, kPasswordPrompt);
        qsizetype listedFrom = carried;
        if (prompt >= 0) {
            outcome.passwordPrompt = true;
            m_listing.clear();
            m_inPromptLine = true;
            m_refused = false;
            m_prompted = true;
            listedFrom = std::max(prompt, carried);
        }
        if (m_prompted && findLastNew(window, kPasswordRefused) > prompt)
            m_refused = true;
        appendListing(QByteArrayView(window).sliced(listedFrom));
        if (findNew(window, kDamaged) >= 0)
            m_damaged = true;
    } else {
        if (findNew(window, kPasswordPrompt) >= 0)
            outcome.passwordPrompt = true;
        if (findNew(window, kExtracting) >= 0) {
            m_barValue = 0;
            outcome.barChanged = true;
        }
        if (findNew(window, kAllOk) >= 0)
            m_allOk = true;

        // The first progress mark whose three characters have all arrived;
        // an incomplete one at the end waits for the next piece.
        qsizetype mark = std::max<qsizetype>(0, carried - kProgressMark.size() - kProgressDigits + 1);
        while ((mark = indexOfIgnoringCase(window, kProgressMark, mark)) >= 0) {
            const qsizetype digits = mark + kProgressMark.size();
            if (digits + kProgressDigits > window.size())
                break;
            const int percentage = readPercentage(QByteArrayView(window).sliced(digits, kProgressDigits));
            if (!m_barDeterminate && percentage > 1) {
                m_barDeterminate = true;
                outcome.barChanged = true;
            }
            if (percentage > m_barValue) {
                m_barValue = std::min(percentage, 100);
                outcome.barChanged = true;
            }
            break;
        }
    }

    m_tail = window.right(std::min(kCarriedBytes, window.size()));
    return outcome;
}

void OutputReader::appendListing(QByteArrayView text)
{
    if (m_inPromptLine) {
        const qsizetype lineEnd = text.indexOf('\n');
        if (lineEnd < 0)
            return;
        text = text.sliced(lineEnd + 1);
        m_inPromptLine = false;
    }
    m_listing.append(text);
}

OutputReader::PromptAnswer OutputReader::answerPrompt(const QString &passwordFieldText) const
{
    if (m_run == Run::Extraction && !passwordFieldText.isEmpty())
        return PromptAnswer::SendRememberedPassword;
    return PromptAnswer::ShowPasswordWindow;
}

QStringList OutputReader::finishListing(const QByteArray &rest)
{
    m_run = Run::None;
    m_tail.clear();
    appendListing(rest);
    const QByteArray listing = std::exchange(m_listing, QByteArray());
    if (m_damaged || m_refused)
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
