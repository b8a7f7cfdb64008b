#include "MyDocument.h"

#include "DocumentToolbar.h"
#include "EntryRowDelegate.h"
#include "EntryTableView.h"
#include "EntryTableModel.h"
#include "ExtractionFolder.h"
#include "ListingCommand.h"
#include "PasswordWindow.h"
#include "ProgressWindow.h"
#include "ResourceLocator.h"
#include "StatusLine.h"
#include "StringTable.h"
#include "ui_MyDocument.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QShortcut>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QWindow>

#include <sys/stat.h>
#include <utility>
#include <sys/types.h>
#include <unistd.h>

namespace {
std::function<void(QMainWindow *)> &windowDecorator()
{
    static std::function<void(QMainWindow *)> decorator;
    return decorator;
}

std::function<void(QDrag *)> &dragRunner()
{
    static std::function<void(QDrag *)> runner;
    return runner;
}

// Long enough for a file opened or dragged out to come without a window
// flashing by; a longer extraction shows its progress.
constexpr int kQuietExtractionMs = 600;

// The local files among dropped URLs, or nothing when any is not one.
QStringList droppedFiles(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    QStringList files;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

std::function<QString(QWidget *)> &folderChooser()
{
    static std::function<QString(QWidget *)> chooser;
    return chooser;
}

QString chooseFolder(QWidget *window)
{
    if (folderChooser())
        return folderChooser()(window);
    QFileDialog dialog(window);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Our own dialog, so that the confirm button shows our text.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Extraire ici"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

// The file's device, inode, size and modification time; empty when it
// cannot be read.
QByteArray fileStamp(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino)) + ':'
           + QByteArray::number(qint64(info.st_size)) + ':' + QByteArray::number(qint64(info.st_mtim.tv_sec))
           + '.' + QByteArray::number(qint64(info.st_mtim.tv_nsec));
}

bool isInsideTrash(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.contains(QLatin1String("/Trash/files/")) || clean.contains(QLatin1String("/.Trash-"))
           || clean.contains(QLatin1String("/.Trash/"));
}
} // namespace

MyDocument::MyDocument(QObject *parent)
    : QObject(parent)
    , m_passwordWin(new PasswordWindow(nullptr))
    , m_model(new EntryTableModel(this))
    , m_run(new HelperRun(this))
    , m_detailsRun(new HelperRun(this))
{
    m_detailsRun->setLineTaker([this](QByteArrayView line) { m_details.addLine(line); });
    connect(m_detailsRun, &HelperRun::finished, this, &MyDocument::finishDetails);
    connect(m_detailsRun, &HelperRun::passwordWanted, this, &MyDocument::answerDetailsPrompt);
    connect(m_run, &HelperRun::passwordWanted, this, &MyDocument::answerPasswordPrompt);
    connect(m_run, &HelperRun::progressChanged, this, &MyDocument::updateProgress);
    connect(m_run, &HelperRun::finished, this, &MyDocument::runFinishedWith);
    connect(m_passwordWin, &PasswordWindow::confirmed, this, &MyDocument::validatePassword);
    connect(m_passwordWin, &PasswordWindow::cancelled, this, &MyDocument::cancelPassword);
}

MyDocument::~MyDocument()
{
    m_run->abandon(true);
    m_detailsRun->abandon(true);
    // The window's teardown sends events to its children: the filter must
    // not look at them (nor at m_ui) while they are being destroyed.
    if (m_main)
        m_main->removeEventFilter(this);
    if (m_ui)
        m_ui->listView->removeEventFilter(this);
    delete m_passwordWin;
    delete std::exchange(m_main, nullptr);
    delete std::exchange(m_ui, nullptr);
}

void MyDocument::setWindowDecorator(std::function<void(QMainWindow *)> decorator)
{
    windowDecorator() = std::move(decorator);
}

QString MyDocument::helperPath()
{
    const QString path = ResourceLocator::find(QStringLiteral("unrar"));
    if (path.isEmpty() || !QFileInfo(path).isExecutable())
        return {};
    return path;
}

