#include "LeadingNumber.h"

#include <QByteArray>
#include <charconv>
#include <climits>
#include <cmath>

namespace {
bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

qsizetype skipBlanks(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

qsizetype skipDigits(QStringView text, qsizetype i)
{
    while (i < text.size() && isAsciiDigit(text.at(i)))
        ++i;
    return i;
}

qsizetype skipSign(QStringView text, qsizetype i)
{
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    return i;
}
}

double LeadingNumber::readDouble(QStringView text)
{
    const qsizetype start = skipBlanks(text);
    qsizetype i = skipSign(text, start);
    const qsizetype integerStart = i;
    i = skipDigits(text, i);
    qsizetype digits = i - integerStart;
    if (i < text.size() && text.at(i) == QLatin1Char('.')) {
        const qsizetype fractionEnd = skipDigits(text, i + 1);
        digits += fractionEnd - (i + 1);
        i = fractionEnd;
    }
    if (digits == 0)
        return 0;

    // An exponent counts only when digits follow it: "3e" reads as 3.
    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        const qsizetype exponentDigits = skipSign(text, i + 1);
        const qsizetype exponentEnd = skipDigits(text, exponentDigits);
        if (exponentEnd > exponentDigits)
            i = exponentEnd;
    }

    // from_chars reads the C locale's syntax but takes no "+".
    QByteArray number = text.mid(start, i - start).toLatin1();
    if (number.startsWith('+'))
        number.remove(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.constData(), number.constData() + number.size(), value);
    Q_UNUSED(end);
    return error == std::errc() && std::isfinite(value) ? value : 0;
}

int LeadingNumber::readInt(QStringView text)
{
    qsizetype i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && isAsciiDigit(text.at(i)); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}
