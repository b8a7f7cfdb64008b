#include "ListingCommand.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The quoted words are given to a real /bin/sh, which must read back
// exactly the names we meant and run nothing hidden in them.
class TestListingCommand : public QObject
{
    Q_OBJECT

private slots:
    void shellReadsNamesBackUnchanged();
    void helperReplacesTheShell();
};

void TestListingCommand::shellReadsNamesBackUnchanged()
{
    const QStringList names = {"plain.rar", "with space.rar", "quote\"back\\slash.rar",
                               "$(touch pwned) `touch pwned` $HOME ${x}.rar",
                               "it's; rm -rf nothing & echo | cat > x.rar", "line\nfeed.rar", "-rf.rar",
                               "*?[a].rar", QStringLiteral("\u00e9t\u00e9 \u65e5\u672c.rar")};
    const QString printer = "printf '%s|' ";
    for (const QString &name : names) {
        const QString command = ListingCommand::build("/bin/echo", name);
        QVERIFY(command.startsWith("exec '/bin/echo' vb -v "));

        // Replace the helper by a printer of its last argument.
        const QString argument = command.mid(command.indexOf(" -v ") + 4);
        QProcess shell;
        shell.setWorkingDirectory(QDir::tempPath());
        shell.start("/bin/sh", {"-c", printer + argument});
        QVERIFY(shell.waitForFinished(5000));
        const QString expected = name.startsWith(QLatin1Char('-')) ? "./" + name : name;
        QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()), expected + QLatin1Char('|'));
        QVERIFY(!QFile::exists(QDir::temp().filePath("pwned")));
    }
}

// Stopping a run kills the process Vorlo started: that must be the helper,
// not a shell that would leave the helper running on its own.
void TestListingCommand::helperReplacesTheShell()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString helper = folder.filePath("helper");
    QFile script(helper);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho $$\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess shell;
    shell.start("/bin/sh", {"-c", ListingCommand::build(helper, "a.rar")});
    QVERIFY(shell.waitForStarted(5000));
    const qint64 started = shell.processId();
    QVERIFY(shell.waitForFinished(5000));
    QCOMPARE(shell.readAllStandardOutput().trimmed().toLongLong(), started);
}

QTEST_GUILESS_MAIN(TestListingCommand)
#include "tst_listingcommand.moc"