bool MyDocument::readFromFile(const QString &fileName, const QString &docType)
{
    Q_UNUSED(docType);
    m_fileName = QFileInfo(fileName).absoluteFilePath();
    m_fileStamp = fileStamp(m_fileName);
    const QFileInfo archive(m_fileName);
    const QString helper = helperPath();
    if (helper.isEmpty()) {
        m_action = Action::Listing;
        // Report it once the outcome can be seen, like any other listing end.
        QMetaObject::invokeMethod(this, [this] { finishListing(HelperRun::Outcome::HelperMissing); },
                                  Qt::QueuedConnection);
        return true;
    }
    startRun(Action::Listing, QStringLiteral("/bin/sh"),
             {QStringLiteral("-c"), ListingCommand::build(helper, archive.fileName())},
             archive.absolutePath());
    return true;
}

QMainWindow *MyDocument::window() const
{
    return m_main;
}

QString MyDocument::fileName() const
{
    return m_fileName;
}

bool MyDocument::fileUnchanged() const
{
    return !m_fileStamp.isEmpty() && fileStamp(m_fileName) == m_fileStamp;
}

const QList<EntryRow> &MyDocument::rows() const
{
    return m_model->rows();
}

qint64 MyDocument::helperProcessId() const
{
    return m_run->processId();
}

QString MyDocument::statusText() const
{
    const QString items = StatusLine::text(EntryRows::itemCount(m_model->rows()));
    const qint64 total = m_details.usable() ? EntryRows::totalSize(m_model->rows()) : -1;
    if (total < 0)
        return items;
    return StringTable::format(QStringLiteral("MyDocumentStatusSize"), {items, EntryTableModel::sizeText(total)});
}

void MyDocument::showWindows()
{
    if (!m_main)
        createWindow();
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
    showPendingAlert();
}

bool MyDocument::windowOnScreen() const
{
    return m_main && m_main->isVisible() && m_main->windowHandle() && m_main->windowHandle()->isExposed();
}

void MyDocument::showPendingAlert()
{
    if (!m_pendingAlert || !m_main || !m_main->isVisible())
        return;
    // A sheet is centred on its window: until the window manager has placed
    // the new window and it is on screen, the sheet would land where the
    // window was made, away from it. Wait for the window to be exposed.
    if (windowOnScreen()) {
        std::exchange(m_pendingAlert, nullptr)();
        return;
    }
    watchForExposure();
}

void MyDocument::watchForExposure()
{
    m_main->windowHandle()->removeEventFilter(this);
    m_main->windowHandle()->installEventFilter(this);
}

void MyDocument::createWindow()
{
    m_main = new QMainWindow;
    m_ui = new Ui::MyDocumentWindow;
    m_ui->setupUi(m_main);
    m_main->setWindowTitle(QFileInfo(m_fileName).fileName());
    m_main->setWindowFilePath(m_fileName);

    QTableView *table = m_ui->listView;
    table->setModel(m_model);
    table->setIconSize(QSize(16, 16));
    table->setItemDelegate(new EntryRowDelegate(table));
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(EntryTableModel::IconColumn, QHeaderView::Fixed);
    header->resizeSection(EntryTableModel::IconColumn, 28);
    // Fixed widths: fitting a column to its contents would measure every
    // row of a folder of a hundred thousand files.
    header->setSectionResizeMode(EntryTableModel::NameColumn, QHeaderView::Stretch);
    header->resizeSection(EntryTableModel::SizeColumn, 90);
    header->resizeSection(EntryTableModel::PackedColumn, 90);
    header->resizeSection(EntryTableModel::ModifiedColumn, 150);
    header->setSectionResizeMode(EntryTableModel::LockColumn, QHeaderView::Fixed);
    header->resizeSection(EntryTableModel::LockColumn, 28);
    header->setHighlightSections(false);
    // Archive order until a header is clicked.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    table->setSortingEnabled(true);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(22);
    connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        activateRow(index.row());
    });
    connect(m_ui->listView, &EntryTableView::dragWanted, this, &MyDocument::dragSelection);
    connect(table, &QWidget::customContextMenuRequested, this, &MyDocument::showTableMenu);
    // Archives dropped anywhere on the window are opened; the table only
    // gives rows away.
    m_main->setAcceptDrops(true);
    table->installEventFilter(this);
    m_main->installEventFilter(this);
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)}) {
        auto *shortcut = new QShortcut(keys, m_main);
        connect(shortcut, &QShortcut::activated, this, &MyDocument::goUp);
    }
    showWhereWeAre();
    m_ui->statutArchive->setText(statusText());

    if (!m_passwordWin->isVisible())
        m_passwordWin->setParent(m_main, m_passwordWin->windowFlags());

    setupToolbar();
    if (windowDecorator())
        windowDecorator()(m_main);
}

