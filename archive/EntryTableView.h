#pragma once

#include <QTableView>

// The entry table. Dragging rows out is the document's business: the
// entries must be extracted before anything can be handed over, so the
// view only says when a drag begins.
class EntryTableView : public QTableView
{
    Q_OBJECT

public:
    using QTableView::QTableView;

signals:
    // The user began dragging the selected rows.
    void dragWanted();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
};
