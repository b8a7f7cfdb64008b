#pragma once

#include <QIcon>
#include <QString>

// Icons of the entry table: our own folder picture, and for files the
// desktop's icon for the type named by the extension.
namespace FileIcons {
QIcon folder();
// The icon for files of the type given by the extension of `name` (the
// text after its last "."), or a generic document icon.
QIcon forFileName(const QString &name);
// The mark of an encrypted entry: the desktop's padlock, or one of our own.
QIcon lock();
}