void MyDocument::setupToolbar()
{
    m_toolbar = new DocumentToolbar(m_main);
    m_main->addToolBar(Qt::TopToolBarArea, m_toolbar);
    connect(m_toolbar, &DocumentToolbar::commandTriggered, this, [this](ToolbarItems::Command command) {
        switch (command) {
        case ToolbarItems::Command::ExtractNow:
            extractNow();
            break;
        case ToolbarItems::Command::ExtractNowTo:
            extractNowTo();
            break;
        case ToolbarItems::Command::CloseNow:
            closeNow();
            break;
        case ToolbarItems::Command::Trash:
            placerDansLaCorbeille();
            break;
        case ToolbarItems::Command::None:
            break;
        }
    });
}

void MyDocument::setFolderChooserForTesting(std::function<QString(QWidget *)> chooser)
{
    folderChooser() = std::move(chooser);
}

void MyDocument::refuse()
{
    QApplication::beep();
    emit commandRefused();
}

void MyDocument::extractNow()
{
    const QString beside = ToolbarItems::folderOf(m_fileName);
    const QStringList selected = selectedPaths();
    const int items =
        selected.isEmpty() ? EntryRows::itemCount(EntryRows::build(m_listeFichiers, 0, QString())) : selected.size();
    if (!DocumentToolbar::extractsIntoFolder() || m_run->isRunning() || m_closed || items <= 1) {
        launchExtractionTo(beside, selected);
        return;
    }
    // Several items would mix with what lies beside the archive: they go
    // into a new folder of their own.
    const QString folder =
        ExtractionFolder::freePath(beside, ExtractionFolder::baseName(QFileInfo(m_fileName).fileName()));
    if (!QDir().mkdir(folder)) {
        showAppAlert(QStringLiteral("MyDocument1"), QStringLiteral("MyDocumentFolderNotMade"));
        return;
    }
    launchExtractionTo(folder, selected);
}

void MyDocument::extractNowTo()
{
    // The selection as it was when the command was given.
    const QStringList selected = selectedPaths();
    const QString folder = chooseFolder(m_main);
    if (!folder.isEmpty())
        launchExtractionTo(QDir::cleanPath(folder), selected);
}

QStringList MyDocument::selectedPaths() const
{
    if (!m_ui || !m_ui->listView->selectionModel())
        return {};
    QList<int> rows;
    for (const QModelIndex &index : m_ui->listView->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList paths;
    for (const int row : std::as_const(rows)) {
        if (row < 0 || row >= m_model->rows().size())
            continue;
        const EntryRow &entry = m_model->rows().at(row);
        if (entry.kind != EntryRow::Kind::Parent)
            paths << EntryRows::childPath(m_prefixePath, entry.name);
    }
    return paths;
}

QString MyDocument::temporaryFolder() const
{
    return m_temporary ? m_temporary->path() : QString();
}

void MyDocument::setDragRunnerForTesting(std::function<void(QDrag *)> runner)
{
    dragRunner() = std::move(runner);
}

QString MyDocument::newTemporaryFolder()
{
    if (!m_temporary) {
        m_temporary = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("vorlo-XXXXXX")));
        if (!m_temporary->isValid()) {
            m_temporary.reset();
            return {};
        }
    }
    // A folder per run: a file opened earlier may still be open in its
    // application, and names from different folders of the archive may
    // be the same.
    const QString folder = m_temporary->filePath(QString::number(++m_temporaryFolders));
    return QDir().mkdir(folder) ? folder : QString();
}

void MyDocument::activateRow(int row)
{
    if (row < 0 || row >= m_model->rows().size())
        return;
    if (m_model->rows().at(row).kind == EntryRow::Kind::File)
        openEntry(row);
    else
        changeLevel(row);
}

