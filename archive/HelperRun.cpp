#include "HelperRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
enum class InputWait { Yes, No, Unknown };

// Whether process `pid` is blocked reading its standard input. The helper
// reads standard input only for a password, right after printing the
// prompt, so this tells a real prompt from an entry name that merely looks
// like one and sits at the end of the output for a moment. The kernel shows
// the system call a process is blocked in, with its arguments, in
// /proc/PID/syscall; the helper is our child, so we may read it.
InputWait waitsOnStandardInput(qint64 pid)
{
    if (pid <= 0)
        return InputWait::Unknown;
    QFile file(QStringLiteral("/proc/%1/syscall").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return InputWait::Unknown;
    const QList<QByteArray> fields = file.read(256).trimmed().split(' ');
    if (fields.isEmpty() || fields.constFirst().isEmpty())
        return InputWait::Unknown;
    if (fields.constFirst() == "running")
        return InputWait::No;
    bool numeric = false;
    const long number = fields.constFirst().toLong(&numeric);
    if (!numeric)
        return InputWait::Unknown;
    bool hex = false;
    const qulonglong descriptor = fields.size() > 1 ? fields.at(1).toULongLong(&hex, 0) : 1;
    return number == SYS_read && hex && descriptor == STDIN_FILENO ? InputWait::Yes : InputWait::No;
}
} // namespace

HelperRun::Outcome HelperRun::outcomeOf(Kind kind, const Ending &ending)
{
    if (!ending.started)
        return Outcome::HelperMissing;
    // Stopped here, whatever the helper made of the stop.
    if (ending.listingTooLarge)
        return Outcome::ListingTooLarge;
    const bool exitedCleanly = ending.exitKnown && !ending.crashed;
    if (exitedCleanly && ending.exitCode == 0 && (kind != Kind::Extraction || ending.allOkLine))
        return Outcome::Succeeded;
    if (ending.stoppedByUser)
        return Outcome::Stopped;
    // A helper that closed its output but did not end gave no status: its
    // run cannot be trusted to have finished.
    if (!ending.exitKnown)
        return Outcome::Failed;
    // 255 is the helper's own answer to a signal.
    if (ending.crashed || ending.exitCode >= 128)
        return Outcome::Interrupted;
    // The listing goes through /bin/sh, whose statuses for a command that is
    // not found or cannot be run are these.
    if (kind == Kind::Listing && (ending.exitCode == 126 || ending.exitCode == 127))
        return Outcome::HelperMissing;
    if (ending.exitCode == 0)
        return Outcome::Failed; // an extraction without its success line
    if (ending.damagedLine)
        return Outcome::Damaged;
    if (kind != Kind::Extraction && ending.passwordRefused)
        return Outcome::PasswordRefused;
    return Outcome::Failed;
}

HelperRun::HelperRun(QObject *parent)
    : QObject(parent)
{
    m_promptWatch.setInterval(20);
    connect(&m_promptWatch, &QTimer::timeout, this, &HelperRun::checkPrompt);
}

HelperRun::~HelperRun()
{
    abandon(true);
}

bool HelperRun::start(Kind kind, const QString &program, const QStringList &arguments,
                      const QString &workingDirectory)
{
    if (m_process)
        return false;
    m_kind = kind;
    m_entries.clear();
    m_failedToStart = false;
    m_stoppedByUser = false;
    m_exitWaitOver = false;
    m_concluding = false;
    if (kind == Kind::Listing)
        m_reader.startListing();
    else if (kind == Kind::Details)
        m_reader.startDetails(m_takeLine);
    else
        m_reader.startExtraction();

    m_process = new QProcess(this);
    QProcess *process = m_process;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    if (!workingDirectory.isEmpty())
        process->setWorkingDirectory(workingDirectory);
    connect(process, &QProcess::readyReadStandardOutput, this, &HelperRun::readOutput);
    // The end of the output: the pipe closes when the helper is done; the
    // process's end covers a pipe kept open by something else.
    connect(process, &QProcess::readChannelFinished, this, &HelperRun::outputEnded);
    connect(process, &QProcess::finished, this, &HelperRun::outputEnded);
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == m_process) {
            m_failedToStart = true;
            outputEnded();
        }
    });
    m_sinceOutput.start();
    process->start(program, arguments);
    return true;
}

qint64 HelperRun::processId() const
{
    return m_process ? m_process->processId() : 0;
}

void HelperRun::readOutput()
{
    if (m_process && !m_concluding)
        readPiece(m_process->readAllStandardOutput());
}

