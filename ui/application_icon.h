#pragma once

#include <QIcon>
#include <QSize>

namespace fc {

// The size of the icon in the About box and of the window's large icon.
inline const QSize kApplicationIconSize(32, 32);

// The tool's icon, drawn from the SVG kept with the sources.
QIcon ApplicationIcon();

}  // namespace fc