void MyDocument::openEntry(int row)
{
    if (row < 0 || row >= m_model->rows().size() || m_model->rows().at(row).kind != EntryRow::Kind::File)
        return;
    if (m_run->isRunning() || m_closed) {
        refuse();
        return;
    }
    const QString path = EntryRows::childPath(m_prefixePath, m_model->rows().at(row).name);
    const QString folder = newTemporaryFolder();
    if (folder.isEmpty()) {
        showAppAlert(QStringLiteral("MyDocument1"), QStringLiteral("MyDocumentNoTemporaryFolder"));
        return;
    }
    extract(folder, {path}, Then::Open, {QDir(folder).filePath(path)});
}

void MyDocument::dragSelection()
{
    const QStringList paths = selectedPaths();
    if (paths.isEmpty())
        return;
    if (m_run->isRunning() || m_closed) {
        refuse();
        return;
    }
    const QString folder = newTemporaryFolder();
    if (folder.isEmpty()) {
        showAppAlert(QStringLiteral("MyDocument1"), QStringLiteral("MyDocumentNoTemporaryFolder"));
        return;
    }
    QStringList files;
    for (const QString &path : paths)
        files << QDir(folder).filePath(path);
    extract(folder, paths, Then::Drag, files);
}

void MyDocument::afterExtraction()
{
    const Then then = std::exchange(m_then, Then::Nothing);
    const QStringList files = std::exchange(m_thenFiles, {});
    if (then == Then::Open) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(files.value(0))))
            showAppAlert(QStringLiteral("MyDocumentNotOpened1"), QStringLiteral("MyDocumentNotOpened2"));
    } else if (then == Then::Drag && m_ui) {
        QList<QUrl> urls;
        for (const QString &file : files)
            urls << QUrl::fromLocalFile(file);
        auto *data = new QMimeData;
        data->setUrls(urls);
        auto *drag = new QDrag(m_ui->listView);
        drag->setMimeData(data);
        const QModelIndex current = m_ui->listView->currentIndex();
        const QIcon icon = current.isValid()
                               ? m_model->data(m_model->index(current.row(), EntryTableModel::IconColumn),
                                               Qt::DecorationRole).value<QIcon>()
                               : QIcon();
        if (!icon.isNull())
            drag->setPixmap(icon.pixmap(32, 32));
        // Started once the files exist. When the button was let go during a
        // long extraction, the files follow the pointer until the next click.
        if (dragRunner())
            dragRunner()(drag);
        else
            drag->exec(Qt::CopyAction, Qt::CopyAction);
        drag->deleteLater();
    }
}

void MyDocument::showTableMenu(const QPoint &position)
{
    if (!m_ui)
        return;
    QTableView *table = m_ui->listView;
    QMenu menu(table);
    menu.setObjectName(QStringLiteral("tableMenu"));
    const QModelIndex index = table->indexAt(position).isValid() ? table->indexAt(position) : table->currentIndex();
    const int row = index.row();
    QAction *open = menu.addAction(StringTable::text(QStringLiteral("MyDocumentOpenEntry")), this,
                                   [this, row] { activateRow(row); });
    open->setObjectName(QStringLiteral("openEntry"));
    open->setEnabled(row >= 0);
    menu.addAction(StringTable::text(QStringLiteral("MyDocument5")), this, &MyDocument::extractNow);
    menu.addAction(StringTable::text(QStringLiteral("MyDocument7")), this, &MyDocument::extractNowTo);
    menu.addAction(StringTable::text(QStringLiteral("MyDocument12")), this, &MyDocument::placerDansLaCorbeille);
    // The toolbar's own menu, which a keyboard cannot otherwise reach.
    if (m_toolbar) {
        menu.addSeparator();
        m_toolbar->fillContextMenu(menu);
    }
    menu.exec(table->viewport()->mapToGlobal(position));
}

bool MyDocument::handleDrop(QEvent *event)
{
    auto *drop = static_cast<QDropEvent *>(event);
    // Rows dragged out of this very window are no archives to open.
    const auto *source = qobject_cast<const QWidget *>(drop->source());
    const QStringList files = source && source->window() == m_main ? QStringList() : droppedFiles(drop->mimeData());
    if (files.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop)
        QMetaObject::invokeMethod(this, [this, files] { emit openWanted(files); }, Qt::QueuedConnection);
    return true;
}

