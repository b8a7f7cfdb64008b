#pragma once

#include <QStringView>

// Name order as people read it: runs of digits compare by their value, so
// "file2" comes before "file10"; letters compare without regard to case.
namespace NaturalOrder {
// Negative, zero or positive as `a` comes before, with or after `b`.
int compare(QStringView a, QStringView b);
}
