#pragma once

#include "UpdateList.h"

#include <QString>
#include <optional>

class QObject;
class UpdateControl;
class UpdateDesktop;

// The "Check for Updates…" command: reads the update list, compares its
// version with ours and tells the user; on an accepted offer it opens the
// update window.
class UpdateCheck
{
public:
    enum class Outcome { Unreadable, SameVersion, OtherVersion };

    // Any difference at all is worth an offer, even an older version: the
    // list names the version people should have.
    static Outcome compare(const std::optional<UpdateList> &list, const QString &applicationVersion);

    explicit UpdateCheck(UpdateDesktop *desktop = nullptr);

    // Runs the check against QCoreApplication::applicationVersion().
    // `uploadCenter` is the application's one update window: created (owned
    // by `owner`) and filled on the first accepted offer, only brought to
    // the front on later ones. Does nothing while another fetch of the list
    // is under way.
    void run(UpdateControl *&uploadCenter, QObject *owner);

private:
    UpdateDesktop *desktop;
};