void MyDocument::placerDansLaCorbeille()
{
    if (trashWithPath(m_fileName))
        closeNow();
    else
        refuse();
}

bool MyDocument::trashWithPath(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    const QString source = QFileInfo(path).absoluteFilePath();
    // Without the data folder Qt reports success yet moves the file into
    // ./files/ under the current folder: make sure the folder is there.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return false;
    QString pathInTrash;
    if (!QFile::moveToTrash(source, &pathInTrash))
        return false;
    if (!pathInTrash.isEmpty() && QFileInfo::exists(pathInTrash) && isInsideTrash(pathInTrash))
        return true;
    // A false success: bring the archive back where it was.
    if (!pathInTrash.isEmpty() && QFileInfo::exists(pathInTrash) && !QFileInfo::exists(source))
        QFile::rename(pathInTrash, source);
    return false;
}

bool MyDocument::eventFilter(QObject *watched, QEvent *event)
{
    if (m_main && watched == m_main->windowHandle() && event->type() == QEvent::Expose
        && (m_pendingAlert || m_passwordPending)) {
        // Once the exposure has been handled, so that the window has its place.
        QMetaObject::invokeMethod(this, [this] {
            showPendingAlert();
            if (std::exchange(m_passwordPending, false) && isRunning())
                placeAndShowPasswordWindow();
        }, Qt::QueuedConnection);
        return false;
    }
    if (m_main && watched == m_main && event->type() == QEvent::Close) {
        windowWillClose();
        return false;
    }
    if (m_main && watched == m_main
        && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop))
        return handleDrop(event);
    if (m_ui && watched == m_ui->listView && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            activateRow(m_ui->listView->currentIndex().row());
            return true;
        }
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            const QModelIndex current = m_ui->listView->currentIndex();
            showTableMenu(current.isValid() ? m_ui->listView->visualRect(current).center() : QPoint(0, 0));
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// --- Helper runs -------------------------------------------------------------

void MyDocument::startRun(Action action, const QString &program, const QStringList &arguments,
                          const QString &workingDirectory)
{
    m_action = action;
    m_run->start(action == Action::Listing ? HelperRun::Kind::Listing : HelperRun::Kind::Extraction, program,
                 arguments, workingDirectory);
}

void MyDocument::runFinishedWith(HelperRun::Outcome outcome)
{
    m_passwordPending = false;
    m_passwordWin->hide(); // nobody waits for a password any more
    if (m_action == Action::Listing)
        finishListing(outcome);
    else
        finishExtraction(outcome);
}

void MyDocument::finishListing(HelperRun::Outcome outcome)
{
    using Outcome = HelperRun::Outcome;
    // Only a listing that succeeded is the archive's contents: the lines of
    // any other run are the helper's messages, or a partial list.
    m_listeFichiers = outcome == Outcome::Succeeded ? m_run->takeEntries() : QStringList();
    m_level = 0;
    m_prefixePath.clear();
    m_details.clear();
    updateFilterArray();
    if (outcome == Outcome::Succeeded && !m_listeFichiers.isEmpty())
        startDetails();
    // An archive that cannot be read at all leaves nothing to do in its
    // window, which goes once the alert is answered. So does one whose
    // password was refused three times: an empty window would pass for an
    // empty archive, and opening it again gives three more tries. A listing
    // ended from outside or too large to hold says nothing against the
    // archive: its window stays, to open again or to extract from.
    const auto closeAfter = [this] { closeWinNow(); };
    switch (outcome) {
    case Outcome::Succeeded:
    case Outcome::Stopped:
        break;
    case Outcome::HelperMissing:
        showSheetAlert(QStringLiteral("MyDocumentHelper1"), QStringLiteral("MyDocumentHelper2"), nullptr);
        break;
    case Outcome::Interrupted:
        showSheetAlert(QStringLiteral("MyDocumentHelper3"), QStringLiteral("MyDocumentHelper4"), nullptr);
        break;
    case Outcome::ListingTooLarge:
        showSheetAlert(QStringLiteral("MyDocumentTooLarge1"), QStringLiteral("MyDocumentTooLarge2"), nullptr);
        break;
    case Outcome::Damaged:
        showSheetAlert(QStringLiteral("MyDocument23"), QStringLiteral("MyDocument24"), closeAfter);
        break;
    case Outcome::PasswordRefused:
        showSheetAlert(QStringLiteral("MyDocumentPassword1"), QStringLiteral("MyDocumentPassword2"), closeAfter);
        break;
    case Outcome::Failed:
        showSheetAlert(QStringLiteral("MyDocumentUnreadable1"), QStringLiteral("MyDocumentUnreadable2"),
                       closeAfter);
        break;
    }
    emit runFinished(Action::Listing);
}

