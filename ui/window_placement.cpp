#include "ui/window_placement.h"

#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace fc {

namespace {

// The frame the window manager adds; before a window is first shown it has
// none of its own yet, and the anchor's is the best guess.
QMargins FrameOf(const QWidget& window, const QWidget& anchor) {
    const QWidget& framed = window.isVisible() ? window : anchor;
    const QRect frame = framed.frameGeometry();
    const QRect inner = framed.geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(),
            frame.right() - inner.right(), frame.bottom() - inner.bottom()};
}

QRect KeptInside(QRect frame, const QRect& area) {
    frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
    return frame;
}

QRect Chosen(const QRect& anchor, QSize frame, const QRect& area) {
    const QRect beside[] = {
        QRect(QPoint(anchor.right() + 1, anchor.top()), frame),
        QRect(QPoint(anchor.left() - frame.width(), anchor.top()), frame),
        QRect(QPoint(anchor.left(), anchor.bottom() + 1), frame),
        QRect(QPoint(anchor.left(), anchor.top() - frame.height()), frame),
    };
    for (const QRect& place : beside) {
        // Sliding along the anchor's side is fine; overlapping it is not.
        const QRect kept = KeptInside(place, area);
        if (area.contains(kept) && !kept.intersects(anchor))
            return kept;
    }
    QRect over(QPoint(), frame);
    over.moveCenter(anchor.center());
    return KeptInside(over, area);
}

}  // namespace

void PlaceBeside(QWidget& window, const QWidget& anchor, const QSize& preferred) {
    const QScreen* screen = anchor.screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QMargins frame = FrameOf(window, anchor);
    const QSize room = area.size().shrunkBy(frame);
    const QSize inner = preferred.boundedTo(room).expandedTo(window.minimumSizeHint().boundedTo(room));
    const QRect placed = Chosen(anchor.frameGeometry(), inner.grownBy(frame), area);
    window.resize(inner);
    window.move(placed.topLeft());
}

}  // namespace fc
