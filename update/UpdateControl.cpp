#include "UpdateControl.h"

#include "CurlOutput.h"
#include "DownloadLink.h"
#include "ResourceLocator.h"
#include "StringTable.h"
#include "UpdateDesktop.h"
#include "UpdateListFetcher.h"
#include "ui_Update.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace {
QString curlProgram = QStringLiteral("/usr/bin/curl");

// Enough of curl's output to hold its last error line.
constexpr qsizetype outputTailSize = 4096;

QString text(const char *key)
{
    return StringTable::text(QString::fromLatin1(key));
}

QString format(const char *key, const QStringList &arguments)
{
    return StringTable::format(QString::fromLatin1(key), arguments);
}

// Sizes are shown with one decimal, in the user's locale; the unit is part
// of the texts around them.
QString sizeText(double size)
{
    return QLocale().toString(size, 'f', 1);
}

// Some desktops add "&" shortcuts to button titles; the title still means
// the same state.
QString withoutShortcuts(QString title)
{
    return title.remove(QLatin1Char('&'));
}
}

UpdateControl::UpdateControl(UpdateDesktop *desktop, QObject *parent)
    : QObject(parent)
    , desktop(desktop ? desktop : UpdateDesktop::standard())
    , updateWindow(std::make_unique<QWidget>())
    , ui(std::make_unique<Ui::UpdateWindow>())
{
    ui->setupUi(updateWindow.get());
    changesView = ui->changesView;
    datesortie = ui->datesortie;
    progressUpdate = ui->progressUpdate;
    sysmini = ui->sysmini;
    taille = ui->taille;
    version = ui->version;
    status = ui->status;
    comm = ui->comm;
    title = ui->title;

    ui->labelVersion->setText(text("updateLabelVersion"));
    ui->labelDate->setText(text("updateLabelDate"));
    ui->labelSystem->setText(text("updateLabelSystem"));
    ui->labelSize->setText(text("updateLabelSize"));
    ui->labelNotes->setText(text("updateLabelNotes"));
    const QPixmap icon(ResourceLocator::find(QStringLiteral("images/vorlo.png")));
    if (icon.isNull())
        ui->icon->hide();
    else
        ui->icon->setPixmap(icon.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    connect(comm, &QPushButton::clicked, this, [this] { beginStopNow(comm); });
    updateWindow->installEventFilter(this);
}

UpdateControl::~UpdateControl()
{
    if (update) {
        update->disconnect(this);
        delete update;  // ends a curl still running
    }
}

QWidget *UpdateControl::window() const
{
    return updateWindow.get();
}

void UpdateControl::setCurlProgramForTesting(const QString &program)
{
    curlProgram = program.isEmpty() ? QStringLiteral("/usr/bin/curl") : program;
}

void UpdateControl::startUpdate(int)
{
    const std::optional<UpdateList> list = UpdateListFetcher::fetch();
    title->setText(text("updateControl12"));
    updateWindow->setWindowTitle(text("updateControl13"));
    if (!list) {
        desktop->alert(text("updateControl3"), text("updateControl4"));
        emit closeUpdate();
        return;
    }

    setIndeterminate(true);
    comm->setText(text("updateControl1"));
    comm->setEnabled(true);
    version->setText(list->lastVersion);
    datesortie->setText(list->dateSortie);
    sysmini->setText(list->sysMin);
    taille->setText(list->tailleTotale);
    totSize = list->totalSize();
    status->setText(format("updateControl5", {sizeText(totSize)}));
    link = list->link;

    // One line per note, each ending with a line feed; read-only and not
    // selectable afterwards.
    QString notes;
    for (const QString &line : list->notes)
        notes += line + QLatin1Char('\n');
    changesView->setPlainText(notes);
    changesView->setReadOnly(true);
    changesView->setTextInteractionFlags(Qt::NoTextInteraction);

    makeWinKey();
}

void UpdateControl::makeWinKey()
{
    QScreen *screen = updateWindow->screen() ? updateWindow->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = updateWindow->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        updateWindow->move(frame.topLeft());
    }
    updateWindow->show();
    updateWindow->raise();
    updateWindow->activateWindow();
}

bool UpdateControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == updateWindow.get() && event->type() == QEvent::Close && !windowShouldClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool UpdateControl::windowShouldClose()
{
    if (curlIsRunning()) {
        desktop->beep();
        return false;
    }
    // A dialog of this window, or a fetch for it, is still waiting for its end.
    if (sheetUp || UpdateListFetcher::isBusy())
        return false;
    emit closeUpdate();
    return true;
}

void UpdateControl::closeNow()
{
    updateWindow->hide();
    emit closeUpdate();
    desktop->openFolder(QFileInfo(path).absolutePath());
}

void UpdateControl::beginStopNow(QAbstractButton *sender)
{
    if (withoutShortcuts(sender->text()) != withoutShortcuts(text("updateControl1"))) {
        sender->setText(text("updateControl1"));
        setIndeterminate(true);
        endTransfer2();
        delete update;
        update = nullptr;
        return;
    }

    if (UpdateListFetcher::isBusy() || sheetUp)
        return;
    const std::optional<UpdateList> list = UpdateListFetcher::fetch();
    if (!list) {
        desktop->alert(text("updateControl3"), text("updateControl4"));
        emit closeUpdate();
        return;
    }
    sheetUp = true;
    QPointer<UpdateControl> self(this);
    desktop->chooseSavePath(updateWindow.get(), text("updateControl2"), DownloadLink::proposedFileName(list->link),
                            [self](int returnCode, const QString &chosenPath) {
                                if (!self)
                                    return;
                                self->sheetUp = false;
                                self->savePanelDidEnd(returnCode, chosenPath);
                            });
}

