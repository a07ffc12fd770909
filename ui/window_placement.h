#pragma once

class QSize;
class QWidget;

namespace fc {

// Sizes and moves `window` (a secondary window: traffic, watch) before it
// opens: no larger than the screen's available area, and beside `anchor`
// (on the roomiest side that shows at least half of it) where the screen has
// room; where it has none, over the anchor, kept on the screen. `preferred`
// is the size it would like, without the window manager's frame.
void PlaceBeside(QWidget& window, const QWidget& anchor, const QSize& preferred);

// Shows a secondary window in front, placed afresh (PlaceBeside) each time
// it opens; one already open stays where the user put it.
void OpenBeside(QWidget& window, const QWidget& anchor, const QSize& preferred);

}  // namespace fc
