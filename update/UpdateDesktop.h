#pragma once

#include <QString>
#include <functional>

class QWidget;

// The desktop services the updater talks to the user through: alerts, the
// save dialog, the beep and the file manager. The standard implementation
// uses Qt's dialogs; tests substitute their own to answer and record.
//
// Every text is shown literally: texts that carry a version or a message
// from the network are never read as markup.
class UpdateDesktop
{
public:
    virtual ~UpdateDesktop() = default;

    // What a window-modal alert reports: a step done, or a failure (shown
    // with the warning icon).
    enum class SheetKind { Done, Failure };

    // The implementation used when none is given.
    static UpdateDesktop *standard();

    // An application-modal alert with one "OK" button; returns when the user
    // has answered.
    virtual void alert(const QString &message, const QString &informative);

    // An application-modal offer with an accepting default button and a
    // declining one; true when the user accepted.
    virtual bool offer(const QString &message, const QString &informative, const QString &accept,
                       const QString &decline);

    // An alert with one "OK" button, modal to `window` only; `done` runs once
    // it is dismissed.
    virtual void sheet(QWidget *window, SheetKind kind, const QString &message, const QString &informative,
                       std::function<void()> done);

    // A save dialog modal to `window`, whose confirm button reads `prompt`
    // and which proposes `proposedName` in the default folder. `done` runs
    // once it ends, with 1 and the chosen absolute path when the user
    // confirmed, 0 and an empty path otherwise.
    virtual void chooseSavePath(QWidget *window, const QString &prompt, const QString &proposedName,
                                std::function<void(int returnCode, const QString &path)> done);

    virtual void beep();

    // Shows `folder` in the user's file manager.
    virtual void openFolder(const QString &folder);
};
