// How a helper run starts and ends. The outcome of a whole run is read from
// recorded transcripts (what the helper wrote between its waits for a
// password, and its exit status); what only a live process shows (whether it
// waits at a prompt, stop, abandon, a helper deaf to the stop, the listing's
// shell) from small shell scripts.
#include "HelperRun.h"
#include "ListingCommand.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

using Kind = HelperRun::Kind;
using Outcome = HelperRun::Outcome;

Q_DECLARE_METATYPE(HelperRun::Kind)
Q_DECLARE_METATYPE(HelperRun::Outcome)

namespace {
const QByteArray prompt = "Enter password (will not be echoed) for x.rar: ";
constexpr int killed = -1; // exit status of a helper ended by a signal

// Replays a recorded run as HelperRun reads a live helper: the helper
// waited for an answer at each "^" of its output, then ended with `status`.
Outcome replay(Kind kind, const QByteArray &transcript, int status, QStringList &entries)
{
    OutputReader reader;
    kind == Kind::Listing ? reader.startListing() : reader.startExtraction();
    const QList<QByteArray> pieces = transcript.split('^');
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (reader.readPiece(pieces.at(i)).atPromptLine && i + 1 < pieces.size())
            reader.promptConfirmed();
    }
    HelperRun::Ending ending;
    ending.crashed = status == killed;
    ending.exitCode = qMax(status, 0);
    ending.allOkLine = reader.allOkLine();
    ending.damagedLine = reader.damagedLine();
    ending.passwordRefused = reader.passwordRefused();
    const Outcome outcome = HelperRun::outcomeOf(kind, ending);
    entries = outcome == Outcome::Succeeded && kind == Kind::Listing ? reader.finishListing() : QStringList();
    return outcome;
}

void addRun(const char *name, Kind kind, const QByteArray &transcript, int status, Outcome outcome,
            const QStringList &entries = {})
{
    QTest::newRow(name) << kind << transcript << status << outcome << entries;
}

// Runs `script` to its end, answering each prompt with the next of `answers`.
Outcome runScript(Kind kind, const QString &script, const QStringList &answers = {}, int *prompts = nullptr,
                  QStringList *entries = nullptr)
{
    HelperRun run;
    int asked = 0;
    QObject::connect(&run, &HelperRun::passwordWanted, &run, [&] { run.sendPassword(answers.value(asked++)); });
    QSignalSpy finished(&run, &HelperRun::finished);
    run.start(kind, "/bin/sh", {"-c", script});
    if (!finished.wait(15000))
        return Outcome::Failed;
    if (prompts)
        *prompts = asked;
    if (entries)
        *entries = run.takeEntries();
    return finished.at(0).at(0).value<Outcome>();
}

QString ask()
{
    return QStringLiteral("printf '%1'; read answer; echo; ").arg(QString::fromLatin1(prompt));
}
} // namespace

class TestHelperRun : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void promptOnlyWhenTheHelperWaits();
    void stopAtThePromptAndAbandon();
    void listingFromADeafHelperIsBounded();
    void listingHelperReplacesTheShell();
};

void TestHelperRun::outcomes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("transcript");
    QTest::addColumn<int>("status");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QStringList>("entries");
    const Kind x = Kind::Extraction;
    // Success needs the line and the status; damage needs the line and a
    // failed run.
    addRun("all OK", x, "Extracting  a  OK \n***All OK****\n", 0, Outcome::Succeeded);
    addRun("all OK, status 3", x, "***All OK****\n", 3, Outcome::Failed);
    addRun("all OK cut short", x, "***All OK****", 0, Outcome::Failed);
    addRun("damaged", x, "a.rar: bad\nUnexpected end of archive\n", 2, Outcome::Damaged);
    addRun("killed", x, "***All OK****\n", killed, Outcome::Interrupted);
    addRun("signalled", x, "", 255, Outcome::Interrupted);
    addRun("listing", Kind::Listing, "Unexpected end of archive\n***All OK****\nHow to Enter Password.txt\n", 0,
           Outcome::Succeeded, {"Unexpected end of archive", "***All OK****", "How to Enter Password.txt", QString()});
    addRun("not an archive", Kind::Listing, "x.rar: Unrecognized archive format\n", 2, Outcome::Failed);
    addRun("listing cut", Kind::Listing, "a\nUnexpected end of archive\n", 2, Outcome::Damaged);
    addRun("no helper", Kind::Listing, "sh: 1: exec: /x/unrar: not found\n", 127, Outcome::HelperMissing);
    // Hidden names: the dialogue is no entry.
    const QByteArray refused = "\nThe specified password is incorrect.\n";
    addRun("password accepted", Kind::Listing, prompt + '^' + refused + prompt + "^\na.txt\nb/c.txt\n", 0,
           Outcome::Succeeded, {"a.txt", "b/c.txt", QString()});
    addRun("password refused", Kind::Listing,
           (prompt + '^' + refused).repeated(3) + "Wrong password for x.rar\n", 11, Outcome::PasswordRefused);
}

