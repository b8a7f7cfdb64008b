#include "StatusLine.h"

#include "StringTable.h"

QString StatusLine::keyFor(int count)
{
    return count > 1 ? QStringLiteral("MyDocument4") : QStringLiteral("MyDocument3");
}

QString StatusLine::text(int count)
{
    return StringTable::format(keyFor(count), {QString::number(count)});
}
