#pragma once

#include <QWidget>

class QLineEdit;
namespace Ui { class PasswordWindow; }

// The free-standing window that asks for an archive's password. It does not
// block anything: the document window stays usable behind it.
class PasswordWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PasswordWindow(QWidget *owner);
    ~PasswordWindow() override;

    QLineEdit *passwordField() const;
    QString message() const;

    // The message for a first request, or for one after the helper refused
    // the password typed for `archiveName`; then the field is selected so
    // that typing replaces the refused password.
    void askFirstTime();
    void askAgainAfterRefusal(const QString &archiveName);

    // Shows the window 91 px right of `documentWindow`'s left edge with its
    // bottom 78 px above the document window's bottom, in front and focused.
    void placeAndShow(const QWidget *documentWindow);

signals:
    void confirmed();
    void cancelled();

protected:
    // Closing the window by its title bar gives up like Cancel: otherwise the
    // helper would wait for the password for ever.
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui::PasswordWindow *m_ui;
    bool m_selectField = false;
};
