#pragma once

#include "UpdateDesktop.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <memory>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
namespace Ui {
class UpdateWindow;
}

// The update window: the details and release notes of the version on offer,
// and its download with curl.
//
// There is one per run of the application, made on the first accepted offer
// and kept until the end. Its single button starts a download (a save
// dialog, then "/usr/bin/curl -# <link> -o <path>") and stops it again; the
// button's title is the download state. curl's progress bar drives the
// status line and the progress bar. A finished download hides the window and
// shows its folder; a failed one says so and leaves the window ready to try
// again.
class UpdateControl : public QObject
{
    Q_OBJECT

public:
    explicit UpdateControl(UpdateDesktop *desktop = nullptr, QObject *parent = nullptr);
    ~UpdateControl() override;

    // Fetches the update list once more, fills the window from it and brings
    // it up. When the list cannot be read: an alert, closeUpdate, and the
    // window stays hidden and unfilled, its button disabled. The argument is
    // not used.
    void startUpdate(int unused);

    // Centres the window on its screen and brings it to the front, as it is.
    void makeWinKey();

    QWidget *window() const;

    // The program started for a download, "/usr/bin/curl" unless a test
    // needs a missing one.
    static void setCurlProgramForTesting(const QString &program);

public slots:
    // The button: starts a download when its title is the "download" text,
    // stops the running one otherwise.
    void beginStopNow(QAbstractButton *sender);

    // The end of the save dialog: on 1 (confirmed), curl starts writing to
    // `chosenPath`.
    void savePanelDidEnd(int returnCode, const QString &chosenPath);

signals:
    // The window went away: closed by the user, hidden after a download, or
    // not shown because the update list could not be read.
    void closeUpdate();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool windowShouldClose();
    void closeNow();
    void getData(const QByteArray &piece);
    void curlFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void curlFailedToStart(QProcess::ProcessError error);
    void endTransfer2();
    void stopCurl(QProcess *process);
    void endTransfer();
    void transferFailed(const QString &detail);
    void showSheet(UpdateDesktop::SheetKind kind, const QString &message, const QString &informative,
                   void (UpdateControl::*then)());
    void setIndeterminate(bool indeterminate);
    void setProgress(double percent);
    bool curlIsRunning() const;

    UpdateDesktop *desktop;
    std::unique_ptr<QWidget> updateWindow;
    std::unique_ptr<Ui::UpdateWindow> ui;

    // The window's views.
    QPlainTextEdit *changesView;
    QLabel *datesortie;
    QProgressBar *progressUpdate;  // in tenths of a percent
    QLabel *sysmini;
    QLabel *taille;
    QLabel *version;
    QLabel *status;
    QPushButton *comm;
    QLabel *title;

    double totSize = 0;
    QString link;
    QString path;
    QProcess *update = nullptr;

    bool sheetUp = false;
    bool curlSucceeded = false;
    QString curlFailure;
    QByteArray outputTail;  // the end of curl's output, for its error message
};