void MyDocument::finishExtraction(HelperRun::Outcome outcome)
{
    using Outcome = HelperRun::Outcome;
    if (m_avancementWin)
        m_avancementWin->hide();
    m_nameList.reset();
    m_selectionRun = false;
    if (outcome != Outcome::Succeeded)
        m_then = Then::Nothing;
    bool alive = true;
    if (outcome == Outcome::HelperMissing)
        alive = showAppAlert(QStringLiteral("MyDocumentHelper1"), QStringLiteral("MyDocumentHelper2"));
    else if (outcome != Outcome::Succeeded && outcome != Outcome::Stopped)
        alive = showAppAlert(QStringLiteral("MyDocument1"), QStringLiteral("MyDocument2"));
    if (!alive)
        return;
    if (std::exchange(m_detailsWanted, false) && !m_closed)
        startDetails();
    // Opening a file may show an alert, during which the document may go.
    const QPointer<MyDocument> stillHere(this);
    afterExtraction();
    if (stillHere)
        emit runFinished(Action::Extraction);
}

void MyDocument::launchExtractionTo(const QString &destination, const QStringList &paths)
{
    extract(destination, paths, Then::Nothing, {});
}

void MyDocument::extract(const QString &destination, const QStringList &chosen, Then then, const QStringList &files)
{
    if (m_run->isRunning() || m_closed) {
        refuse(); // one run at a time
        return;
    }
    // Every item of the folder shown is the folder itself: one name rather
    // than thousands (Ctrl+A), and at the top no names at all.
    QStringList paths = chosen;
    if (!paths.isEmpty() && paths.size() == EntryRows::itemCount(m_model->rows())) {
        QSet<QString> rows;
        for (const EntryRow &row : m_model->rows()) {
            if (row.kind != EntryRow::Kind::Parent)
                rows.insert(EntryRows::childPath(m_prefixePath, row.name));
        }
        if (rows == QSet<QString>(paths.cbegin(), paths.cend()))
            paths = m_prefixePath.isEmpty() ? QStringList() : QStringList{m_prefixePath};
    }
    m_then = then;
    m_thenFiles = files;
    // Counted before the details may go below.
    m_selectionRun = !paths.isEmpty();
    m_selectionProgress = m_selectionRun ? SelectionProgress(m_listeFichiers, &m_details, paths) : SelectionProgress();
    m_lastEntry.clear();
    if (m_detailsRun->isRunning()) {
        // The extraction comes first: the details run again after it.
        m_detailsRun->abandon(true);
        m_details.clear();
        m_detailsWanted = true;
    }
    m_hasBeenStoped = false;
    m_action = Action::Extraction;
    const QString helper = helperPath();
    if (helper.isEmpty()) {
        finishExtraction(HelperRun::Outcome::HelperMissing);
        return;
    }
    QStringList arguments = {QStringLiteral("x"), m_fileName, destination, QStringLiteral("-o+")};
    if (!paths.isEmpty()) {
        // In a file of their own: a selection of thousands of names would
        // not fit on a command line. The file is private and goes with the run.
        m_nameList = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("vorlo-names-XXXXXX")));
        if (!m_nameList->open() || m_nameList->write(paths.join(QLatin1Char('\n')).toUtf8() + '\n') < 0
            || !m_nameList->flush()) {
            m_nameList.reset();
            finishExtraction(HelperRun::Outcome::Failed);
            return;
        }
        arguments << QStringLiteral("-n@") + m_nameList->fileName();
    }
    ++m_extractions;
    if (m_main) {
        if (!m_avancementWin) {
            m_avancementWin = new ProgressWindow(m_main);
            connect(m_avancementWin, &ProgressWindow::stopRequested, this, &MyDocument::cancelExtraction);
        }
        m_avancementWin->start();
        if (then == Then::Nothing) {
            m_avancementWin->show();
        } else {
            const int run = m_extractions;
            QTimer::singleShot(kQuietExtractionMs, this, [this, run] {
                // Never over a password window already up: the sheet would block it.
                if (run == m_extractions && m_run->isRunning() && m_action == Action::Extraction && !m_closed
                    && !m_passwordWin->isVisible())
                    m_avancementWin->show();
            });
        }
    }
    startRun(Action::Extraction, helper, arguments, QString());
}

