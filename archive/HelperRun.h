#pragma once

#include "OutputReader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QProcess;

// One run of the unrar helper, from its start to its outcome: the process,
// its merged output read through an OutputReader, the password dialogue,
// the stop, and the exit status that, with the marker lines, decides how
// the run ended.
//
// The outcome is delivered from the event loop, never from within the
// process's own signals: whoever receives it may open a modal alert, and the
// run (with its process) may be deleted while that alert is up.
class HelperRun : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Listing, Details, Extraction };

    enum class Outcome {
        Succeeded,       // exit status 0 (and, extracting, the success line)
        Failed,          // any other end the helper came to by itself
        Damaged,         // the damage line, from a run that failed
        PasswordRefused, // a listing whose last password was refused
        ListingTooLarge, // stopped here: the listing went past its bounds
        Stopped,         // stopped at the user's request
        Interrupted,     // ended by a signal from outside
        HelperMissing,   // the helper could not be started
    };

    // What a run left behind, from which its outcome follows.
    struct Ending
    {
        bool started = true;
        bool exitKnown = true; // the helper has ended and its status was read
        bool crashed = false;
        int exitCode = 0;
        bool stoppedByUser = false;
        bool listingTooLarge = false;
        bool allOkLine = false;
        bool damagedLine = false;
        bool passwordRefused = false;
    };
    static Outcome outcomeOf(Kind kind, const Ending &ending);

    explicit HelperRun(QObject *parent = nullptr);
    // Kills a run still under way.
    ~HelperRun() override;

    // Starts `program`; the process gets a group of its own, so that a stop
    // reaches the helper and not only a shell that started it. Refused
    // (false) while a run is under way.
    bool start(Kind kind, const QString &program, const QStringList &arguments,
               const QString &workingDirectory = QString());

    // For a Details run: receives each line of the output as it ends.
    void setLineTaker(std::function<void(QByteArrayView)> takeLine) { m_takeLine = std::move(takeLine); }

    // Answers the prompt with one line; nothing is sent once the helper has
    // ended.
    void sendPassword(const QString &password);
    // Asks the helper to stop; the run then ends with Stopped.
    void stop();
    // Ends the run now, without an outcome: the helper is signalled and its
    // process is reaped once it has gone.
    void abandon(bool kill = false);

    bool isRunning() const { return m_process != nullptr; }
    qint64 processId() const;
    Kind kind() const { return m_kind; }
    const OutputReader &reader() const { return m_reader; }
    // The entries of a listing that Succeeded, once.
    QStringList takeEntries() { return std::exchange(m_entries, {}); }

    // How long the output must stay quiet at a prompt line before it counts
    // as a prompt, where the helper's state cannot be read.
    static constexpr int kQuietPromptMs = 150;

signals:
    // The helper waits at its password prompt: answer with sendPassword.
    void passwordWanted();
    // reader().barValue(), barDeterminate() or currentEntry() moved.
    void progressChanged();
    void finished(HelperRun::Outcome outcome);

private:
    void readOutput();
    void readPiece(const QByteArray &piece);
    void checkPrompt();
    void outputEnded();
    void conclude();
    void signalHelper(int signalNumber);
    void releaseProcess(int signalNumber);

    Kind m_kind = Kind::Listing;
    QProcess *m_process = nullptr;
    OutputReader m_reader;
    QStringList m_entries;
    std::function<void(QByteArrayView)> m_takeLine;
    bool m_failedToStart = false;
    bool m_stoppedByUser = false;
    bool m_exitWaitOver = false;
    bool m_concluding = false;
    QTimer m_promptWatch;          // polls the helper while the output ends at a prompt line
    QElapsedTimer m_sinceOutput;   // time since the last output
};
