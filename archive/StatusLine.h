#pragma once

#include <QString>

// The line under the entry table: how many items the current level holds.
namespace StatusLine {
// The string-table key for `count` items: one text for none or one, another
// for several.
QString keyFor(int count);
QString text(int count);
}
