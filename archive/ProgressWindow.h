#pragma once

#include <QDialog>

class QProgressBar;
namespace Ui { class ProgressWindow; }

// The extraction's progress, modal for its document window only, with a
// Stop button.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressWindow(QWidget *documentWindow);
    ~ProgressWindow() override;

    QProgressBar *bar() const;
    // 0 to 100 when determinate, a busy bar otherwise.
    void showProgress(bool determinate, int value);

signals:
    void stopRequested();

public slots:
    // Escape or the title bar's close asks to stop; the window itself stays
    // until the helper's output has ended.
    void reject() override;

private:
    Ui::ProgressWindow *m_ui;
};
