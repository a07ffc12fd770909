#pragma once

class QSize;
class QWidget;

namespace fc {

// Opens `window` (a secondary window: traffic, watch) no larger than the
// screen's available area, and beside `anchor` (right, left, below, above)
// where the screen has room for it; where it has none, over the anchor,
// kept on the screen. `preferred` is the size of its contents it would like.
void PlaceBeside(QWidget& window, const QWidget& anchor, const QSize& preferred);

}  // namespace fc
