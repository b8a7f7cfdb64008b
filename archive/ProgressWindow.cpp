#include "ProgressWindow.h"

#include "StringTable.h"
#include "ui_ProgressWindow.h"

#include <QPushButton>

ProgressWindow::ProgressWindow(QWidget *documentWindow)
    : QDialog(documentWindow)
    , m_ui(new Ui::ProgressWindow)
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(StringTable::text(QStringLiteral("MyDocumentWindow3")));
    m_ui->messageLabel->setText(StringTable::text(QStringLiteral("MyDocumentWindow3")));
    m_ui->stopButton->setText(StringTable::text(QStringLiteral("MyDocumentWindow4")));
    // Both lines keep their height while empty, so the window does not
    // move under the pointer when they fill.
    m_ui->entryLabel->setMinimumHeight(m_ui->entryLabel->fontMetrics().height());
    m_ui->timeLabel->setMinimumHeight(m_ui->timeLabel->fontMetrics().height());
    connect(m_ui->stopButton, &QPushButton::clicked, this, &ProgressWindow::stopRequested);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ProgressWindow::showTimeLeft);
}

ProgressWindow::~ProgressWindow()
{
    delete m_ui;
}

QProgressBar *ProgressWindow::bar() const
{
    return m_ui->bar2;
}

void ProgressWindow::start()
{
    m_remaining = RemainingTime();
    m_percent = 0;
    m_clock.start();
    m_tick.start();
    m_ui->timeLabel->clear();
    showEntry(QString());
    showProgress(false, 0);
}

void ProgressWindow::showProgress(bool determinate, int value)
{
    if (determinate)
        m_ui->bar2->setRange(0, 100);
    else
        m_ui->bar2->setRange(0, 0);
    m_ui->bar2->setValue(value);
    m_percent = determinate ? value : 0;
    showTimeLeft();
}

void ProgressWindow::showEntry(const QString &name)
{
    m_entryName = name;
    showEntryName();
}

void ProgressWindow::showEntryName()
{
    QLabel *label = m_ui->entryLabel;
    label->setText(label->fontMetrics().elidedText(m_entryName, Qt::ElideMiddle, label->width()));
}

void ProgressWindow::showTimeLeft()
{
    if (m_clock.isValid())
        m_ui->timeLabel->setText(m_remaining.feed(m_clock.elapsed(), m_percent));
}

void ProgressWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    showEntryName();
}

void ProgressWindow::hideEvent(QHideEvent *event)
{
    m_tick.stop();
    QDialog::hideEvent(event);
}

void ProgressWindow::reject()
{
    emit stopRequested();
}