void HelperRun::readPiece(const QByteArray &piece)
{
    if (piece.isEmpty())
        return;
    m_sinceOutput.restart();
    const OutputReader::Outcome outcome = m_reader.readPiece(piece);
    if (outcome.listingTooLarge) {
        // Nothing more is kept, but a helper that goes on printing keeps the
        // run from ending: it is killed if the stop does not end it soon.
        signalHelper(SIGTERM);
        QTimer::singleShot(2000, this, [this, process = m_process] {
            if (process == m_process && !m_concluding)
                signalHelper(SIGKILL);
        });
    }
    if (outcome.barChanged || outcome.entryChanged)
        emit progressChanged();
    if (outcome.atPromptLine && !m_concluding) {
        // Usually the helper is already waiting when its prompt arrives.
        m_promptWatch.start();
        checkPrompt();
    } else {
        m_promptWatch.stop();
    }
}

void HelperRun::checkPrompt()
{
    if (!m_process || m_concluding) {
        m_promptWatch.stop();
        return;
    }
    switch (waitsOnStandardInput(m_process->processId())) {
    case InputWait::No:
        return;
    case InputWait::Unknown:
        // Without the kernel's word, a prompt line that nothing has followed
        // for a while stands for a helper that waits.
        if (m_sinceOutput.elapsed() < kQuietPromptMs)
            return;
        break;
    case InputWait::Yes:
        break;
    }
    m_promptWatch.stop();
    m_reader.promptConfirmed();
    emit passwordWanted();
}

void HelperRun::sendPassword(const QString &password)
{
    // After the run has ended nobody reads the pipe: send nothing.
    if (m_process && m_process->state() == QProcess::Running && !m_concluding)
        m_process->write((password + QLatin1Char('\n')).toUtf8());
}

void HelperRun::stop()
{
    if (!m_process || m_concluding)
        return;
    m_stoppedByUser = true;
    signalHelper(SIGTERM);
}

void HelperRun::signalHelper(int signalNumber)
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    const qint64 pid = m_process->processId();
    if (pid <= 0 || ::kill(-pid_t(pid), signalNumber) != 0) {
        if (signalNumber == SIGKILL)
            m_process->kill();
        else
            m_process->terminate();
    }
}

void HelperRun::outputEnded()
{
    if (!m_process || m_concluding)
        return;
    // The pipe has closed, so the helper is on its way out: its status is
    // what tells success from failure. Wait for it without blocking the
    // window, but not for ever: something else may hold the pipe's far end.
    if (m_process->state() != QProcess::NotRunning && !m_failedToStart && !m_exitWaitOver) {
        QProcess *process = m_process;
        QTimer::singleShot(2000, this, [this, process] {
            if (process != m_process || m_exitWaitOver)
                return;
            m_exitWaitOver = true;
            outputEnded();
        });
        return;
    }
    m_concluding = true;
    m_promptWatch.stop();
    // Called from the process's own signals, which Qt goes on emitting after
    // this returns: the outcome's receiver may run a modal alert in which
    // this run and its process are deleted, so it must not run beneath them.
    QMetaObject::invokeMethod(this, &HelperRun::conclude, Qt::QueuedConnection);
}

void HelperRun::conclude()
{
    QProcess *process = m_process;
    if (!process || !m_concluding)
        return;
    // What came with the end still counts for the marker lines; no prompt
    // in it can be answered any more.
    m_reader.readPiece(process->readAll());

    Ending ending;
    ending.started = !m_failedToStart;
    ending.exitKnown = process->state() == QProcess::NotRunning;
    ending.crashed = process->exitStatus() == QProcess::CrashExit;
    ending.exitCode = process->exitCode();
    ending.stoppedByUser = m_stoppedByUser;
    ending.listingTooLarge = m_reader.listingTooLarge();
    ending.allOkLine = m_reader.allOkLine();
    ending.damagedLine = m_reader.damagedLine();
    ending.passwordRefused = m_reader.passwordRefused();
    releaseProcess(SIGTERM);

    const Outcome outcome = outcomeOf(m_kind, ending);
    if (m_kind == Kind::Listing) {
        QStringList entries = m_reader.finishListing();
        // A failed run's lines are its messages, never entries.
        if (outcome == Outcome::Succeeded)
            m_entries = std::move(entries);
    }
    m_reader.finishRun();
    emit finished(outcome); // last: the receiver may delete this run
}

void HelperRun::abandon(bool kill)
{
    m_promptWatch.stop();
    releaseProcess(kill ? SIGKILL : SIGTERM);
    m_reader.finishRun();
}

void HelperRun::releaseProcess(int signalNumber)
{
    if (!m_process)
        return;
    signalHelper(signalNumber);
    QProcess *process = std::exchange(m_process, nullptr);
    m_concluding = false;
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    // Deleting a running QProcess waits for it: let it go when it has ended,
    // or at the latest with the application (which then reaps it).
    process->setParent(QCoreApplication::instance());
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->closeWriteChannel();
}
