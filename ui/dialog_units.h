#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace fc {

// Every window of the tool is laid out in dialog units: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an
// eighth of its height, so a layout drawn for one font keeps its proportions
// in another.
//
// The layouts were drawn for a font whose running text is narrow for its
// alphabet average; the sans-serif fonts of Linux desktops (DejaVu, Noto)
// set the same sentences up to 7% wider against their average, so labels
// drawn to fit exactly would lose their last letters. The horizontal unit is
// therefore widened by a tenth, which makes the window that much wider.
//
// The dialog font is the desktop's own user-interface font at the size the
// user chose for it, not a fixed 8 points: the layouts were drawn for the
// 8-point dialog font of another desktop, whose glyphs are about as tall as
// a Linux desktop's 8-point font, but on a desktop set to 10 or 11 points an
// 8-point window is the one small thing on the screen. Deriving the units from
// the font actually used makes the window grow with it (282 x 196 units come
// to about 480 x 315 pixels at 8 points, 560 x 380 at 10), and text drawn for
// the old font fits the new one because both scale together.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    // The font every dialog of the tool uses.
    static QFont DialogFont();
    // The units of DialogFont().
    static DialogUnits ForDialogFont() { return DialogUnits(DialogFont()); }

    // Edges are converted, not sizes, so controls that touch in dialog units
    // touch on the screen too.
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;
    int XToPixels(int x) const;
    int YToPixels(int y) const;

    double PixelsPerUnitX() const { return per_unit_x_; }
    double PixelsPerUnitY() const { return per_unit_y_; }

    static constexpr double kWidthAllowance = 1.1;

  private:
    double per_unit_x_;
    double per_unit_y_;
};

}  // namespace fc
