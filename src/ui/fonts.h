// The window's fonts. The layout was drawn for "MS Sans Serif" and "Times New Roman", and those
// are asked for first. Where they are missing (as on most Linux systems), Liberation Sans and
// Liberation Serif (Debian's fonts-liberation) stand in: they have the metrics of Arial and
// Times New Roman, so every caption keeps the room it was given. The system's own substitute for
// a missing family is never taken, since its metrics are anyone's guess.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace ui {

// A family the window was drawn for, and the one with its metrics that stands in for it.
struct FontFamilies {
    const char* drawnFor;
    const char* standIn;
};

inline constexpr FontFamilies kSansFamily{"MS Sans Serif", "Liberation Sans"};
inline constexpr FontFamilies kSerifFamily{"Times New Roman", "Liberation Serif"};

inline constexpr double kControlPoints = 8.25;  // every control without a font of its own
inline constexpr double kHeadingPoints = 9.75;  // "Настройка SPI/UART", "Настройка камеры"
inline constexpr double kTitlePoints = 12.0;  // the two title lines at the lower left
inline constexpr double kIndicatorPoints = 8.25;

inline QFont windowFont(const FontFamilies& families, double points, bool bold) {
    QFont font;
    font.setFamilies(
        {QString::fromLatin1(families.drawnFor), QString::fromLatin1(families.standIn)});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

}  // namespace ui
