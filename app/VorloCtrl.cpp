#include "VorloCtrl.h"

#include "AboutBox.h"
#include "MyDocument.h"
#include "StringTable.h"
#include "UpdateCheck.h"
#include "UpdateControl.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QTimer>

#include <utility>

namespace {

// Where the donation commands send the user. The account is ours and is
// written as plain e-mail; the address carries it percent-encoded.
constexpr char kDonationHost[] = "www.paypal.com";
constexpr char kDonationAccount[] = "donations@vorlo.example";

// Windows the user can reach: a visible one of these keeps Vorlo alive.
// Menus, tooltips and tool palettes come and go with their owners.
bool isReachableWindow(const QWidget *widget)
{
    if (!widget->isWindow())
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
    case Qt::Drawer:
        return true;
    default:
        return false;
    }
}

// Two spellings name the same archive when they resolve to the same file
// (symbolic links, "..", relative paths); a file that no longer exists is
// compared by its cleaned absolute path.
QString identityOf(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// The platform's keys for a standard command, always including the one
// every Linux desktop uses: some platform themes (and plain X11) define no
// binding at all for commands such as Quit.
QList<QKeySequence> shortcutsFor(QKeySequence::StandardKey command, const QKeySequence &usual)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(command);
    keys.removeAll(usual);
    keys.prepend(usual);
    return keys;
}

QString nameFilter(const char *key, const char *patterns)
{
    return QStringLiteral("%1 (%2)").arg(StringTable::text(QString::fromLatin1(key)),
                                         QString::fromLatin1(patterns));
}

} // namespace

VorloCtrl::VorloCtrl(QObject *parent)
    : QObject(parent)
    , urlOpener_([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    createActions();
    MyDocument::setWindowDecorator([this](QMainWindow *window) { decorateWindow(window); });
    // Windows are hidden as well as closed (the close item, the Trash,
    // alerts): watching every window is the only way to see the last go.
    qApp->installEventFilter(this);
}

VorloCtrl::~VorloCtrl()
{
    MyDocument::setWindowDecorator(nullptr);
    qApp->removeEventFilter(this);
    // Ends the helpers of documents whose windows were only hidden.
    const QList<QPointer<MyDocument>> documents = std::exchange(documents_, {});
    for (const QPointer<MyDocument> &document : documents) {
        if (!document)
            continue;
        QPointer<QMainWindow> window = document->window();
        delete document.data();
        delete window.data();
    }
}

void VorloCtrl::createActions()
{
    auto make = [this](const char *key, const char *name, auto slot) {
        auto *action = new QAction(StringTable::text(QString::fromLatin1(key)), this);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    aboutAction_ = make("appMenuAbout", "affAboutBox", &VorloCtrl::affAboutBox);
    aboutAction_->setMenuRole(QAction::AboutRole);
    checkForUpdateAction_ = make("appMenuCheckForUpdate", "checkForUpdate", &VorloCtrl::checkForUpdate);
    checkForUpdateAction_->setMenuRole(QAction::ApplicationSpecificRole);
    donateEuroAction_ = make("appMenuDonateEuro", "donateEuro", &VorloCtrl::donateEuro);
    donateDollarAction_ = make("appMenuDonateDollar", "donateDollar", &VorloCtrl::donateDollar);
    quitAction_ = make("appMenuQuit", "quit", &VorloCtrl::quit);
    quitAction_->setShortcuts(shortcutsFor(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    quitAction_->setMenuRole(QAction::QuitRole);
    openAction_ = make("appMenuOpen", "openDocument", &VorloCtrl::openDocument);
    openAction_->setShortcuts(shortcutsFor(QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O)));
    closeWindowAction_ = make("appMenuCloseWindow", "closeWindow", &VorloCtrl::closeWindow);
    closeWindowAction_->setShortcuts(shortcutsFor(QKeySequence::Close, QKeySequence(Qt::CTRL | Qt::Key_W)));
    // These keys also work in windows without the menu bar (the about box,
    // the update window).
    for (QAction *action : {quitAction_, openAction_, closeWindowAction_})
        action->setShortcutContext(Qt::ApplicationShortcut);
}

QMenuBar *VorloCtrl::createMenuBar(QWidget *parent)
{
    auto *bar = new QMenuBar(parent);
    QMenu *application = bar->addMenu(StringTable::text(QStringLiteral("appMenuApplication")));
    application->setObjectName(QStringLiteral("applicationMenu"));
    application->addAction(aboutAction_);
    application->addAction(checkForUpdateAction_);
    application->addSeparator();
    application->addAction(donateEuroAction_);
    application->addAction(donateDollarAction_);
    application->addSeparator();
    application->addAction(quitAction_);

    QMenu *file = bar->addMenu(StringTable::text(QStringLiteral("appMenuFile")));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(openAction_);
    file->addSeparator();
    file->addAction(closeWindowAction_);
    return bar;
}

void VorloCtrl::decorateWindow(QMainWindow *window)
{
    if (window)
        window->setMenuBar(createMenuBar(window));
}

void VorloCtrl::setUrlOpener(UrlOpener opener)
{
    urlOpener_ = std::move(opener);
}

void VorloCtrl::setFileChooser(FileChooser chooser)
{
    fileChooser_ = std::move(chooser);
}

void VorloCtrl::start(const QStringList &arguments)
{
    QStringList archives;
    for (const QString &argument : arguments) {
        const QString path = archivePathFromArgument(argument);
        if (!path.isEmpty())
            archives << path;
    }
    if (archives.isEmpty())
        archives = chooseArchives(nullptr);
    if (archives.isEmpty()) {
        // Nothing to show: a window-less Vorlo could not even be quit. An
        // archive handed over by another start while the chooser was up
        // has a window, though, and keeps Vorlo running.
        quitIfNoVisibleWindow();
        return;
    }
    openArchives(archives);
}

QString VorloCtrl::archivePathFromArgument(const QString &argument)
{
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(argument);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    return argument;
}

void VorloCtrl::openArchives(const QStringList &paths)
{
    QStringList unreadable;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile() && info.isReadable())
            openArchive(path);
        else
            unreadable << (info.fileName().isEmpty() ? path : info.fileName());
    }
    if (unreadable.isEmpty())
        return;
    // A name that is no archive file (a typing error, a folder, a file gone
    // since the file manager listed it) gets a message, not a window.
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vorlo"),
                                  StringTable::format(QStringLiteral("appCannotOpen1"),
                                                      {unreadable.join(QLatin1String(", "))}),
                                  QMessageBox::Ok);
    alert->setObjectName(QStringLiteral("cannotOpenAlert"));
    alert->setInformativeText(StringTable::text(QStringLiteral("appCannotOpen2")));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->show();
}

