#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <functional>

class AboutBox;
class MyDocument;
class QAction;
class QMainWindow;
class QMenuBar;
class QWidget;

// The one application-wide controller. It opens one document per archive
// (never an untitled one), gives every document window the application's
// menus, carries out the application commands (Open, Close Window, Quit,
// the donation pages, the about box, the update check) and ends the
// application when its last visible window goes: a Linux application
// without a window cannot be reached.
class VorloCtrl : public QObject
{
    Q_OBJECT
public:
    // Opens a page in the user's browser; the result is ignored.
    using UrlOpener = std::function<bool(const QUrl &url)>;
    // Asks the user for archives to open; an empty list means cancelled.
    using FileChooser = std::function<QStringList(QWidget *parent)>;

    explicit VorloCtrl(QObject *parent = nullptr);
    ~VorloCtrl() override;

    // Entry of the running application: opens the archives named, or asks
    // for some when there are none and quits if the user chooses none.
    void start(const QStringList &arguments);

    // Opens the archive at `path`, or brings forward the window of the
    // document that already shows it.
    MyDocument *openArchive(const QString &path);
    void openArchives(const QStringList &paths);

    // Archives handed over by a second start of Vorlo; none means the user
    // started Vorlo again without one, so ask.
    void openRequested(const QStringList &paths);

    QList<MyDocument *> documents() const;
    MyDocument *documentForFile(const QString &path) const;

    // The application never makes an empty document, at launch or later.
    static bool applicationShouldOpenUntitledFile() { return false; }

    // The donation page in `currencyCode` ("EUR" or "USD").
    static QUrl donationUrl(const QString &currencyCode);

    // The file-type filters of the Open chooser, RAR archives first.
    static QStringList archiveNameFilters();

    // Turns a command-line argument (a path or a file:// URL) into a path.
    static QString archivePathFromArgument(const QString &argument);

    // Gives `window` the application's menu bar.
    void decorateWindow(QMainWindow *window);

    void setUrlOpener(UrlOpener opener);
    void setFileChooser(FileChooser chooser);

    // The application commands, for the menus (and tests).
    QAction *aboutAction() const { return aboutAction_; }
    QAction *checkForUpdateAction() const { return checkForUpdateAction_; }
    QAction *donateEuroAction() const { return donateEuroAction_; }
    QAction *donateDollarAction() const { return donateDollarAction_; }
    QAction *quitAction() const { return quitAction_; }
    QAction *openAction() const { return openAction_; }
    QAction *closeWindowAction() const { return closeWindowAction_; }

public slots:
    // Shows the about box.
    void affAboutBox();
    // The about window became, or stopped being, the active window: its
    // credits scroll only meanwhile.
    void windowDidBecomeKey();
    void windowDidResignKey();

    // Checks whether a newer version of the application is out.
    void checkForUpdate();

    void donateEuro();
    void donateDollar();

    // Asks for archives and opens those chosen.
    void openDocument();
    // Closes the active window.
    void closeWindow();
    // Ends the application, and with it every helper still running.
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createActions();
    QMenuBar *createMenuBar(QWidget *parent);
    QStringList chooseArchives(QWidget *parent);
    void forgetDocument(MyDocument *document);
    void scheduleQuitCheck();
    void quitIfNoVisibleWindow();

    QList<QPointer<MyDocument>> documents_;
    UrlOpener urlOpener_;
    FileChooser fileChooser_;
    QString lastFolder_;
    bool choosing_ = false;
    bool quitCheckPending_ = false;

    QAction *aboutAction_ = nullptr;
    QAction *checkForUpdateAction_ = nullptr;
    QAction *donateEuroAction_ = nullptr;
    QAction *donateDollarAction_ = nullptr;
    QAction *quitAction_ = nullptr;
    QAction *openAction_ = nullptr;
    QAction *closeWindowAction_ = nullptr;

    AboutBox *aboutBox_ = nullptr;  // made on the first About command
};
