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
    const QString text = QString::fromUtf8(output);
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    const QStringList lines = text.split(lineBreak, Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (it->startsWith(QLatin1String("curl: ")))
            return it->trimmed();
    }
    return {};
}
