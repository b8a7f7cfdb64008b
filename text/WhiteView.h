#pragma once

#include <QWidget>

// An opaque white area: the background of the about and update windows.
class WhiteView : public QWidget
{
    Q_OBJECT

public:
    explicit WhiteView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