void UpdateControl::savePanelDidEnd(int returnCode, const QString &chosenPath)
{
    // The link was checked when the window was filled; an unfilled window
    // has none.
    if (returnCode != 1 || chosenPath.isEmpty() || curlIsRunning() || !DownloadLink::isAcceptable(link))
        return;

    comm->setText(text("updateControl6"));
    setIndeterminate(false);

    delete update;  // the previous, finished transfer
    update = new QProcess(this);
    path = chosenPath;
    curlSucceeded = false;
    curlFailure.clear();
    outputTail.clear();
    update->setProgram(curlProgram);
    // --fail: an HTTP error (a file no longer on the server) makes curl fail
    // instead of saving the server's error page as the new version.
    // --location: a download link that redirects (a mirror, a release page)
    // must give the file, not the redirect's own page. Redirects go to web
    // addresses only, never from https down to http, and not for ever.
    const QString redirectProtocols = link.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive)
                                          ? QStringLiteral("=https")
                                          : QStringLiteral("=http,https");
    update->setArguments({QStringLiteral("-#"), QStringLiteral("--fail"), QStringLiteral("--location"),
                          QStringLiteral("--max-redirs"), QStringLiteral("5"), QStringLiteral("--proto-redir"),
                          redirectProtocols, link, QStringLiteral("-o"), chosenPath});
    update->setProcessChannelMode(QProcess::MergedChannels);
    connect(update, &QProcess::readyRead, this, [this] { getData(update->readAll()); });
    connect(update, &QProcess::finished, this, &UpdateControl::curlFinished);
    connect(update, &QProcess::errorOccurred, this, &UpdateControl::curlFailedToStart);
    update->start(QIODevice::ReadOnly);
}

void UpdateControl::getData(const QByteArray &piece)
{
    if (piece.isEmpty()) {
        endTransfer();
        return;
    }
    outputTail += piece;
    if (outputTail.size() > outputTailSize)
        outputTail.remove(0, outputTail.size() - outputTailSize);

    if (const std::optional<double> percent = CurlOutput::percentage(piece)) {
        status->setText(format("updateControl10", {sizeText(*percent / 100 * totSize), sizeText(totSize)}));
        setProgress(*percent);
    }
}

void UpdateControl::curlFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    const QByteArray rest = update->readAll();
    if (!rest.isEmpty())
        getData(rest);

    curlSucceeded = exitStatus == QProcess::NormalExit && exitCode == 0;
    if (!curlSucceeded) {
        curlFailure = CurlOutput::errorMessage(outputTail);
        if (curlFailure.isEmpty())
            curlFailure = exitStatus == QProcess::NormalExit
                              ? QStringLiteral("curl: exit status %1").arg(exitCode)
                              : update->errorString();
    }
    getData(QByteArray());
}

void UpdateControl::curlFailedToStart(QProcess::ProcessError error)
{
    // Every other error is followed by finished().
    if (error != QProcess::FailedToStart)
        return;
    curlSucceeded = false;
    curlFailure = curlProgram + QStringLiteral(": ") + update->errorString();
    endTransfer();
}

void UpdateControl::endTransfer2()
{
    if (curlIsRunning()) {
        stopCurl(update);
        update = nullptr;
    }
    setProgress(100);
    status->setText(format("updateControl7", {sizeText(totSize)}));
}

void UpdateControl::stopCurl(QProcess *process)
{
    // Without waiting: the window must answer at once. curl ends on SIGTERM
    // and is killed if it does not; the process object goes when it has.
    process->disconnect(this);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->terminate();
    QTimer::singleShot(1000, process, [process] { process->kill(); });
}

void UpdateControl::endTransfer()
{
    endTransfer2();
    if (curlSucceeded)
        showSheet(UpdateDesktop::SheetKind::Done, text("updateControl8"), text("updateControl9"),
                  &UpdateControl::closeNow);
    else
        transferFailed(curlFailure);
}

void UpdateControl::transferFailed(const QString &detail)
{
    // Not the completion: the window stays, ready for another try, and the
    // folder is not opened. Whatever curl wrote stays where it is.
    comm->setText(text("updateControl1"));
    setIndeterminate(true);
    status->setText(text("updateFailed3"));
    update->deleteLater();  // we may be inside one of its signals
    update = nullptr;
    showSheet(UpdateDesktop::SheetKind::Failure, text("updateFailed1"), format("updateFailed2", {detail}), nullptr);
}

void UpdateControl::showSheet(UpdateDesktop::SheetKind kind, const QString &message, const QString &informative,
                              void (UpdateControl::*then)())
{
    sheetUp = true;
    QPointer<UpdateControl> self(this);
    desktop->sheet(updateWindow.get(), kind, message, informative, [self, then] {
        if (!self)
            return;
        self->sheetUp = false;
        if (then)
            (self->*then)();
    });
}

void UpdateControl::setIndeterminate(bool indeterminate)
{
    // A busy bar in Qt is the range 0..0; the value survives the switch.
    progressUpdate->setRange(0, indeterminate ? 0 : 1000);
}

void UpdateControl::setProgress(double percent)
{
    progressUpdate->setValue(qRound(percent * 10));
}

bool UpdateControl::curlIsRunning() const
{
    return update && update->state() != QProcess::NotRunning;
}
