#pragma once

#include "UpdateDesktop.h"

#include <QList>
#include <QStringList>
#include <functional>

// Stands in for the user at the desktop: records every alert, dialog, beep
// and opened folder, and answers with what the test has set up.
class RecordingDesktop : public UpdateDesktop
{
public:
    struct Message
    {
        QString message;
        QString informative;
    };

    void alert(const QString &message, const QString &informative) override
    {
        alerts << Message{message, informative};
    }

    bool offer(const QString &message, const QString &informative, const QString &accept,
               const QString &decline) override
    {
        offers << Message{message, informative};
        offerButtons << QStringList{accept, decline};
        return acceptOffers;
    }

    // Sheets stay up until the test dismisses them.
    void sheet(QWidget *, SheetKind kind, const QString &message, const QString &informative,
               std::function<void()> done) override
    {
        sheets << Message{message, informative};
        sheetKinds << kind;
        pendingSheets << done;
    }

    void dismissSheet()
    {
        if (!pendingSheets.isEmpty())
            pendingSheets.takeFirst()();
    }

    void chooseSavePath(QWidget *, const QString &prompt, const QString &proposedName,
                        std::function<void(int, const QString &)> done) override
    {
        savePrompts << prompt;
        proposedNames << proposedName;
        done(savePath.isEmpty() ? 0 : 1, savePath);
    }

    void beep() override { ++beeps; }
    void openFolder(const QString &folder) override { openedFolders << folder; }

    bool acceptOffers = false;
    QString savePath;  // empty: the user cancels the save dialog

    QList<Message> alerts;
    QList<Message> offers;
    QList<QStringList> offerButtons;
    QList<Message> sheets;
    QList<SheetKind> sheetKinds;
    QList<std::function<void()>> pendingSheets;
    QStringList savePrompts;
    QStringList proposedNames;
    int beeps = 0;
    QStringList openedFolders;
};
