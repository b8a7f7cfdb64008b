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
            out << "|";
        else if (qobject_cast<QWidgetAction *>(action))
            out << "<->";
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
    void arrangementShownSavedAndRepaired();
    void customizeDialogAddsRemovesAndReorders();

private:
    QTemporaryDir m_settingsDir;
};

void TestToolbar::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QCoreApplication::setOrganizationName("VorloTests");
    QCoreApplication::setApplicationName("tst_toolbar");
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

    // The Extract command's folder: the one that holds the archive.
    QCOMPARE(Items::folderOf("/path/to/a.rar"), "/path/to");
    QCOMPARE(Items::folderOf("/a.rar"), "/");
}

void TestToolbar::arrangementShownSavedAndRepaired()
{
    // New: the default, every command item triggering its own command.
    DocumentToolbar open;
    QCOMPARE(shown(open), (QStringList{Items::extract, Items::extractTo, "|", Items::trash, "<->", Items::close}));
    QSignalSpy commands(&open, &DocumentToolbar::commandTriggered);
    for (const QString &identifier : {Items::extract, Items::extractTo, Items::trash, Items::close})
        open.itemAction(identifier)->trigger();
    QCOMPARE(commands.size(), 4);
    QCOMPARE(commands.at(2).at(0).value<Items::Command>(), Items::Command::Trash);
    QCOMPARE(commands.at(3).at(0).value<Items::Command>(), Items::Command::CloseNow);

    // Saved: reaches the toolbars open and to come; one item and no item at
    // all survive the settings file too.
    const QStringList mine = {Items::close, Items::separator, Items::extract, Items::flexibleSpace, Items::separator};
    DocumentToolbar::saveArrangement(mine);
    QCOMPARE(shown(open), (QStringList{Items::close, "|", Items::extract, "<->", "|"}));
    QCOMPARE(DocumentToolbar().arrangement(), mine);
    DocumentToolbar::saveArrangement({Items::trash});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList{Items::trash});
    DocumentToolbar::saveArrangement({});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList());
    QCOMPARE(shown(open), QStringList());

    // Damaged: unknown and repeated commands dropped, a value of the wrong
    // type gives the default.
    storeRaw("Bogus, CloseItem,CloseItem,,ExtractItem,Separator,Separator");
    QCOMPARE(DocumentToolbar::savedArrangement(),
             (QStringList{Items::close, Items::extract, Items::separator, Items::separator}));
    storeRaw(QStringList{"placerDansLaCorbeille", "PrintItem"});
    QCOMPARE(DocumentToolbar::savedArrangement(), QStringList{Items::trash});
    storeRaw(QVariantMap{{"a", 1}});
    QCOMPARE(DocumentToolbar().arrangement(), Items::defaultArrangement());
}

void TestToolbar::customizeDialogAddsRemovesAndReorders()
{
    ToolbarCustomizeDialog dialog(Items::defaultArrangement());
    // Commands already shown are not offered again; the spacers always are.
    QCOMPARE(dialog.available(), (QStringList{Items::flexibleSpace, Items::separator}));
    dialog.removeItemAt(3); // the Trash item
    QCOMPARE(dialog.arrangement(),
             (QStringList{Items::extract, Items::extractTo, Items::separator, Items::flexibleSpace, Items::close}));
    QCOMPARE(dialog.available(), (QStringList{Items::trash, Items::flexibleSpace, Items::separator}));

    dialog.addItem(Items::extract); // already there: refused
    QCOMPARE(dialog.arrangement().size(), 5);
    dialog.moveItem(4, -4); // Close to the front
    dialog.addItem(Items::trash); // after the selected Close item
    QCOMPARE(dialog.arrangement().mid(0, 2), (QStringList{Items::close, Items::trash}));
    dialog.restoreDefaults();
    QCOMPARE(dialog.arrangement(), Items::defaultArrangement());
}

QTEST_MAIN(TestToolbar)
#include "tst_toolbar.moc"
