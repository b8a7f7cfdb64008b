#pragma once

#include "EntryDetails.h"
#include "EntryRows.h"
#include "HelperRun.h"
#include "SelectionProgress.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class DocumentToolbar;
class EntryTableModel;
class PasswordWindow;
class ProgressWindow;
class QDrag;
class QMainWindow;
class QMimeData;
class QTemporaryDir;
class QTemporaryFile;
namespace Ui { class MyDocumentWindow; }

// One open archive: its window, the entry table one folder level at a time,
// and the runs of the unrar helper that list and extract it.
//
// A document runs at most one helper at a time, through a HelperRun: its
// prompts open the password window, its progress moves the bar, and its
// outcome decides the rows and the alerts at the end of the run.
class MyDocument : public QObject
{
    Q_OBJECT

public:
    enum class Action { None, Listing, Extraction };

    explicit MyDocument(QObject *parent = nullptr);
    ~MyDocument() override;

    // Starts the listing run of `fileName`; the document opens in any case and
    // a damaged archive is reported when the listing ends.
    bool readFromFile(const QString &fileName, const QString &docType);
    void showWindows();
    QMainWindow *window() const;
    QString fileName() const;
    // Whether the file at fileName() is still the one that was listed: not
    // moved away, replaced or rewritten since.
    bool fileUnchanged() const;

    // Called for every document window right after it is created.
    static void setWindowDecorator(std::function<void(QMainWindow *)> decorator);

    // Extracts the whole archive into the existing folder `destination`, or
    // only the entries at `paths` (paths inside the archive; a folder takes
    // everything under it). Refused with a beep while another run is under
    // way.
    void launchExtractionTo(const QString &destination, const QStringList &paths = {});

    // The paths inside the archive of the selected rows, in row order; the
    // parent row is none.
    QStringList selectedPaths() const;
    // What a double-click or Return does to row `row`: a folder is entered
    // (the parent row goes up), a file is opened.
    void activateRow(int row);
    // Extracts the file of row `row` alone into the document's temporary
    // folder and opens it with the desktop's application for its type.
    void openEntry(int row);
    // Extracts the selected rows into the temporary folder, then lets the
    // user drag them away as files (text/uri-list): most receivers take
    // only files that exist when they are dropped.
    void dragSelection();
    // The document's temporary folder, "" until something was extracted
    // into it; it goes with the document's window.
    QString temporaryFolder() const;

    // Replaces QDrag::exec for the drag of dragSelection: it gets the drag
    // ready to start.
    static void setDragRunnerForTesting(std::function<void(QDrag *)> runner);

    // Moves into the folder of row `row`, or up for the parent row; a file
    // row or no row changes nothing.
    void changeLevel(int row);
    // Moves to the parent folder; nothing at the top.
    void goUp();

    // Hides the document window; the document stays open.
    void closeNow();

    // The toolbar's commands.
    void extractNow();   // into the folder that holds the archive
    void extractNowTo(); // into a folder the user chooses
    void placerDansLaCorbeille();

    // Moves the file at `path` to the user's Trash; true only when the file
    // has really arrived there.
    static bool trashWithPath(const QString &path);

    // Replaces the folder chooser of extractNowTo: it gets the document
    // window and returns the chosen folder, or "" when cancelled.
    static void setFolderChooserForTesting(std::function<QString(QWidget *)> chooser);

    void validatePassword();
    void cancelPassword();
    void cancelExtraction();

    // State, for the window and for tests.
    bool isRunning() const { return m_run->isRunning(); }
    // The technical listing that brings sizes and dates runs after the
    // listing; it gives way to an extraction and runs again after it.
    bool detailsRunning() const { return m_detailsRun->isRunning(); }
    qint64 helperProcessId() const;
    Action action() const { return m_action; }
    bool hasBeenStoped() const { return m_hasBeenStoped; }
    const QStringList &entries() const { return m_listeFichiers; }
    const QList<EntryRow> &rows() const;
    int level() const { return m_level; }
    QString prefixePath() const { return m_prefixePath; }
    QString statusText() const;
    PasswordWindow *passwordWindow() const { return m_passwordWin; }
    DocumentToolbar *toolbar() const { return m_toolbar; }
    ProgressWindow *progressWindow() const { return m_avancementWin; }

signals:
    void documentClosed(MyDocument *document);
    // A run has ended and its results (rows, alerts) have been handled.
    void runFinished(MyDocument::Action action);
    // The details of the entries have come (or cannot come).
    void detailsFinished(bool shown);
    // An alert is about to be shown, named by its message key.
    void alertShown(const QString &messageKey);
    // A command was refused with a beep.
    void commandRefused();
    // Archive files were dropped on the window, to be opened.
    void openWanted(const QStringList &paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createWindow();
    void setupToolbar();
    void refuse();
    void startRun(Action action, const QString &program, const QStringList &arguments,
                  const QString &workingDirectory);
    void runFinishedWith(HelperRun::Outcome outcome);
    void finishListing(HelperRun::Outcome outcome);
    void finishExtraction(HelperRun::Outcome outcome);
    void answerPasswordPrompt();
    void placeAndShowPasswordWindow();
    void updateProgress();
    void updateFilterArray();
    void startDetails();
    void finishDetails(HelperRun::Outcome outcome);
    void answerDetailsPrompt();
    void showWhereWeAre();
    void windowWillClose();
    void closeWinNow();
    bool windowOnScreen() const;
    void showPendingAlert();
    void watchForExposure();
    void showSheetAlert(const QString &messageKey, const QString &informativeKey,
                        std::function<void()> whenDismissed);
    // Returns false when the document was deleted while the alert was up.
    bool showAppAlert(const QString &messageKey, const QString &informativeKey);
    static QString helperPath();
    // A new, empty folder inside the temporary folder; "" when it cannot be made.
    QString newTemporaryFolder();
    // What the extraction under way is for, beyond its files.
    enum class Then { Nothing, Open, Drag };
    void extract(const QString &destination, const QStringList &chosen, Then then, const QStringList &files);
    void afterExtraction();
    void showTableMenu(const QPoint &position);
    bool handleDrop(QEvent *event);

    QString m_fileName;
    QByteArray m_fileStamp; // identity and state of the file when it was listed
    QMainWindow *m_main = nullptr;
    Ui::MyDocumentWindow *m_ui = nullptr;
    PasswordWindow *m_passwordWin = nullptr;
    ProgressWindow *m_avancementWin = nullptr;
    DocumentToolbar *m_toolbar = nullptr;
    EntryTableModel *m_model = nullptr;

    HelperRun *m_run = nullptr;
    Action m_action = Action::None;
    bool m_hasBeenStoped = false;
    bool m_closed = false;
    std::function<void()> m_pendingAlert; // waits for the window to be on screen
    bool m_passwordPending = false;       // the password window waits for it too

    HelperRun *m_detailsRun = nullptr;
    EntryDetails m_details;
    bool m_detailsWanted = false;  // to run again once the extraction is over
    int m_detailsPrompts = 0;
    QString m_listingPassword; // the answer that opened hidden names, for the details run

    Then m_then = Then::Nothing;
    int m_extractions = 0; // runs started, to tell them apart
    QStringList m_thenFiles; // the files extracted, for Open and Drag
    std::unique_ptr<QTemporaryDir> m_temporary;
    int m_temporaryFolders = 0;
    std::unique_ptr<QTemporaryFile> m_nameList; // the selection handed to the helper
    bool m_selectionRun = false;
    SelectionProgress m_selectionProgress;
    QString m_lastEntry;

    QStringList m_listeFichiers;
    int m_level = 0;
    QString m_prefixePath;
};
