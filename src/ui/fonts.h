// The window's fonts. The layout was drawn for "MS Sans Serif" and "Times New Roman", which Linux
// does not have; Liberation Sans and Liberation Serif (Debian's fonts-liberation) have the metrics
// of Arial and Times New Roman, so every caption keeps the room it was given.
#pragma once

#include <QFont>
#include <QString>

namespace ui {

inline constexpr char kSansFamily[] = "Liberation Sans";
inline constexpr char kSerifFamily[] = "Liberation Serif";

inline constexpr double kControlPoints = 8.25;  // every control without a font of its own
inline constexpr double kHeadingPoints = 9.75;  // "Настройка SPI/UART", "Настройка камеры"
inline constexpr double kTitlePoints = 12.0;  // the two title lines at the lower left
inline constexpr double kIndicatorPoints = 8.25;

inline QFont windowFont(const char* family, double points, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

}  // namespace ui
