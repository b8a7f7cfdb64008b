#pragma once

#include <QCursor>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QTextEdit>
#include <QUrl>

#include <functional>
#include <optional>

// A read-only, selectable text view whose links (anchors, as detectURLs
// makes them) react to the mouse: the pointer is a hand over them, a press
// turns the link orange while the button is held on it, and releasing on
// the link opens its address. Presses elsewhere select text as usual.
class URLTextView : public QTextEdit
{
    Q_OBJECT

public:
    // A run of characters carrying the same anchor href (empty: no link).
    struct LinkRun
    {
        int start = 0;
        int length = 0;
        QString href;
    };

    using UrlOpener = std::function<void(const QUrl &)>;

    explicit URLTextView(QWidget *parent = nullptr);

    static QColor pressedLinkColor();
    static QColor restingLinkColor();

    // The pointing hand, made once from the image "hand" with its hot spot
    // at (5, 0); the system's pointing hand if the image is missing.
    static const QCursor &handCursor();

    // Opens the links; by default QDesktopServices::openUrl.
    void setUrlOpener(UrlOpener opener);

    // The run of equal links around the character at `position`, within
    // its paragraph.
    LinkRun runAt(int position) const;

    // The rectangles, one per line piece, that the characters
    // [start, start + length) occupy, in document coordinates.
    QList<QRectF> rectsForRange(int start, int length) const;

    // The hand-cursor areas: the visible pieces of the visible links, in
    // viewport coordinates. Only the visible part of the text is examined.
    QList<QRect> cursorAreas() const;

    // True between a press on a link and the release that ends it.
    bool isTrackingLink() const { return m_track.has_value(); }

signals:
    // A press on a link starts (true) or ends (false). Whoever animates the
    // view holds still meanwhile, so the link does not move under the
    // pointer.
    void linkTrackingChanged(bool tracking);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Tracking
    {
        LinkRun link;
        QList<QRectF> rects;  // copied at the press: the layout may change
        bool pressed = false;
    };

    QPointF toDocument(const QPointF &viewportPoint) const;
    std::optional<Tracking> linkUnder(const QPointF &documentPoint) const;
    void colourLink(const LinkRun &link, const QColor &colour);
    void updateCursorAt(const QPoint &viewportPoint);
    // Ends a press whose release will never come, opening nothing.
    void abandonTracking();

    std::optional<Tracking> m_track;
    UrlOpener m_opener;
};
