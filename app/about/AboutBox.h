#pragma once

#include "CreditsScroller.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QLabel;
class QWidget;
class URLTextView;

namespace Ui {
class AboutBox;
}

// The about window: the version line and the credits, which scroll slowly
// while the window is the active one.
//
// The application controller owns one AboutBox. It calls showBox() for the
// About command and, as the window's delegate, receives
// windowDidBecomeKey() / windowDidResignKey(), on which it calls
// startScrolling() / stopScrolling().
class AboutBox : public QObject
{
    Q_OBJECT

public:
    // About the display's refresh rate: smooth, yet nearly free.
    static constexpr int kFrameInterval = 16;  // milliseconds

    // Builds the window from its interface file and loads the credits.
    explicit AboutBox(QObject *parent = nullptr, CreditsScroller::Clock clock = {});
    ~AboutBox() override;

    QWidget *aboutWin() const { return m_window.get(); }
    URLTextView *aboutView() const;
    QLabel *aboutVersion() const;

    // Appends the credits file (named by "MyDocument22") to the credits
    // view, its links marked. A missing or unreadable file leaves the view
    // as it was; returns whether the credits were added.
    bool loadCredits();

    // The About command: back to the top, the version line, the window
    // centred, raised and made active. The opening pause starts anew.
    void showBox();

    // The version shown: the application's, else the one built in.
    static QString version();

    // While the window is active, the timer runs, except while a press on
    // a link holds the credits still.
    void startScrolling();
    void stopScrolling();
    bool isScrolling() const { return m_timer.isActive(); }

    // One firing of the timer.
    void scrollCredits();

    CreditsScroller &scroller() { return m_scroller; }

signals:
    void windowDidBecomeKey();
    void windowDidResignKey();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTimer();
    void scrollViewTo(double offset);

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::AboutBox> m_ui;
    CreditsScroller m_scroller;
    QTimer m_timer;
    bool m_key = false;
};
