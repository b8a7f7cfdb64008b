#pragma once

#include "UpdateDesktop.h"

#include <QList>
#include <QStringList>
#include <functional>

// Stands in for the user at the desktop: records every alert, offer, sheet,
// beep and opened folder, and answers with what the test has set up. Sheets
// stay up until the test dismisses them.
class RecordingDesktop : public UpdateDesktop
{
public:
    struct Message
    {
        QString message;
        QString informative;
        SheetKind kind = SheetKind::Done;
    };

    void alert(const QString &message, const QString &informative) override { alerts << Message{message, informative}; }
    bool offer(const QString &message, const QString &informative, const QString &, const QString &) override
    {
        offers << Message{message, informative};
        return acceptOffers;
    }
    void sheet(QWidget *, SheetKind kind, const QString &message, const QString &informative,
               std::function<void()> done) override
    {
        sheets << Message{message, informative, kind};
        pendingSheets << done;
    }
    void dismissSheet() { pendingSheets.takeFirst()(); }
    void chooseSavePath(QWidget *, const QString &, const QString &proposedName,
                        std::function<void(int, const QString &)> done) override
    {
        proposedNames << proposedName;
        done(savePath.isEmpty() ? 0 : 1, savePath);
    }
    void beep() override { ++beeps; }
    void openFolder(const QString &folder) override { openedFolders << folder; }

    bool acceptOffers = false;
    QString savePath;  // empty: the user cancels the save dialog
    QList<Message> alerts, offers, sheets;
    QList<std::function<void()>> pendingSheets;
    QStringList proposedNames, openedFolders;
    int beeps = 0;
};
