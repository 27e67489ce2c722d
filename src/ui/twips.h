// Window geometry is laid out in twips, as the window's design gives it: 1440 per inch, 15 per
// pixel at 96 pixels per inch.
#pragma once

#include <QPoint>
#include <QRect>

namespace ui {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}

inline QRect twipRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

inline QPoint twipPoint(int x, int y) {
    return {twipsToPixels(x), twipsToPixels(y)};
}

}  // namespace ui
