#include "ui/dialog_units.h"

#include <QApplication>
#include <QFontMetricsF>
#include <cmath>

namespace fc {

namespace {
// The average character width is that of the alphabet in both cases, the
// measure the layouts were drawn against.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kAlphabetLength = 52.0;
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    per_unit_x_ = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength /
                  4.0 * kWidthAllowance;
    per_unit_y_ = metrics.height() / 8.0;
}

QFont DialogUnits::DialogFont() {
    return QApplication::font();
}

int DialogUnits::XToPixels(int x) const {
    return static_cast<int>(std::lround(x * per_unit_x_));
}

int DialogUnits::YToPixels(int y) const {
    return static_cast<int>(std::lround(y * per_unit_y_));
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    const int left = XToPixels(x);
    const int top = YToPixels(y);
    return QRect(left, top, XToPixels(x + width) - left, YToPixels(y + height) - top);
}

QSize DialogUnits::ToPixels(int width, int height) const {
    return QSize(XToPixels(width), YToPixels(height));
}

}  // namespace fc