void VorloCtrl::openRequested(const QStringList &paths)
{
    if (!paths.isEmpty())
        openArchives(paths);
    else if (!choosing_)
        openDocument();
}

MyDocument *VorloCtrl::openArchive(const QString &path)
{
    if (path.isEmpty())
        return nullptr;
    if (MyDocument *open = documentForFile(path)) {
        if (open->fileUnchanged() || !open->window()) {
            open->showWindows();
            return open;
        }
        // The archive was moved away (to the Trash, say) or replaced since
        // it was listed: that window would show what is no longer there.
        open->window()->close();
    }

    const QFileInfo info(path);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    auto *document = new MyDocument(this);
    connect(document, &MyDocument::documentClosed, this, &VorloCtrl::forgetDocument);
    connect(document, &MyDocument::openWanted, this, &VorloCtrl::openArchives);
    if (!document->readFromFile(absolute, QMimeDatabase().mimeTypeForFile(absolute).name())) {
        delete document;
        return nullptr;
    }
    documents_ << document;
    lastFolder_ = info.absolutePath();
    document->showWindows();
    return document;
}

QList<MyDocument *> VorloCtrl::documents() const
{
    QList<MyDocument *> live;
    for (const QPointer<MyDocument> &document : documents_) {
        if (document)
            live << document.data();
    }
    return live;
}

MyDocument *VorloCtrl::documentForFile(const QString &path) const
{
    const QString wanted = identityOf(path);
    for (MyDocument *document : documents()) {
        if (identityOf(document->fileName()) == wanted)
            return document;
    }
    return nullptr;
}

void VorloCtrl::forgetDocument(MyDocument *document)
{
    documents_.removeAll(QPointer<MyDocument>(document));
    if (document)
        document->deleteLater();
    scheduleQuitCheck();
}

QStringList VorloCtrl::archiveNameFilters()
{
    return {
        nameFilter("appFilterRar", "*.rar *.cbr"),
        nameFilter("appFilterArchives",
                   "*.rar *.cbr *.r[0-9][0-9] *.zip *.cbz *.7z *.tar *.tar.gz *.tgz "
                   "*.tar.bz2 *.tbz2 *.tar.xz *.txz"),
        nameFilter("appFilterAll", "*"),
    };
}

