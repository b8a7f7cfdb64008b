#include "URLTextView.h"

#include "ResourceLocator.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {
bool anyContains(const QList<QRectF> &rects, const QPointF &point)
{
    return std::any_of(rects.begin(), rects.end(),
                       [&](const QRectF &r) { return r.contains(point); });
}

QString hrefOf(const QTextCharFormat &format)
{
    return format.isAnchor() ? format.anchorHref() : QString();
}
}

URLTextView::URLTextView(QWidget *parent)
    : QTextEdit(parent)
    , m_opener([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    // Selectable for copying, but without a caret: nothing here is edited.
    setReadOnly(true);
    // Recolouring links edits the document: nothing a reader could undo.
    setUndoRedoEnabled(false);
    viewport()->setMouseTracking(true);
    viewport()->setCursor(Qt::IBeamCursor);
}

QColor URLTextView::pressedLinkColor()
{
    return QColor::fromRgbF(1.0f, 0.5f, 0.0f);
}

QColor URLTextView::restingLinkColor()
{
    return QColor::fromRgbF(0.1f, 0.3f, 0.8f, 1.0f);
}

const QCursor &URLTextView::handCursor()
{
    // Shared by every view and kept until the process ends.
    static const QCursor *hand = [] {
        const QPixmap image(ResourceLocator::find(QStringLiteral("images/hand.png")));
        if (image.isNull())
            return new QCursor(Qt::PointingHandCursor);
        return new QCursor(image, 5, 0);
    }();
    return *hand;
}

void URLTextView::setUrlOpener(UrlOpener opener)
{
    m_opener = std::move(opener);
}

URLTextView::LinkRun URLTextView::runAt(int position) const
{
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid() || position >= block.position() + block.length() - 1)
        return {position, 1, {}};  // past the end, or a paragraph separator

    // Neighbouring fragments may differ in other attributes (a bold part of
    // a link, a recoloured link) yet belong to the same link.
    struct Piece { int start; int length; QString href; };
    QList<Piece> pieces;
    int found = -1;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        if (position >= fragment.position() && position < fragment.position() + fragment.length())
            found = int(pieces.size());
        pieces.append({fragment.position(), fragment.length(), hrefOf(fragment.charFormat())});
    }
    if (found < 0)
        return {position, 1, {}};

    int first = found;
    int last = found;
    const QString &href = pieces[found].href;
    while (first > 0 && pieces[first - 1].href == href
           && pieces[first - 1].start + pieces[first - 1].length == pieces[first].start)
        --first;
    while (last + 1 < pieces.size() && pieces[last + 1].href == href
           && pieces[last].start + pieces[last].length == pieces[last + 1].start)
        ++last;
    return {pieces[first].start, pieces[last].start + pieces[last].length - pieces[first].start, href};
}

QList<QRectF> URLTextView::rectsForRange(int start, int length) const
{
    QList<QRectF> rects;
    const int end = start + length;
    QAbstractTextDocumentLayout *docLayout = document()->documentLayout();
    for (QTextBlock block = document()->findBlock(start);
         block.isValid() && block.position() < end; block = block.next()) {
        docLayout->blockBoundingRect(block);  // lays the block out if it is not yet
        const QTextLayout *layout = block.layout();
        if (!layout)
            continue;
        const int blockStart = block.position();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int lineStart = blockStart + line.textStart();
            const int from = std::max(start, lineStart);
            const int to = std::min(end, lineStart + line.textLength());
            if (from >= to)
                continue;
            const qreal x1 = line.cursorToX(from - blockStart);
            const qreal x2 = line.cursorToX(to - blockStart);
            rects.append(QRectF(layout->position() + QPointF(std::min(x1, x2), line.y()),
                                QSizeF(std::abs(x2 - x1), line.height())));
        }
    }
    return rects;
}

QList<QRect> URLTextView::cursorAreas() const
{
    QList<QRect> areas;
    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRectF visible(offset, QSizeF(viewport()->size()));
    if (visible.isEmpty() || document()->isEmpty())
        return areas;

    QAbstractTextDocumentLayout *docLayout = document()->documentLayout();
    const int first = docLayout->hitTest(visible.topLeft(), Qt::FuzzyHit);
    const int last = docLayout->hitTest(visible.bottomRight(), Qt::FuzzyHit);
    if (first < 0 || last < 0)
        return areas;

    // hitTest gives cursor positions: widen to whole characters on both
    // sides so a link cut by the visible edge is still found.
    int i = std::max(0, first - 1);
    const int end = std::min(last + 1, document()->characterCount() - 1);
    while (i < end) {
        const LinkRun run = runAt(i);
        if (!run.href.isEmpty()) {
            for (const QRectF &rect : rectsForRange(run.start, run.length)) {
                const QRectF shown = rect.intersected(visible);
                if (!shown.isEmpty())
                    areas.append(shown.translated(-offset).toAlignedRect());
            }
        }
        i = std::max(i + 1, run.start + run.length);
    }
    return areas;
}

