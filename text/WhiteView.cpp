#include "WhiteView.h"

#include <QPainter>

WhiteView::WhiteView(QWidget *parent)
    : QWidget(parent)
{
    // We cover every pixel ourselves: Qt need not paint what lies behind.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WhiteView::paintEvent(QPaintEvent *)
{
    // The whole rectangle, whatever part was asked for.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
}
