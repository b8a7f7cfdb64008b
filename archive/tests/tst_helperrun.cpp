// A helper run against fake helpers: small shell scripts that print chosen
// output, ask for a password like the helper does, and exit with a chosen
// status.
#include "HelperRun.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/types.h>

using Kind = HelperRun::Kind;
using Outcome = HelperRun::Outcome;

Q_DECLARE_METATYPE(HelperRun::Kind)
Q_DECLARE_METATYPE(HelperRun::Outcome)

namespace {
const QString prompt = QStringLiteral("Enter password (will not be echoed) for x.rar: ");

// The helper's prompt: asks, reads one line, ends the line.
QString ask()
{
    return QStringLiteral("printf '%1'; read answer; echo; ").arg(prompt);
}

struct Finished
{
    Outcome outcome = Outcome::Failed;
    QStringList entries;
    int prompts = 0;
};

// Runs `script` to its end, answering each prompt with the next of `answers`.
Finished runScript(Kind kind, const QString &script, const QStringList &answers = {})
{
    HelperRun run;
    Finished result;
    QObject::connect(&run, &HelperRun::passwordWanted, &run, [&] {
        run.sendPassword(answers.value(result.prompts));
        ++result.prompts;
    });
    QSignalSpy finished(&run, &HelperRun::finished);
    run.start(kind, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    if (!finished.wait(15000))
        return result;
    result.outcome = finished.at(0).at(0).value<Outcome>();
    result.entries = run.takeEntries();
    return result;
}
} // namespace

class TestHelperRun : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void promptOnlyWhenTheHelperWaits();
    void startStopAndAbandon();
    void listingBounded();
};

void TestHelperRun::outcomes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("script");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QStringList>("entries");
    const QStringList none;

    // Success needs the line and the status; damage needs the line and a
    // failed run.
    QTest::newRow("all OK, status 0") << Kind::Extraction << "echo 'Extracting  a  OK '; echo '***All OK****'"
                                      << Outcome::Succeeded << none;
    QTest::newRow("all OK, status 3") << Kind::Extraction << "echo '***All OK****'; exit 3" << Outcome::Failed << none;
    QTest::newRow("all OK in a name") << Kind::Extraction
                                      << "echo 'Extracting from ***All OK****.rar'; echo 'Extracting  ***All OK****  OK '"
                                      << Outcome::Failed << none;
    QTest::newRow("all OK cut short") << Kind::Extraction << "printf '***All OK****'" << Outcome::Failed << none;
    QTest::newRow("damaged") << Kind::Extraction << "echo 'a.rar: bad'; echo 'Unexpected end of archive'; exit 2"
                             << Outcome::Damaged << none;
    QTest::newRow("damage in a name") << Kind::Extraction << "echo 'x/Unexpected end of archive'; exit 2"
                                      << Outcome::Failed << none;
    QTest::newRow("killed") << Kind::Extraction << "echo '***All OK****'; kill -KILL $$" << Outcome::Interrupted
                            << none;
    QTest::newRow("signalled") << Kind::Extraction << "exit 255" << Outcome::Interrupted << none;

    QTest::newRow("listing") << Kind::Listing
                             << "echo 'Unexpected end of archive'; echo '***All OK****'; echo 'How to Enter Password.txt'"
                             << Outcome::Succeeded
                             << QStringList{QStringLiteral("Unexpected end of archive"), QStringLiteral("***All OK****"),
                                            QStringLiteral("How to Enter Password.txt"), QString()};
    QTest::newRow("not an archive") << Kind::Listing << "echo 'x.rar: Unrecognized archive format'; exit 2"
                                    << Outcome::Failed << none;
    QTest::newRow("listing cut") << Kind::Listing << "echo a; echo 'Unexpected end of archive'; exit 2"
                                 << Outcome::Damaged << none;
    QTest::newRow("no helper") << Kind::Listing << "exec /nonexistent/unrar vb -v x.rar" << Outcome::HelperMissing
                               << none;

    // Hidden names: the dialogue is no entry.
    QTest::newRow("password accepted")
        << Kind::Listing
        << ask() + "echo 'The specified password is incorrect.'; " + ask() + "echo a.txt; echo b/c.txt"
        << Outcome::Succeeded << QStringList{QStringLiteral("a.txt"), QStringLiteral("b/c.txt"), QString()};
    QTest::newRow("password refused") << Kind::Listing
                                      << "for i in 1 2 3; do " + ask()
                                             + "echo 'The specified password is incorrect.'; done; "
                                               "echo 'Wrong password for x.rar'; exit 11"
                                      << Outcome::PasswordRefused << none;
}