void TestHelperRun::outcomes()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, transcript);
    QFETCH(int, status);
    QFETCH(QStringList, entries);
    QStringList listed;
    QTEST(replay(kind, transcript, status, listed), "outcome");
    QCOMPARE(listed, entries);
}

void TestHelperRun::promptOnlyWhenTheHelperWaits()
{
    // A name that reads like the prompt stays at the end of the output for a
    // while, but the helper does not wait for input: no prompt, and the name
    // is listed.
    int prompts = -1;
    QStringList entries;
    QCOMPARE(runScript(Kind::Listing, QStringLiteral("printf '%1'; sleep 0.6; echo; echo b").arg(prompt), {},
                       &prompts, &entries),
             Outcome::Succeeded);
    QCOMPARE(prompts, 0);
    QCOMPARE(entries, (QStringList{QString::fromLatin1(prompt), "b", QString()}));

    // The helper's prompt is answered once per prompt, and the answer is
    // what the helper reads.
    QCOMPARE(runScript(Kind::Extraction,
                       ask() + "echo \"got $answer\"; " + ask() + "[ \"$answer\" = 'two words' ] && echo '***All OK****'",
                       {"one", "two words"}, &prompts),
             Outcome::Succeeded);
    QCOMPARE(prompts, 2);

    // The live status counts: killed from outside after the success line.
    QCOMPARE(runScript(Kind::Extraction, "echo '***All OK****'; kill -KILL $$"), Outcome::Interrupted);
}

void TestHelperRun::stopAtThePromptAndAbandon()
{
    // Stopped at the prompt: whatever the helper says on its way out.
    HelperRun run;
    QSignalSpy finished(&run, &HelperRun::finished);
    connect(&run, &HelperRun::passwordWanted, &run, &HelperRun::stop);
    run.start(Kind::Listing, "/bin/sh",
              {"-c", "trap 'echo Unexpected end of archive; exit 2' TERM; " + ask()
                                         + "sleep 30"});
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).value<Outcome>(), Outcome::Stopped);
    QCOMPARE(run.takeEntries(), QStringList());

    // Abandoned: no outcome, and the helper goes.
    HelperRun abandoned;
    QSignalSpy ended(&abandoned, &HelperRun::finished);
    abandoned.start(Kind::Listing, "/bin/sh", {"-c", "sleep 30"});
    QTRY_VERIFY(abandoned.processId() > 0);
    const qint64 pid = abandoned.processId();
    abandoned.abandon();
    QVERIFY(!abandoned.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000); // ended and reaped
    QTest::qWait(100);
    QCOMPARE(ended.size(), 0);
}

void TestHelperRun::listingFromADeafHelperIsBounded()
{
    // A listing without end, from a helper that ignores the stop, is ended
    // at its bound instead of filling the memory.
    QElapsedTimer timer;
    timer.start();
    QStringList entries = {"unset"};
    QCOMPARE(runScript(Kind::Listing, "trap '' TERM; exec yes", {}, nullptr, &entries),
             Outcome::ListingTooLarge);
    QCOMPARE(entries, QStringList());
    QVERIFY(timer.elapsed() < 15000);
}

// Stopping a run kills the process Vorlo started: that must be the helper,
// not a shell that would leave the helper running on its own.
void TestHelperRun::listingHelperReplacesTheShell()
{
    QTemporaryDir folder;
    const QString helper = folder.filePath("helper");
    QFile script(helper);
    QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\necho $$\n") > 0);
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QProcess shell;
    shell.start("/bin/sh", {"-c", ListingCommand::build(helper, "a.rar")});
    QVERIFY(shell.waitForStarted(5000));
    const qint64 started = shell.processId();
    QVERIFY(shell.waitForFinished(5000));
    QCOMPARE(shell.readAllStandardOutput().trimmed().toLongLong(), started);
}

QTEST_GUILESS_MAIN(TestHelperRun)
#include "tst_helperrun.moc"
