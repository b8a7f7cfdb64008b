#include "RtfReader.h"

#include <QColor>
#include <QList>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <optional>

namespace {

constexpr int kMaxDepth = 128;
constexpr int kMaxWordLength = 32;
constexpr int kMaxDigits = 10;

// Windows-1252 at 0x80-0x9F; elsewhere it agrees with Latin-1.
const char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

QChar fromCp1252(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kCp1252High[byte - 0x80]);
    return QChar(byte);
}

enum class Destination { Text, ColourTable, Skip };

struct GroupState
{
    Destination destination = Destination::Text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 0;  // 0: the document's default size
    int colour = 0;      // index in the colour table; 0: default colour
    Qt::Alignment alignment = Qt::AlignLeft;
    int unicodeSkip = 1;  // \uc: fallback characters after \uN
};

struct Malformed
{
    QString reason;
};

class Parser
{
public:
    explicit Parser(const QByteArray &data)
        : m_data(data)
        , m_document(std::make_unique<QTextDocument>())
        , m_cursor(m_document.get())
    {
    }

    std::unique_ptr<QTextDocument> run()
    {
        if (!m_data.startsWith("{\\rtf1"))
            throw Malformed{QStringLiteral("not RTF")};
        m_cursor.beginEditBlock();
        parse();
        flush();
        if (!m_blockEnded)
            m_cursor.setBlockFormat(blockFormat());
        m_cursor.endEditBlock();
        return std::move(m_document);
    }

private:
    void parse()
    {
        while (m_pos < m_data.size()) {
            const unsigned char c = static_cast<unsigned char>(m_data[m_pos++]);
            if (c == '{') {
                openGroup();
            } else if (c == '}') {
                closeGroup();
                if (m_stack.isEmpty()) {
                    checkTrailer();
                    return;
                }
            } else if (m_stack.isEmpty()) {
                throw Malformed{QStringLiteral("text outside the document group")};
            } else if (c == '\\') {
                control();
            } else if (c == '\r' || c == '\n') {
                continue;
                // Line breaks in the file carry no meaning.
            } else if (c == '\t') {
                character(QChar(u'\t'));
            } else if (c < 0x20 || c >= 0x80) {
                throw Malformed{QStringLiteral("binary byte 0x%1 at %2").arg(c, 2, 16, QLatin1Char('0')).arg(m_pos - 1)};
            } else {
                m_groupStart = false;
                fallbackOr(QChar(c));
            }
        }
        throw Malformed{QStringLiteral("truncated: %1 group(s) left open").arg(m_stack.size())};
    }

    void checkTrailer()
    {
        for (; m_pos < m_data.size(); ++m_pos) {
            const char c = m_data[m_pos];
            if (c != ' ' && c != '\r' && c != '\n' && c != '\t' && c != '\0')
                throw Malformed{QStringLiteral("data after the closing brace")};
        }
    }

    void openGroup()
    {
        if (m_stack.size() >= kMaxDepth)
            throw Malformed{QStringLiteral("groups nested too deeply")};
        flush();
        m_skipFallback = 0;
        m_stack.append(m_stack.isEmpty() ? GroupState{} : m_stack.last());
        m_groupStart = true;
    }

    void closeGroup()
    {
        if (m_stack.isEmpty())
            throw Malformed{QStringLiteral("unbalanced closing brace")};
        flush();
        m_skipFallback = 0;
        m_stack.removeLast();
        m_groupStart = false;
    }

    GroupState &state() { return m_stack.last(); }

