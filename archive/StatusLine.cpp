#include "StatusLine.h"

#include "StringTable.h"

QString StatusLine::keyFor(int count)
{
    // Languages disagree on zero: English says "0 items", French "0 élément",
    // so an empty folder has a text of its own.
    if (count == 0)
        return QStringLiteral("MyDocumentNone");
    return count > 1 ? QStringLiteral("MyDocument4") : QStringLiteral("MyDocument3");
}

QString StatusLine::text(int count)
{
    return StringTable::format(keyFor(count), {QString::number(count)});
}
