#include "DocumentToolbar.h"
#include "ToolbarCustomizeDialog.h"
#include "ToolbarItems.h"

#include <QAction>
#include <QSettings>
#include <QSignalSpy>
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
    QObject owner;
    for (const QString &identifier : {Items::extract, Items::extractTo, Items::close, Items::trash}) {
        QAction *action = DocumentToolbar::makeItem(identifier, &owner);
        QCOMPARE(action->objectName(), identifier);
        QVERIFY2(!action->text().isEmpty() && !action->text().startsWith(QLatin1String("MyDocument")),
                 qPrintable(identifier)); // a real text, not the bare key
        QVERIFY2(!action->toolTip().isEmpty() && !action->icon().isNull(), qPrintable(identifier));
        // Every window shares one icon per item, so the scaled pictures Qt
        // caches per icon do not pile up as windows come and go.
        QCOMPARE(DocumentToolbar::makeItem(identifier, &owner)->icon().cacheKey(), action->icon().cacheKey());
    }

    // Unknown identifiers, even close to known ones, give bare items.
    for (const QString &identifier : {QStringLiteral("extractitem"), QStringLiteral("Bogus"), QString()}) {
        QAction *bare = DocumentToolbar::makeItem(identifier, &owner);
        QCOMPARE(bare->objectName(), identifier);
        QVERIFY(bare->text().isEmpty() && bare->toolTip().isEmpty() && bare->icon().isNull());
    }

    // The Extract command's folder: the one that holds the archive.
    QCOMPARE(Items::folderOf(QStringLiteral("/path/to/a.rar")), QStringLiteral("/path/to"));
    QCOMPARE(Items::folderOf(QStringLiteral("/a.rar")), QStringLiteral("/"));
}

void TestToolbar::newToolbarShowsTheDefaultArrangement()
{
    DocumentToolbar toolbar;
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
