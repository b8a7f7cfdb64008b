#include "AboutBox.h"

#include "ResourceLocator.h"
#include "RtfReader.h"
#include "StringTable.h"
#include "URLMutableAttributedString.h"
#include "URLTextView.h"
#include "ui_AboutBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace {
// Credits are a few kilobytes; anything far larger is not our file.
constexpr qint64 kMaxCreditsSize = 1 << 20;
}

AboutBox::AboutBox(QObject *parent, CreditsScroller::Clock clock)
    : QObject(parent)
    , m_window(std::make_unique<QWidget>(nullptr, Qt::Window))
    , m_ui(std::make_unique<Ui::AboutBox>())
    , m_scroller(std::move(clock))
    , m_timer(this)
{
    m_ui->setupUi(m_window.get());
    m_window->setWindowTitle(StringTable::text(QStringLiteral("AboutWindowTitle")));
    m_window->setFixedSize(m_window->size());

    // The background is white whatever the desktop theme, so the text in
    // front of it is black.
    QPalette palette = m_window->palette();
    for (auto role : {QPalette::Window, QPalette::Base})
        palette.setColor(role, Qt::white);
    for (auto role : {QPalette::WindowText, QPalette::Text})
        palette.setColor(role, Qt::black);
    m_window->setPalette(palette);

    // Escape and the usual Close Window keys put the box away.
    for (const auto key : {QKeySequence::Cancel, QKeySequence::Close})
        connect(new QShortcut(key, m_window.get()), &QShortcut::activated, m_window.get(), &QWidget::close);

    m_window->installEventFilter(this);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameInterval);
    connect(&m_timer, &QTimer::timeout, this, &AboutBox::scrollCredits);
    connect(aboutView(), &URLTextView::linkTrackingChanged, this, &AboutBox::updateTimer);

    loadCredits();
}

AboutBox::~AboutBox() = default;

URLTextView *AboutBox::aboutView() const
{
    return m_ui->aboutView;
}

QLabel *AboutBox::aboutVersion() const
{
    return m_ui->aboutVersion;
}

bool AboutBox::loadCredits()
{
    aboutView()->setAcceptRichText(true);
    const QString path = ResourceLocator::find(StringTable::text(QStringLiteral("MyDocument22")));
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCreditsSize)
        return false;
    const auto credits = RtfReader::read(file.readAll());
    if (!credits)
        return false;
    detectURLs(credits.get(), Qt::blue);

    QTextCursor end(aboutView()->document());
    end.movePosition(QTextCursor::End);
    if (aboutView()->document()->isEmpty())
        end.setBlockFormat(credits->begin().blockFormat());
    end.insertFragment(QTextDocumentFragment(credits.get()));
    // The view's own cursor was pushed to the end by the insertion, and the
    // view would scroll there to show it.
    aboutView()->moveCursor(QTextCursor::Start);
    return true;
}

QString AboutBox::version()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral(VORLO_VERSION) : version;
}

void AboutBox::showBox()
{
    // The scroll limit is the credits' length in characters.
    const int limit = aboutView()->document()->characterCount() - 1;
    aboutView()->moveCursor(QTextCursor::Start);
    scrollViewTo(0);
    aboutVersion()->setText(StringTable::format(QStringLiteral("MyDocument21"), {version()}));

    QScreen *screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // The opening pause counts from here, once the window is up.
    m_scroller.restart(limit);
}

void AboutBox::startScrolling()
{
    m_key = true;
    updateTimer();
}

void AboutBox::stopScrolling()
{
    m_key = false;
    updateTimer();
}

void AboutBox::updateTimer()
{
    const bool run = m_key && !aboutView()->isTrackingLink();
    if (run && !m_timer.isActive()) {
        m_scroller.resume();
        m_timer.start();
    } else if (!run && m_timer.isActive()) {
        m_timer.stop();
    }
}

void AboutBox::scrollCredits()
{
    if (const std::optional<double> offset = m_scroller.step())
        scrollViewTo(*offset);
}

void AboutBox::scrollViewTo(double offset)
{
    // The scroll bar clamps at the end of the text.
    aboutView()->verticalScrollBar()->setValue(qRound(offset));
}

bool AboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get()) {
        if (event->type() == QEvent::WindowActivate)
            emit windowDidBecomeKey();
        else if (event->type() == QEvent::WindowDeactivate)
            emit windowDidResignKey();
    }
    return QObject::eventFilter(watched, event);
}
