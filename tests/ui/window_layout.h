// The windows' layout as the design lays it out, written down independently of the window code:
// every control's kind, caption, geometry in twips and tab index.
#pragma once

#include <QRect>
#include <QString>
#include <vector>

namespace window_layout {

enum class Kind { Label, Button, Combo, Check, Option, Slider, Text, Picture, Line };

struct ControlRow {
    const char* name;
    Kind kind;
    const char* caption;  // caption or initial text; nullptr where there is none
    QRect twips;          // left, top, width, height (a line: from (x, y) to (x + w, y + h))
    int tab;              // -1 for a line
};

std::vector<ControlRow> spiWindow();
std::vector<ControlRow> comtrakWindow();

}  // namespace window_layout
