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

// The layout puts neighbouring controls 15 twips (one pixel) into each other in places: the mode
// buttons, the sliders and their letters, the two title lines, the byte count and its caption.
// Each control is drawn one pixel short of its right and bottom edge, so none covers another.
inline constexpr int kNeighbourOverlapPixels = 1;

inline QRect twipRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width) - kNeighbourOverlapPixels,
            twipsToPixels(height) - kNeighbourOverlapPixels};
}

inline QPoint twipPoint(int x, int y) {
    return {twipsToPixels(x), twipsToPixels(y)};
}

}  // namespace ui