    void control()
    {
        if (m_pos >= m_data.size())
            throw Malformed{QStringLiteral("truncated control word")};
        const char first = m_data[m_pos];
        const bool atGroupStart = m_groupStart;
        m_groupStart = false;
        if (!isLetter(first)) {
            ++m_pos;
            symbol(first, atGroupStart);
            return;
        }

        const qsizetype wordStart = m_pos;
        while (m_pos < m_data.size() && isLetter(m_data[m_pos]))
            ++m_pos;
        if (m_pos - wordStart > kMaxWordLength)
            throw Malformed{QStringLiteral("control word too long")};
        const QByteArray word = m_data.mid(wordStart, m_pos - wordStart);

        std::optional<int> parameter;
        bool negative = false;
        if (m_pos < m_data.size() && m_data[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        const qsizetype digitsStart = m_pos;
        while (m_pos < m_data.size() && m_data[m_pos] >= '0' && m_data[m_pos] <= '9')
            ++m_pos;
        if (m_pos - digitsStart > kMaxDigits)
            throw Malformed{QStringLiteral("parameter too long")};
        if (m_pos > digitsStart) {
            const qint64 value = m_data.mid(digitsStart, m_pos - digitsStart).toLongLong();
            if (value > 0x7fffffff)
                throw Malformed{QStringLiteral("parameter out of range")};
            parameter = int(negative ? -value : value);
        } else if (negative) {
            throw Malformed{QStringLiteral("dangling minus sign")};
        }
        if (m_pos < m_data.size() && m_data[m_pos] == ' ')
            ++m_pos;  // the delimiter belongs to the control word

        controlWord(word, parameter, atGroupStart);
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    void symbol(char c, bool atGroupStart)
    {
        switch (c) {
        case '\\': case '{': case '}':
            fallbackOr(QChar(QLatin1Char(c)));
            break;
        case '\'': {
            if (m_pos + 2 > m_data.size())
                throw Malformed{QStringLiteral("truncated \\' escape")};
            bool ok = false;
            const uint byte = m_data.mid(m_pos, 2).toUInt(&ok, 16);
            if (!ok)
                throw Malformed{QStringLiteral("bad \\' escape")};
            m_pos += 2;
            fallbackOr(fromCp1252(static_cast<unsigned char>(byte)));
            break;
        }
        case '~': fallbackOr(QChar(0x00A0)); break;
        case '_': fallbackOr(QChar(0x2011)); break;
        case '-': break;  // optional hyphen: we never hyphenate
        case '*':
            if (!atGroupStart)
                throw Malformed{QStringLiteral("\\* outside a group opening")};
            state().destination = Destination::Skip;
            m_groupStart = true;  // the destination's name follows
            break;
        case '\r': case '\n':
            paragraph();
            break;
        default:
            break;  // other control symbols mean nothing to us
        }
    }

    void controlWord(const QByteArray &word, std::optional<int> parameter, bool atGroupStart)
    {
        m_skipFallback = 0;
        const int value = parameter.value_or(1);

        if (word == "bin") {
            // Raw bytes follow; they are never text.
            if (value < 0 || value > m_data.size() - m_pos)
                throw Malformed{QStringLiteral("\\bin runs past the end")};
            m_pos += value;
            return;
        }
        static const QList<QByteArray> skipped = {
            "fonttbl", "stylesheet", "info", "pict", "object", "header", "headerl", "headerr",
            "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "filetbl",
            "revtbl", "listtable", "listoverridetable", "nonshppict", "themedata"};
        if (skipped.contains(word)) {
            state().destination = Destination::Skip;
            return;
        }
        if (word == "colortbl" && atGroupStart) {
            if (state().destination == Destination::Text)
                state().destination = Destination::ColourTable;
            return;
        }

        GroupState &s = state();
        if (s.destination == Destination::Skip)
            return;
        if (s.destination == Destination::ColourTable) {
            if (word == "red" || word == "green" || word == "blue") {
                if (value < 0 || value > 255)
                    throw Malformed{QStringLiteral("colour component out of range")};
                if (!m_pendingColour.isValid())
                    m_pendingColour = QColor(0, 0, 0);
                if (word == "red") m_pendingColour.setRed(value);
                else if (word == "green") m_pendingColour.setGreen(value);
                else m_pendingColour.setBlue(value);
            }
            return;
        }

        if (word == "par") { paragraph(); return; }
        if (word == "line") { character(QChar::LineSeparator); return; }
        if (word == "tab") { character(QChar(u'\t')); return; }
        if (word == "emdash") { character(QChar(0x2014)); return; }
        if (word == "endash") { character(QChar(0x2013)); return; }
        if (word == "bullet") { character(QChar(0x2022)); return; }
        if (word == "lquote") { character(QChar(0x2018)); return; }
        if (word == "rquote") { character(QChar(0x2019)); return; }
        if (word == "ldblquote") { character(QChar(0x201C)); return; }
        if (word == "rdblquote") { character(QChar(0x201D)); return; }
        if (word == "u") {
            if (!parameter || *parameter < -32768 || *parameter > 65535)
                throw Malformed{QStringLiteral("\\u without a 16-bit value")};
            character(QChar(char16_t(*parameter < 0 ? *parameter + 65536 : *parameter)));
            m_skipFallback = s.unicodeSkip;
            return;
        }
        if (word == "uc") {
            if (value < 0 || value > 16)
                throw Malformed{QStringLiteral("\\uc out of range")};
            s.unicodeSkip = value;
            return;
        }

        // Formatting: what was written so far keeps its own format.
        flush();
        if (word == "b") s.bold = value != 0;
        else if (word == "i") s.italic = value != 0;
        else if (word == "ul") s.underline = value != 0;
        else if (word == "ulnone") s.underline = false;
        else if (word == "fs") {
            if (value <= 0 || value > 2000)
                throw Malformed{QStringLiteral("font size out of range")};
            s.halfPoints = value;
        } else if (word == "cf") {
            s.colour = std::max(0, value);
        } else if (word == "plain") {
            s.bold = s.italic = s.underline = false;
            s.halfPoints = 0;
            s.colour = 0;
        } else if (word == "pard") {
            s.alignment = Qt::AlignLeft;
        } else if (word == "ql") s.alignment = Qt::AlignLeft;
        else if (word == "qc") s.alignment = Qt::AlignHCenter;
        else if (word == "qr") s.alignment = Qt::AlignRight;
        else if (word == "qj") s.alignment = Qt::AlignJustify;
    }

    // A character that may be the fallback of a preceding \uN.
    void fallbackOr(QChar c)
    {
        if (m_skipFallback > 0) {
            --m_skipFallback;
            return;
        }
        if (state().destination == Destination::ColourTable) {
            if (c == u';') {
                m_colours.append(m_pendingColour);  // invalid: "automatic"
                m_pendingColour = QColor();
            }
            return;
        }
        character(c);
    }

    void character(QChar c)
    {
        if (state().destination != Destination::Text)
            return;
        if (m_blockEnded) {
            flush();
            m_cursor.insertBlock();
            m_blockEnded = false;
        }
        m_pending.append(c);
    }

    void paragraph()
    {
        if (state().destination != Destination::Text)
            return;
        if (m_blockEnded) {
            flush();
            m_cursor.insertBlock();  // an empty paragraph
        }
        flush();
        m_cursor.setBlockFormat(blockFormat());
        m_blockEnded = true;
    }

    QTextBlockFormat blockFormat()
    {
        QTextBlockFormat format;
        format.setAlignment(m_stack.isEmpty() ? Qt::AlignLeft : state().alignment);
        return format;
    }

    void flush()
    {
        if (m_pending.isEmpty() || m_stack.isEmpty())
            return;
        const GroupState &s = state();
        QTextCharFormat format;
        format.setFontWeight(s.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(s.italic);
        format.setFontUnderline(s.underline);
        if (s.halfPoints > 0)
            format.setFontPointSize(s.halfPoints / 2.0);
        if (s.colour > 0 && s.colour < m_colours.size() && m_colours[s.colour].isValid())
            format.setForeground(m_colours[s.colour]);
        m_cursor.insertText(m_pending, format);
        m_pending.clear();
    }

    const QByteArray &m_data;
    qsizetype m_pos = 0;
    std::unique_ptr<QTextDocument> m_document;
    QTextCursor m_cursor;
    QList<GroupState> m_stack;
    QList<QColor> m_colours;
    QColor m_pendingColour;
    QString m_pending;
    int m_skipFallback = 0;
    bool m_groupStart = false;
    bool m_blockEnded = false;
};

}  // namespace

std::unique_ptr<QTextDocument> RtfReader::read(const QByteArray &rtf, QString *error)
{
    try {
        return Parser(rtf).run();
    } catch (const Malformed &malformed) {
        if (error)
            *error = malformed.reason;
        return nullptr;
    }
}
