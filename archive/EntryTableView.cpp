#include "EntryTableView.h"

void EntryTableView::startDrag(Qt::DropActions supportedActions)
{
    Q_UNUSED(supportedActions);
    emit dragWanted();
}
