#include "PasswordWindow.h"

#include "StringTable.h"
#include "ui_PasswordWindow.h"

#include <QCloseEvent>
#include <QLayout>
#include <QPushButton>

PasswordWindow::PasswordWindow(QWidget *owner)
    : QWidget(owner, Qt::Window | Qt::Dialog)
    , m_ui(new Ui::PasswordWindow)
{
    m_ui->setupUi(this);
    setWindowTitle(StringTable::text(QStringLiteral("MyDocumentWindow5")));
    m_ui->messageLabel->setText(StringTable::text(QStringLiteral("MyDocumentWindow1")));
    m_ui->fieldLabel->setText(StringTable::text(QStringLiteral("MyDocumentWindow2")));
    m_ui->buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &PasswordWindow::confirmed);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &PasswordWindow::cancelled);
    connect(m_ui->passwordField, &QLineEdit::returnPressed, this, &PasswordWindow::confirmed);
}

PasswordWindow::~PasswordWindow()
{
    delete m_ui;
}

QLineEdit *PasswordWindow::passwordField() const
{
    return m_ui->passwordField;
}

QString PasswordWindow::message() const
{
    return m_ui->messageLabel->text();
}

void PasswordWindow::askFirstTime()
{
    m_selectField = false;
    m_ui->messageLabel->setText(StringTable::text(QStringLiteral("MyDocumentWindow1")));
}

void PasswordWindow::askAgainAfterRefusal(const QString &archiveName)
{
    m_selectField = true;
    m_ui->messageLabel->setText(StringTable::format(QStringLiteral("MyDocumentWrongPassword"), {archiveName}));
}

void PasswordWindow::placeAndShow(const QWidget *documentWindow)
{
    auto place = [this, documentWindow] {
        if (!documentWindow)
            return;
        const QRect frame = documentWindow->frameGeometry();
        // Until the window manager has framed this window its frame is not
        // known: take it to be as tall as the document window's.
        int frameHeight = frameGeometry().height();
        if (frameHeight == height())
            frameHeight += frame.height() - documentWindow->height();
        move(frame.left() + 91, frame.bottom() - 78 - frameHeight + 1);
    };
    // The size is final only once the layout has run; place again after
    // showing, when the window frame is known too.
    if (layout())
        layout()->activate();
    resize(size().expandedTo(minimumSizeHint()));
    place();
    show();
    place();
    raise();
    activateWindow();
    m_ui->passwordField->setFocus();
    if (m_selectField)
        m_ui->passwordField->selectAll();
}

void PasswordWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (isVisible())
        emit cancelled();
}

void PasswordWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        emit cancelled();
        return;
    }
    QWidget::keyPressEvent(event);
}