void MyDocument::updateProgress()
{
    const OutputReader &reader = m_run->reader();
    if (m_selectionRun) {
        if (reader.currentEntry() != m_lastEntry) {
            m_lastEntry = reader.currentEntry();
            m_selectionProgress.entryStarted(m_lastEntry, reader.barValue());
        } else {
            m_selectionProgress.archiveMoved(reader.barValue());
        }
    }
    if (m_avancementWin) {
        if (m_selectionRun)
            m_avancementWin->showProgress(true, m_selectionProgress.percent());
        else
            m_avancementWin->showProgress(reader.barDeterminate(), reader.barValue());
        m_avancementWin->showEntry(reader.currentEntry());
    }
}

// --- Password and stop -------------------------------------------------------

void MyDocument::answerPasswordPrompt()
{
    QLineEdit *field = m_passwordWin->passwordField();
    if (m_run->reader().answerPrompt(field->text()) == OutputReader::PromptAnswer::SendRememberedPassword) {
        validatePassword();
        field->clear();
    } else {
        if (m_run->reader().lastAnswerRefused())
            m_passwordWin->askAgainAfterRefusal(QFileInfo(m_fileName).fileName());
        else
            m_passwordWin->askFirstTime();
        placeAndShowPasswordWindow();
    }
}

void MyDocument::placeAndShowPasswordWindow()
{
    // Placed from the document window: a prompt that comes before the window
    // manager has placed a new window waits until it is on screen.
    if (m_main && m_main->isVisible() && !windowOnScreen()) {
        m_passwordPending = true;
        watchForExposure();
        return;
    }
    // The progress sheet blocks its document window and every window that
    // belongs to it: during an extraction the password window belongs to
    // the sheet, so that it takes the user's typing and stays above it.
    QWidget *owner = m_avancementWin && m_avancementWin->isVisible() ? static_cast<QWidget *>(m_avancementWin)
                                                                     : m_main;
    if (owner && m_passwordWin->parentWidget() != owner)
        m_passwordWin->setParent(owner, m_passwordWin->windowFlags());
    m_passwordWin->placeAndShow(m_main && m_main->isVisible() ? m_main : nullptr);
}

void MyDocument::validatePassword()
{
    if (m_action == Action::Listing)
        m_listingPassword = m_passwordWin->passwordField()->text();
    m_run->sendPassword(m_passwordWin->passwordField()->text());
    m_passwordWin->hide();
}

void MyDocument::cancelPassword()
{
    m_hasBeenStoped = true;
    m_passwordWin->hide();
    m_run->stop();
}

void MyDocument::cancelExtraction()
{
    m_hasBeenStoped = true;
    m_run->stop();
}

// --- Navigation ----------------------------------------------------------------

void MyDocument::updateFilterArray()
{
    m_model->setRows(EntryRows::build(m_listeFichiers, m_level, m_prefixePath, &m_details));
    if (m_ui)
        m_ui->statutArchive->setText(statusText());
    showWhereWeAre();
}

void MyDocument::showWhereWeAre()
{
    if (!m_main)
        return;
    const QString archive = QFileInfo(m_fileName).fileName();
    m_main->setWindowTitle(m_prefixePath.isEmpty() ? archive : archive + QStringLiteral(" — ") + m_prefixePath);
}

void MyDocument::goUp()
{
    if (m_level <= 0)
        return;
    const QString left = m_prefixePath.mid(m_prefixePath.lastIndexOf(QLatin1Char('/')) + 1);
    m_prefixePath = EntryRows::parentPath(m_prefixePath);
    --m_level;
    updateFilterArray();
    // Back where the user came from: on the folder just left.
    if (m_ui) {
        const QList<EntryRow> &rows = m_model->rows();
        for (int row = 0; row < rows.size(); ++row) {
            if (rows.at(row).isFolderLike() && rows.at(row).name == left) {
                // Not selected: "Extract" still means the whole archive.
                m_ui->listView->selectionModel()->setCurrentIndex(
                    m_model->index(row, EntryTableModel::NameColumn), QItemSelectionModel::NoUpdate);
                break;
            }
        }
    }
}