void TestHelperRun::outcomes()
{
    QFETCH(Kind, kind);
    QFETCH(QString, script);
    QFETCH(Outcome, outcome);
    QFETCH(QStringList, entries);
    const Finished finished = runScript(kind, script, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QCOMPARE(finished.outcome, outcome);
    QCOMPARE(finished.entries, entries);
}

void TestHelperRun::promptOnlyWhenTheHelperWaits()
{
    // A name that reads like the prompt stays at the end of the output for a
    // while, but the helper does not wait for input: no prompt, and the name
    // is listed.
    Finished finished = runScript(Kind::Listing, QStringLiteral("printf '%1'; sleep 0.6; echo; echo b").arg(prompt));
    QCOMPARE(finished.prompts, 0);
    QCOMPARE(finished.outcome, Outcome::Succeeded);
    QCOMPARE(finished.entries, (QStringList{prompt, QStringLiteral("b"), QString()}));

    // The helper's prompt is answered once per prompt, and the answer is
    // what the helper reads.
    finished = runScript(Kind::Extraction,
                         ask() + "echo \"got $answer\"; " + ask() + "[ \"$answer\" = 'two words' ] && echo '***All OK****'",
                         {QStringLiteral("one"), QStringLiteral("two words")});
    QCOMPARE(finished.prompts, 2);
    QCOMPARE(finished.outcome, Outcome::Succeeded);
}

void TestHelperRun::startStopAndAbandon()
{
    HelperRun missing;
    QSignalSpy failed(&missing, &HelperRun::finished);
    missing.start(Kind::Extraction, QStringLiteral("/nonexistent/unrar"), {});
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.at(0).at(0).value<Outcome>(), Outcome::HelperMissing);

    // Stopped at the prompt: whatever the helper says on its way out.
    HelperRun run;
    QSignalSpy finished(&run, &HelperRun::finished);
    connect(&run, &HelperRun::passwordWanted, &run, &HelperRun::stop);
    run.start(Kind::Listing, QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("trap 'echo Unexpected end of archive; exit 2' TERM; ") + ask()
                                         + QStringLiteral("sleep 30")});
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).value<Outcome>(), Outcome::Stopped);
    QCOMPARE(run.takeEntries(), QStringList());

    // The outcome's receiver may delete the run, as a document closed
    // during its alert does.
    auto *owned = new HelperRun;
    QPointer<HelperRun> watch(owned);
    connect(owned, &HelperRun::finished, owned, [owned] { delete owned; });
    owned->start(Kind::Extraction, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")});
    QTRY_VERIFY(watch.isNull());

    // Abandoned: no outcome, and the helper goes.
    HelperRun abandoned;
    QSignalSpy ended(&abandoned, &HelperRun::finished);
    abandoned.start(Kind::Listing, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("sleep 30")});
    QTRY_VERIFY(abandoned.processId() > 0);
    const qint64 pid = abandoned.processId();
    abandoned.abandon();
    QVERIFY(!abandoned.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000); // ended and reaped
    QTest::qWait(100);
    QCOMPARE(ended.size(), 0);
}

void TestHelperRun::listingBounded()
{
    // A listing without end (short names, huge ones, from a helper deaf to
    // the stop) is stopped at its bound instead of filling the memory.
    const QStringList scripts = {
        QStringLiteral("exec yes"),
        QStringLiteral("exec yes \"$(head -c 100000 /dev/zero | tr '\\0' n)\""),
        QStringLiteral("trap '' TERM; exec yes"),
    };
    for (const QString &script : scripts) {
        QElapsedTimer timer;
        timer.start();
        const Finished finished = runScript(Kind::Listing, script);
        QCOMPARE(finished.outcome, Outcome::ListingTooLarge);
        QCOMPARE(finished.entries, QStringList());
        QVERIFY(timer.elapsed() < 15000);
    }
}

QTEST_GUILESS_MAIN(TestHelperRun)
#include "tst_helperrun.moc"