QPointF URLTextView::toDocument(const QPointF &viewportPoint) const
{
    return viewportPoint + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

std::optional<URLTextView::Tracking> URLTextView::linkUnder(const QPointF &point) const
{
    if (document()->isEmpty())
        return std::nullopt;
    // The layout answers with a cursor position between two characters:
    // the character on either side may be the one under the point. The
    // nearest character may also be a link beside the point (past the end
    // of its line, below the text), hence the test against its rectangles.
    const int position = document()->documentLayout()->hitTest(point, Qt::FuzzyHit);
    if (position < 0)
        return std::nullopt;
    for (int candidate : {position, position - 1}) {
        if (candidate < 0 || candidate >= document()->characterCount() - 1)
            continue;
        const LinkRun run = runAt(candidate);
        if (run.href.isEmpty())
            continue;
        QList<QRectF> rects = rectsForRange(run.start, run.length);
        if (anyContains(rects, point))
            return Tracking{run, std::move(rects), false};
    }
    return std::nullopt;
}

void URLTextView::colourLink(const LinkRun &link, const QColor &colour)
{
    QTextCursor cursor(document());
    cursor.setPosition(link.start);
    cursor.setPosition(link.start + link.length, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour);
    cursor.mergeCharFormat(format);
}

void URLTextView::updateCursorAt(const QPoint &viewportPoint)
{
    const QList<QRect> areas = cursorAreas();
    const bool overLink = std::any_of(areas.begin(), areas.end(),
                                      [&](const QRect &r) { return r.contains(viewportPoint); });
    if (overLink)
        viewport()->setCursor(handCursor());
    else
        viewport()->setCursor(Qt::IBeamCursor);
}

void URLTextView::mousePressEvent(QMouseEvent *event)
{
    if (m_track) {
        event->accept();  // a second button during a press on a link
        return;
    }
    std::optional<Tracking> link;
    if (event->button() == Qt::LeftButton)
        link = linkUnder(toDocument(event->position()));
    if (!link) {
        QTextEdit::mousePressEvent(event);
        return;
    }
    m_track = std::move(link);
    m_track->pressed = true;
    colourLink(m_track->link, pressedLinkColor());
    event->accept();
    emit linkTrackingChanged(true);
}

void URLTextView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_track) {
        QTextEdit::mouseMoveEvent(event);
        updateCursorAt(event->position().toPoint());
        return;
    }
    // No button held: the release went elsewhere (a popup or another window
    // took the mouse meanwhile).
    if (event->buttons() == Qt::NoButton) {
        abandonTracking();
        QTextEdit::mouseMoveEvent(event);
        updateCursorAt(event->position().toPoint());
        return;
    }
    const bool inside = anyContains(m_track->rects, toDocument(event->position()));
    if (inside != m_track->pressed) {
        m_track->pressed = inside;
        colourLink(m_track->link, inside ? pressedLinkColor() : restingLinkColor());
    }
    event->accept();
}

void URLTextView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_track) {
        QTextEdit::mouseReleaseEvent(event);
        return;
    }
    // Releasing either button ends the press.
    const Tracking track = std::move(*m_track);
    m_track.reset();
    colourLink(track.link, restingLinkColor());
    event->accept();
    emit linkTrackingChanged(false);
    if (anyContains(track.rects, toDocument(event->position())) && m_opener)
        m_opener(QUrl(track.link.href, QUrl::StrictMode));
}

void URLTextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The first click of a double click already opened the link: the
    // second one neither opens it again nor selects the word.
    if (m_track || (event->button() == Qt::LeftButton && linkUnder(toDocument(event->position())))) {
        event->accept();
        return;
    }
    QTextEdit::mouseDoubleClickEvent(event);
}

void URLTextView::hideEvent(QHideEvent *event)
{
    // A hidden view gets no release: without this the link would stay
    // orange and whoever holds still for the press would wait for ever.
    abandonTracking();
    QTextEdit::hideEvent(event);
}

void URLTextView::abandonTracking()
{
    if (!m_track)
        return;
    const LinkRun link = m_track->link;
    m_track.reset();
    colourLink(link, restingLinkColor());
    emit linkTrackingChanged(false);
}

void URLTextView::scrollContentsBy(int dx, int dy)
{
    QTextEdit::scrollContentsBy(dx, dy);
    // The text moved under a still pointer.
    if (!m_track && viewport()->underMouse())
        updateCursorAt(viewport()->mapFromGlobal(QCursor::pos()));
}
