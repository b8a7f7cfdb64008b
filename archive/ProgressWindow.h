#pragma once

#include "RemainingTime.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

class QProgressBar;
namespace Ui { class ProgressWindow; }

// The extraction's progress, modal for its document window only, with a
// Stop button, the entry under way and, once it can be told, the time left.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressWindow(QWidget *documentWindow);
    ~ProgressWindow() override;

    QProgressBar *bar() const;
    // A new extraction: no entry, no time left, a busy bar, the clock at 0.
    void start();
    // 0 to 100 when determinate, a busy bar otherwise.
    void showProgress(bool determinate, int value);
    // The name as the helper printed it; a long one is shortened in the
    // middle, where a path's least telling part usually is.
    void showEntry(const QString &name);

signals:
    void stopRequested();

public slots:
    // Escape or the title bar's close asks to stop; the window itself stays
    // until the helper's output has ended.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showEntryName();
    void showTimeLeft();

    Ui::ProgressWindow *m_ui;
    QString m_entryName;
    RemainingTime m_remaining;
    QElapsedTimer m_clock;
    QTimer m_tick; // the time left moves on while the bar stands still
    int m_percent = 0;
};
