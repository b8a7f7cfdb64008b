#include "DocumentToolbar.h"
#include "StringTable.h"
#include "ToolbarCustomizeDialog.h"
#include "ToolbarItems.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidgetAction>

namespace Items = ToolbarItems;

namespace {
// What the toolbar shows, in order: identifiers for items, "|" for a
// separator and "<->" for the flexible space.
QStringList shown(const DocumentToolbar &toolbar)
{
    QStringList out;
    for (QAction *action : toolbar.actions()) {
        if (action->isSeparator())
            out << QStringLiteral("|");
        else if (qobject_cast<QWidgetAction *>(action))
            out << QStringLiteral("<->");
        else
            out << action->objectName();
    }
    return out;
}

void storeRaw(const QVariant &value)
{
    QSettings settings;
    settings.setValue(Items::settingsKey, value);
}
} // namespace

class TestToolbar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void itemsByIdentifier();
    void newToolbarShowsTheDefaultArrangement();
    void savedArrangementRoundTripsAndReachesEveryToolbar();
    void damagedSettingsAreRepaired();
    void customizeDialogAddsRemovesAndReorders();

private:
    QTemporaryDir m_settingsDir;
};

void TestToolbar::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("VorloTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_toolbar"));
}

void TestToolbar::init()
{
    QSettings().clear();
}

void TestToolbar::itemsByIdentifier()
{
    struct Expected
    {
        QString identifier, label, toolTip;
    };
    const QList<Expected> expected = {
        {Items::extract, QStringLiteral("MyDocument5"), QStringLiteral("MyDocument6")},
        {Items::extractTo, QStringLiteral("MyDocument7"), QStringLiteral("MyDocument8")},
        {Items::close, QStringLiteral("MyDocument9"), QStringLiteral("MyDocument10")},
        {Items::trash, QStringLiteral("MyDocument11"), QStringLiteral("MyDocument12")},
    };
    QObject owner;
    for (const Expected &item : expected) {
        QAction *action = DocumentToolbar::makeItem(item.identifier, &owner);
        QCOMPARE(action->objectName(), item.identifier);
        QCOMPARE(action->text(), StringTable::text(item.label));
        QVERIFY(action->text() != item.label); // a real text, not the bare key
        QCOMPARE(action->toolTip(), StringTable::text(item.toolTip));
        QVERIFY2(!action->icon().isNull(), qPrintable(item.identifier));
        QVERIFY(action->isEnabled());
        // Every window shares one icon per item, so the scaled pictures Qt
        // caches per icon do not pile up as windows come and go.
        QCOMPARE(DocumentToolbar::makeItem(item.identifier, &owner)->icon().cacheKey(), action->icon().cacheKey());
    }

    // The Extract command's folder: the one that holds the archive.
    QCOMPARE(Items::folderOf(QStringLiteral("/path/to/a.rar")), QStringLiteral("/path/to"));
    QCOMPARE(Items::folderOf(QStringLiteral("/a.rar")), QStringLiteral("/"));

    // Unknown identifiers, even close to known ones, give bare items.
    for (const QString &identifier : {QStringLiteral("extractitem"), QStringLiteral("Bogus"), QString()}) {
        QAction *bare = DocumentToolbar::makeItem(identifier, &owner);
        QCOMPARE(bare->objectName(), identifier);
        QVERIFY(bare->text().isEmpty());
        QVERIFY(bare->toolTip().isEmpty());
        QVERIFY(bare->icon().isNull());
        QVERIFY(Items::item(identifier).isBare());
    }
}

