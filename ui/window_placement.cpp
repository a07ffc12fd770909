#include "ui/window_placement.h"

#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace fc {

namespace {

// The frame the window manager adds; before a window is first shown it has
// none of its own yet, and the anchor's is the best guess. A pixel more a
// side: at twice the scale a frame of odd device pixels rounds either way.
// Just after a move the frame and the inside may disagree for a moment;
// no side counts less than nothing then.
QMargins FrameOf(const QWidget& window, const QWidget& anchor) {
    const QWidget& framed = window.isVisible() ? window : anchor;
    const QRect frame = framed.frameGeometry();
    const QRect inner = framed.geometry();
    const auto side = [](int pixels) { return std::max(pixels, 0) + 1; };
    return {side(inner.left() - frame.left()), side(inner.top() - frame.top()),
            side(frame.right() - inner.right()), side(frame.bottom() - inner.bottom())};
}

QRect KeptInside(QRect frame, const QRect& area) {
    frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
    return frame;
}

enum class Side { Right, Left, Below, Above };

// The strip of the screen on one side of the anchor.
QRect RoomOn(Side side, const QRect& anchor, const QRect& area) {
    switch (side) {
        case Side::Right:
            return {QPoint(anchor.right() + 1, area.top()), area.bottomRight()};
        case Side::Left:
            return {area.topLeft(), QPoint(anchor.left() - 1, area.bottom())};
        case Side::Below:
            return {QPoint(area.left(), anchor.bottom() + 1), area.bottomRight()};
        case Side::Above:
            break;
    }
    return {area.topLeft(), QPoint(area.right(), anchor.top() - 1)};
}

// Where a window of `size` on that side touches the anchor, lined up with it.
QPoint TouchingOn(Side side, const QRect& anchor, const QSize& size) {
    switch (side) {
        case Side::Right:
            return {anchor.right() + 1, anchor.top()};
        case Side::Left:
            return {anchor.left() - size.width(), anchor.top()};
        case Side::Below:
            return {anchor.left(), anchor.bottom() + 1};
        case Side::Above:
            break;
    }
    return {anchor.left(), anchor.top() - size.height()};
}

int AreaOf(const QSize& size) {
    return size.width() * size.height();
}

// The roomiest side of the anchor that takes at least the window's least
// size; else over the anchor.
QRect Chosen(const QRect& anchor, const QSize& preferred, const QSize& least, const QRect& area) {
    QRect best;
    for (const Side side : {Side::Right, Side::Left, Side::Below, Side::Above}) {
        const QRect room = RoomOn(side, anchor, area);
        const QSize size = preferred.boundedTo(room.size());
        if (!room.isValid() || size.width() < least.width() || size.height() < least.height() ||
            AreaOf(size) <= AreaOf(best.size()))
            continue;
        best = KeptInside(QRect(TouchingOn(side, anchor, size), size), room);
    }
    if (best.isValid())
        return best;
    QRect over(QPoint(), preferred.boundedTo(area.size()));
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
    // A strip that shows less than half of what the window would like to show
    // is no room for it.
    const QSize least =
        window.minimumSizeHint().expandedTo(window.minimumSize()).expandedTo(preferred / 2);
    const QRect placed =
        Chosen(anchor.frameGeometry(), preferred.grownBy(frame), least.grownBy(frame), area);
    window.resize(placed.size().shrunkBy(frame));
    window.move(placed.topLeft());
}

void OpenBeside(QWidget& window, const QWidget& anchor, const QSize& preferred) {
    if (!window.isVisible())
        PlaceBeside(window, anchor, preferred);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace fc
