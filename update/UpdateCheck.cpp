#include "UpdateCheck.h"

#include "StringTable.h"
#include "UpdateControl.h"
#include "UpdateDesktop.h"
#include "UpdateListFetcher.h"

#include <QCoreApplication>

UpdateCheck::Outcome UpdateCheck::compare(const std::optional<UpdateList> &list,
                                          const QString &applicationVersion)
{
    if (!list)
        return Outcome::Unreadable;
    return list->lastVersion == applicationVersion ? Outcome::SameVersion : Outcome::OtherVersion;
}

UpdateCheck::UpdateCheck(UpdateDesktop *desktop)
    : desktop(desktop ? desktop : UpdateDesktop::standard())
{
}

void UpdateCheck::run(UpdateControl *&uploadCenter, QObject *owner)
{
    if (UpdateListFetcher::isBusy())
        return;
    const QString ours = QCoreApplication::applicationVersion();
    const std::optional<UpdateList> list = UpdateListFetcher::fetch();

    switch (compare(list, ours)) {
    case Outcome::Unreadable:
        desktop->alert(StringTable::text(QStringLiteral("MyDocument17")),
                       StringTable::text(QStringLiteral("MyDocument18")));
        return;
    case Outcome::SameVersion:
        desktop->alert(StringTable::text(QStringLiteral("MyDocument13")),
                       StringTable::format(QStringLiteral("MyDocument14"), {list->lastVersion}));
        return;
    case Outcome::OtherVersion:
        break;
    }

    const bool accepted = desktop->offer(StringTable::text(QStringLiteral("MyDocument15")),
                                         StringTable::format(QStringLiteral("MyDocument16"), {list->lastVersion}),
                                         StringTable::text(QStringLiteral("MyDocument19")),
                                         StringTable::text(QStringLiteral("MyDocument20")));
    if (!accepted)
        return;
    if (!uploadCenter) {
        uploadCenter = new UpdateControl(desktop, owner);
        uploadCenter->startUpdate(1);
    } else {
        uploadCenter->makeWinKey();
    }
}
