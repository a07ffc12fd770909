#include "ui/application_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Resources linked from a static library must be registered by hand, from
// outside any namespace.
static void RegisterApplicationResources() {
    Q_INIT_RESOURCE(fcloader);
}

namespace fc {

namespace {
QPixmap Render(QSvgRenderer& renderer, int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}
}  // namespace

QIcon ApplicationIcon() {
    // Rendered here rather than left to an icon-engine plug-in, which a
    // desktop may lack: then the window would silently have no icon.
    RegisterApplicationResources();
    QSvgRenderer renderer(QStringLiteral(":/fcloader.svg"));
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Render(renderer, side));
    return icon;
}

}  // namespace fc
