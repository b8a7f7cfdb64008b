#include "SafeFormat.h"

namespace {
// Length of a recognised conversion starting right after a "%" at `pos`,
// or 0 when the text there is not one.
qsizetype conversionLength(const QString &format, qsizetype pos)
{
    static const char *const conversions[] = {"lld", "llu", "ld", "lu", "@", "s", "d", "i", "u", "f"};
    for (const char *conversion : conversions) {
        const QLatin1StringView candidate(conversion);
        if (QStringView(format).mid(pos).startsWith(candidate))
            return candidate.size();
    }
    return 0;
}
}

QString safeFormat(const QString &format, const QStringList &arguments)
{
    QString result;
    result.reserve(format.size() + 16 * arguments.size());
    qsizetype nextArgument = 0;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            result += c;
            ++i;
            continue;
        }
        if (format.at(i + 1) == QLatin1Char('%')) {
            result += QLatin1Char('%');
            i += 2;
            continue;
        }

        // Positional form: %N$<conversion>
        qsizetype pos = i + 1;
        qsizetype position = -1;
        qsizetype digitsEnd = pos;
        while (digitsEnd < format.size() && digitsEnd - pos < 3 && format.at(digitsEnd).isDigit())
            ++digitsEnd;
        if (digitsEnd > pos && digitsEnd < format.size() && format.at(digitsEnd) == QLatin1Char('$')) {
            position = format.mid(pos, digitsEnd - pos).toLongLong() - 1;
            pos = digitsEnd + 1;
        }

        const qsizetype length = conversionLength(format, pos);
        if (length == 0) {
            result += c;  // not a conversion: keep the "%" literally
            ++i;
            continue;
        }
        const qsizetype index = position >= 0 ? position : nextArgument++;
        if (index >= 0 && index < arguments.size())
            result += arguments.at(index);
        i = pos + length;
    }
    return result;
}