void MyDocument::startDetails()
{
    const QString helper = helperPath();
    if (helper.isEmpty() || m_closed)
        return;
    m_detailsWanted = false;
    m_detailsPrompts = 0;
    m_details.reset(&m_listeFichiers);
    m_detailsRun->start(HelperRun::Kind::Details, helper, {QStringLiteral("vt"), m_fileName}, QString());
}

void MyDocument::answerDetailsPrompt()
{
    // The names are hidden: the password that opened the listing opens them
    // again. Without it, or once it is refused, the details are given up
    // rather than asked for.
    if (m_detailsPrompts++ == 0 && !m_listingPassword.isEmpty()) {
        m_detailsRun->sendPassword(m_listingPassword);
        return;
    }
    m_detailsRun->abandon(true);
    m_details.clear();
    emit detailsFinished(false);
}

void MyDocument::finishDetails(HelperRun::Outcome outcome)
{
    const bool shown = outcome == HelperRun::Outcome::Succeeded && m_details.usable();
    if (!shown) {
        m_details.clear();
    } else {
        m_model->addDetails(EntryRows::build(m_listeFichiers, m_level, m_prefixePath, &m_details));
        if (m_ui)
            m_ui->statutArchive->setText(statusText());
    }
    emit detailsFinished(shown);
}

void MyDocument::changeLevel(int row)
{
    if (row < 0 || row >= m_model->rows().size())
        return;
    const EntryRow entry = m_model->rows().at(row);
    switch (entry.kind) {
    case EntryRow::Kind::Parent:
        goUp();
        return;
    case EntryRow::Kind::Folder:
        m_prefixePath = EntryRows::childPath(m_prefixePath, entry.name);
        ++m_level;
        break;
    case EntryRow::Kind::File:
        return;
    }
    updateFilterArray();
}

// --- Window lifecycle ----------------------------------------------------------

void MyDocument::closeNow()
{
    if (m_main)
        m_main->hide();
}

void MyDocument::closeWinNow()
{
    closeNow();
}

void MyDocument::windowWillClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_run->abandon();
    m_detailsRun->abandon(true);
    m_details.clear();
    m_listingPassword.clear();
    m_pendingAlert = nullptr;
    m_passwordPending = false;
    m_passwordWin->hide();
    if (m_avancementWin)
        m_avancementWin->hide();
    m_listeFichiers.clear();
    m_prefixePath.clear();
    m_level = 0;
    m_model->setRows({});
    // Files opened or dragged out of the archive go with it.
    m_then = Then::Nothing;
    m_nameList.reset();
    m_temporary.reset();
    emit documentClosed(this);
}

void MyDocument::showSheetAlert(const QString &messageKey, const QString &informativeKey,
                                std::function<void()> whenDismissed)
{
    auto show = [this, messageKey, informativeKey, whenDismissed] {
        emit alertShown(messageKey);
        auto *box = new QMessageBox(QMessageBox::Warning, QFileInfo(m_fileName).fileName(),
                                    StringTable::text(messageKey), QMessageBox::NoButton, m_main);
        box->setInformativeText(StringTable::text(informativeKey));
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box->setWindowModality(Qt::WindowModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [whenDismissed] {
            if (whenDismissed)
                whenDismissed();
        });
        box->open();
    };
    if (m_closed)
        return;
    m_pendingAlert = show;
    showPendingAlert();
}

bool MyDocument::showAppAlert(const QString &messageKey, const QString &informativeKey)
{
    // The document or its window may go away while the alert waits.
    const QPointer<MyDocument> alive(this);
    emit alertShown(messageKey);
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, QFileInfo(m_fileName).fileName(),
                                                StringTable::text(messageKey), QMessageBox::NoButton, m_main);
    box->setInformativeText(StringTable::text(informativeKey));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box.data();
    return !alive.isNull();
}