void TestToolbar::newToolbarShowsTheDefaultArrangement()
{
    QCOMPARE(Items::defaultArrangement(),
             (QStringList{Items::extract, Items::extractTo, Items::separator, Items::trash, Items::flexibleSpace,
                          Items::close}));
    QCOMPARE(Items::allowedItems(),
             (QStringList{Items::extract, Items::extractTo, Items::trash, Items::flexibleSpace, Items::separator,
                          Items::close}));

    DocumentToolbar toolbar;
    QCOMPARE(toolbar.objectName(), QStringLiteral("tasksToolBar"));
    QCOMPARE(toolbar.toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(shown(toolbar), (QStringList{Items::extract, Items::extractTo, QStringLiteral("|"), Items::trash,
                                          QStringLiteral("<->"), Items::close}));

    // Every command item triggers its own command.
    QSignalSpy commands(&toolbar, &DocumentToolbar::commandTriggered);
    for (const QString &identifier : {Items::extract, Items::extractTo, Items::trash, Items::close})
        toolbar.itemAction(identifier)->trigger();
    QCOMPARE(commands.size(), 4);
    QCOMPARE(commands.at(2).at(0).value<Items::Command>(), Items::Command::Trash);
    QCOMPARE(commands.at(3).at(0).value<Items::Command>(), Items::Command::CloseNow);
}

void TestToolbar::savedArrangementRoundTripsAndReachesEveryToolbar()
{
    DocumentToolbar open;
    const QStringList mine = {Items::close, Items::separator, Items::extract, Items::flexibleSpace,
                              Items::separator};
    DocumentToolbar::saveArrangement(mine);
    QCOMPARE(DocumentToolbar::savedArrangement(), mine);
    QCOMPARE(open.arrangement(), mine);
    QCOMPARE(shown(open), (QStringList{Items::close, QStringLiteral("|"), Items::extract, QStringLiteral("<->"),
                                       QStringLiteral("|")}));
    DocumentToolbar later;
    QCOMPARE(later.arrangement(), mine);

    // One item and no item at all survive the settings file too.
    DocumentToolbar::saveArrangement({Items::trash});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList{Items::trash});
    DocumentToolbar::saveArrangement({});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList());
    QCOMPARE(shown(open), QStringList());
}

void TestToolbar::damagedSettingsAreRepaired()
{
    storeRaw(QStringLiteral("Bogus, CloseItem,CloseItem,,ExtractItem,Separator,Separator"));
    QCOMPARE(DocumentToolbar::savedArrangement(),
             (QStringList{Items::close, Items::extract, Items::separator, Items::separator}));

    storeRaw(QStringList{QStringLiteral("placerDansLaCorbeille"), QStringLiteral("PrintItem")});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList{Items::trash});

    storeRaw(42);
    QCOMPARE(DocumentToolbar::savedArrangement(), Items::defaultArrangement());
    storeRaw(QVariantMap{{QStringLiteral("a"), 1}});
    DocumentToolbar toolbar;
    QCOMPARE(toolbar.arrangement(), Items::defaultArrangement());
}

void TestToolbar::customizeDialogAddsRemovesAndReorders()
{
    ToolbarCustomizeDialog dialog(Items::defaultArrangement());
    QCOMPARE(dialog.arrangement(), Items::defaultArrangement());
    // Commands already shown are not offered again; the spacers always are.
    QCOMPARE(dialog.available(), (QStringList{Items::flexibleSpace, Items::separator}));

    dialog.removeItemAt(3); // the Trash item
    QCOMPARE(dialog.arrangement(), (QStringList{Items::extract, Items::extractTo, Items::separator,
                                                Items::flexibleSpace, Items::close}));
    QCOMPARE(dialog.available(), (QStringList{Items::trash, Items::flexibleSpace, Items::separator}));

    dialog.addItem(Items::extract); // already there: refused
    dialog.addItem(QStringLiteral("Bogus"));
    QCOMPARE(dialog.arrangement().size(), 5);

    dialog.moveItem(4, -4); // Close to the front
    dialog.moveItem(0, -1); // already first: nothing
    QCOMPARE(dialog.arrangement().first(), Items::close);
    dialog.addItem(Items::trash); // after the selected Close item
    QCOMPARE(dialog.arrangement().mid(0, 2), (QStringList{Items::close, Items::trash}));

    dialog.restoreDefaults();
    QCOMPARE(dialog.arrangement(), Items::defaultArrangement());

    // A damaged arrangement handed to the dialog is repaired first.
    ToolbarCustomizeDialog repaired({Items::close, Items::close, QStringLiteral("x")});
    QCOMPARE(repaired.arrangement(), QStringList{Items::close});
}

QTEST_MAIN(TestToolbar)
#include "tst_toolbar.moc"