QStringList VorloCtrl::chooseArchives(QWidget *parent)
{
    // While the chooser is up, no window hiding elsewhere may end Vorlo.
    const bool wasChoosing = choosing_;
    choosing_ = true;
    QStringList chosen;
    if (fileChooser_) {
        chosen = fileChooser_(parent);
    } else {
        QString filter = archiveNameFilters().constFirst();
        chosen = QFileDialog::getOpenFileNames(parent, StringTable::text(QStringLiteral("appOpenTitle")),
                                               lastFolder_, archiveNameFilters().join(QLatin1String(";;")),
                                               &filter);
    }
    choosing_ = wasChoosing;
    return chosen;
}

// About box ---------------------------------------------------------------

void VorloCtrl::affAboutBox()
{
    if (!aboutBox_) {
        aboutBox_ = new AboutBox(this);
        connect(aboutBox_, &AboutBox::windowDidBecomeKey, this, &VorloCtrl::windowDidBecomeKey);
        connect(aboutBox_, &AboutBox::windowDidResignKey, this, &VorloCtrl::windowDidResignKey);
    }
    aboutBox_->showBox();
}

void VorloCtrl::windowDidBecomeKey()
{
    if (aboutBox_)
        aboutBox_->startScrolling();
}

void VorloCtrl::windowDidResignKey()
{
    if (aboutBox_)
        aboutBox_->stopScrolling();
}

// Update check ------------------------------------------------------------

void VorloCtrl::checkForUpdate()
{
    // The one update window of the run (uploadCenter) is this controller's
    // child: made on the first accepted offer, brought forward afterwards.
    UpdateControl *uploadCenter = findChild<UpdateControl *>(QString(), Qt::FindDirectChildrenOnly);
    UpdateCheck().run(uploadCenter, this);
}

// Donations and quitting --------------------------------------------------

QUrl VorloCtrl::donationUrl(const QString &currencyCode)
{
    const QString account = QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(kDonationAccount)));
    const QString address = QStringLiteral("https://") + QLatin1String(kDonationHost)
                            + QStringLiteral("/xclick/business=") + account
                            + QStringLiteral("&item_name=Vorlo&no_note=1&tax=0&currency_code=") + currencyCode;
    return QUrl(address, QUrl::StrictMode);
}

void VorloCtrl::donateEuro()
{
    urlOpener_(donationUrl(QStringLiteral("EUR")));
}

void VorloCtrl::donateDollar()
{
    urlOpener_(donationUrl(QStringLiteral("USD")));
}

void VorloCtrl::quit()
{
    // Each document window closes as if the user had closed it, which tells
    // its helper to stop and clean up. Then the loop ends directly: Qt's own
    // quit first closes every window and gives up when one refuses (a
    // progress sheet stops its run instead of closing; the update window
    // refuses while curl runs), and Quit must end Vorlo all the same.
    for (MyDocument *document : documents()) {
        if (QMainWindow *window = document->window())
            window->close();
    }
    QCoreApplication::exit(0);
}

// File menu ---------------------------------------------------------------

void VorloCtrl::openDocument()
{
    if (choosing_)
        return;
    openArchives(chooseArchives(QApplication::activeWindow()));
    // The chooser may have been the last window (a Vorlo whose windows were
    // hidden meanwhile).
    scheduleQuitCheck();
}

void VorloCtrl::closeWindow()
{
    if (QWidget *window = QApplication::activeWindow())
        window->close();
}

// Quitting when the last window goes ---------------------------------------

bool VorloCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Hide || event->type() == QEvent::Close) && watched->isWidgetType()
        && isReachableWindow(static_cast<QWidget *>(watched))) {
        scheduleQuitCheck();
    }
    return QObject::eventFilter(watched, event);
}

void VorloCtrl::scheduleQuitCheck()
{
    // Judged once the events in flight are done: a window that is hidden
    // and shown again at once (or closed and replaced) is no reason to go.
    if (quitCheckPending_)
        return;
    quitCheckPending_ = true;
    QTimer::singleShot(0, this, [this] {
        quitCheckPending_ = false;
        quitIfNoVisibleWindow();
    });
}

void VorloCtrl::quitIfNoVisibleWindow()
{
    if (choosing_)
        return;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window->isVisible() && isReachableWindow(window))
            return;
    }
    quit();
}
