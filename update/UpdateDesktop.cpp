#include "UpdateDesktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {
// QMessageBox guesses whether a text is markup; a version such as "<b>2"
// must stay as written, so both labels are made plain text.
QMessageBox *plainMessageBox(QWidget *parent, const QString &message, const QString &informative)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setTextFormat(Qt::PlainText);
    box->setText(message);
    box->setInformativeText(informative);
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    return box;
}
}

UpdateDesktop *UpdateDesktop::standard()
{
    static UpdateDesktop desktop;
    return &desktop;
}

void UpdateDesktop::alert(const QString &message, const QString &informative)
{
    QMessageBox *box = plainMessageBox(nullptr, message, informative);
    box->setWindowModality(Qt::ApplicationModal);
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->exec();
}

bool UpdateDesktop::offer(const QString &message, const QString &informative, const QString &accept,
                          const QString &decline)
{
    QMessageBox *box = plainMessageBox(nullptr, message, informative);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setWindowModality(Qt::ApplicationModal);
    QPushButton *acceptButton = box->addButton(accept, QMessageBox::AcceptRole);
    box->addButton(decline, QMessageBox::RejectRole);
    box->setDefaultButton(acceptButton);
    box->exec();
    const bool accepted = box->clickedButton() == acceptButton;
    delete box;
    return accepted;
}

void UpdateDesktop::sheet(QWidget *window, SheetKind kind, const QString &message, const QString &informative,
                          std::function<void()> done)
{
    QMessageBox *box = plainMessageBox(window, message, informative);
    if (kind == SheetKind::Failure)
        box->setIcon(QMessageBox::Warning);
    box->setWindowModality(Qt::WindowModal);
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QObject::connect(box, &QDialog::finished, box, [done = std::move(done)](int) {
        if (done)
            done();
    });
    box->open();
}

void UpdateDesktop::chooseSavePath(QWidget *window, const QString &prompt, const QString &proposedName,
                                   std::function<void(int, const QString &)> done)
{
    auto *dialog = new QFileDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    // The usual place for downloads, or home when there is none.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    dialog->setDirectory(QFileInfo(downloads).isDir() ? downloads : QDir::homePath());
    dialog->selectFile(proposedName);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            done(1, files.first());
        else
            done(0, QString());
    });
    dialog->open();
}

void UpdateDesktop::beep()
{
    QApplication::beep();
}

void UpdateDesktop::openFolder(const QString &folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
