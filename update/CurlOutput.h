#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Reads what curl prints when run with "-#": a progress bar that ends each
// update with a percentage such as " 45.3%", and "curl: (N) ..." lines when
// something goes wrong.
class CurlOutput
{
public:
    // The percentage reported by one piece of output, as it was read from
    // the pipe. Only the four characters before the first "%" of the piece
    // count; pieces are never joined, so a percentage split between two
    // reads is lost. Nothing when the piece is not valid UTF-8, has no "%",
    // or has fewer than four characters before it, and nothing for values
    // that do not move the display: under 1 (the integer part is 0) or 100
    // and more (" 100.0%" yields "00.0"; the end of the transfer fills the
    // bar).
    static std::optional<double> percentage(const QByteArray &piece);

    // The last of curl's own error lines in `output` ("curl: (6) Could not
    // resolve host: ..."), or an empty text when there is none.
    static QString errorMessage(const QByteArray &output);
};
