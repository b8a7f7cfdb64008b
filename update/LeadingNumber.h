#pragma once

#include <QStringView>

// Reads the number at the start of a text the forgiving way the update list
// and curl's output need: leading blanks are skipped, the number is read as
// far as it goes ("12.5 MB" gives 12.5), and a text without a number gives 0.
// The decimal separator is always ".", whatever the user's locale.
class LeadingNumber
{
public:
    static double readDouble(QStringView text);

    // The integer part only: "45.3" gives 45; values beyond the range of int
    // are clamped.
    static int readInt(QStringView text);
};
