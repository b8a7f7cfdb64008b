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
    connect(m_ui->stopButton, &QPushButton::clicked, this, &ProgressWindow::stopRequested);
}

ProgressWindow::~ProgressWindow()
{
    delete m_ui;
}

QProgressBar *ProgressWindow::bar() const
{
    return m_ui->bar2;
}

void ProgressWindow::showProgress(bool determinate, int value)
{
    if (determinate)
        m_ui->bar2->setRange(0, 100);
    else
        m_ui->bar2->setRange(0, 0);
    m_ui->bar2->setValue(value);
}

void ProgressWindow::reject()
{
    emit stopRequested();
}
