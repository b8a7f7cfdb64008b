#include "CurlOutput.h"

#include "LeadingNumber.h"

#include <QRegularExpression>
#include <QStringDecoder>

std::optional<double> CurlOutput::percentage(const QByteArray &piece)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(piece);
    if (decoder.hasError())
        return std::nullopt;

    const qsizetype percent = text.indexOf(QLatin1Char('%'));
    if (percent < 4)
        return std::nullopt;
    const QStringView digits = QStringView(text).mid(percent - 4, 4);
    const double value = LeadingNumber::readDouble(digits);
    if (value >= 100 || value < 0 || LeadingNumber::readInt(digits) == 0)
        return std::nullopt;
    return value;
}

QString CurlOutput::errorMessage(const QByteArray &output)
{
    // After a progress bar curl starts its error line right behind the
    // percentage, without a line break.
    const QString text = QString::fromUtf8(output);
    const qsizetype start = text.lastIndexOf(QLatin1String("curl: ("));
    if (start < 0)
        return {};
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    const qsizetype end = text.indexOf(lineBreak, start);
    return text.mid(start, end < 0 ? -1 : end - start).trimmed();
}
