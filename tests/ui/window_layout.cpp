#include "ui/window_layout.h"

namespace window_layout {

namespace {

// Rows both windows share, with the parallel-port geometry and tab indexes; the serial window
// differs in the rows patched below.
std::vector<ControlRow> sharedRows() {
    return {
        {"Label5", Kind::Label, "Порт компьютера ", {120, 480, 1575, 255}, 17},
        {"Combo1", Kind::Combo, nullptr, {2280, 480, 1095, 315}, 1},
        {"Line2", Kind::Line, nullptr, {120, 1800, 4200, 0}, -1},
        {"Label12", Kind::Label, "Настройка камеры", {120, 2040, 2175, 255}, 19},
        {"Label8", Kind::Label, "Сжатие", {120, 2400, 1095, 255}, 12},
        {"Combo2", Kind::Combo, "2", {1560, 2400, 1095, 315}, 10},
        {"Command9", Kind::Button, "Считать", {3120, 2400, 1215, 375}, 16},
        {"Label9", Kind::Label, "Цветность", {120, 2760, 1215, 255}, 13},
        {"Combo3", Kind::Combo, "Цветной", {1560, 2760, 1455, 315}, 11},
        {"Label10", Kind::Label, "Яркость", {120, 3480, 735, 255}, 24},
        {"Slider1", Kind::Slider, nullptr, {960, 3480, 2535, 255}, 20},
        {"Command10", Kind::Button, "Считать", {3480, 3480, 855, 1335}, 28},
        {"Label11", Kind::Label, "R", {720, 3840, 255, 255}, 25},
        {"Slider2", Kind::Slider, nullptr, {960, 3840, 2535, 255}, 21},
        {"Label13", Kind::Label, "G", {720, 4200, 255, 255}, 26},
        {"Slider3", Kind::Slider, nullptr, {960, 4200, 2535, 255}, 22},
        {"Label14", Kind::Label, "B", {720, 4560, 255, 255}, 27},
        {"Slider4", Kind::Slider, nullptr, {960, 4560, 2535, 255}, 23},
        {"Label15", Kind::Label, "Размер кадра", {120, 5040, 1215, 255}, 29},
        {"Combo5", Kind::Combo, "352x288", {1800, 5040, 1695, 315}, 30},
        {"Command1", Kind::Button, "Считать", {3720, 5040, 1215, 375}, 36},
        {"Check2", Kind::Check, "Произвольный", {120, 5520, 1575, 255}, 31},
        {"Text5", Kind::Text, "", {1800, 5520, 735, 285}, 32},
        {"Label16", Kind::Label, "x", {2640, 5520, 135, 255}, 34},
        {"Text6", Kind::Text, "", {2880, 5520, 735, 285}, 33},
        {"Command4", Kind::Button, "Записать", {3720, 5520, 1215, 375}, 35},
        {"Check3", Kind::Check, "Тестовый режим", {120, 6120, 1815, 255}, 47},
        {"Label1", Kind::Label, "Модуль камеры встраиваемый", {120, 6600, 3615, 375}, 37},
        {"Label2", Kind::Label, nullptr, {120, 6960, 3615, 375}, 38},
        {"Picture1", Kind::Picture, nullptr, {4440, 120, 5295, 4815}, 6},
        {"Line1", Kind::Line, nullptr, {5040, 5040, 0, 2400}, -1},
        {"Command12", Kind::Button, "Сформировать кадр", {5160, 5160, 1935, 375}, 7},
        {"Command7", Kind::Button, "Считать кадр", {5160, 5640, 1935, 375}, 15},
        {"Command14", Kind::Button, "Просмотреть кадр", {5160, 6120, 1935, 375}, 8},
        {"Command6", Kind::Button, "Записать кадр в файл", {5160, 6600, 1935, 375}, 3},
        {"Command3", Kind::Button, "Сброс модуля", {5160, 7080, 1935, 375}, 14},
        {"Label4", Kind::Label, "Принято байт", {7200, 5400, 1335, 255}, 5},
        {"Text4", Kind::Text, "0", {7200, 5640, 1095, 285}, 2},
        {"Check1", Kind::Check, "Цикл", {8760, 5520, 855, 375}, 9},
        {"Command8", Kind::Button, "Очистить буфер", {7200, 6120, 1935, 375}, 4},
        {"Command5", Kind::Button, "Выход", {8400, 7080, 1335, 375}, 0},
    };
}

ControlRow& row(std::vector<ControlRow>& rows, const char* name) {
    for (ControlRow& r : rows) {
        if (QString::fromLatin1(r.name) == QString::fromLatin1(name)) {
            return r;
        }
    }
    return rows.front();
}

}  // namespace

std::vector<ControlRow> spiWindow() {
    std::vector<ControlRow> rows = sharedRows();
    rows.insert(rows.begin(),
                {
                    {"Label6", Kind::Label, "Настройка SPI", {120, 120, 2055, 255}, 18},
                    {"Label7", Kind::Label, "Регистр SPI", {120, 1080, 1095, 255}, 45},
                    {"Option1", Kind::Option, "0", {1560, 1080, 495, 255}, 41},
                    {"Option2", Kind::Option, "1", {2040, 1080, 495, 255}, 42},
                    {"Option3", Kind::Option, "2", {2520, 1080, 495, 255}, 43},
                    {"Option4", Kind::Option, "3", {3000, 1080, 495, 255}, 44},
                    {"Command2", Kind::Button, "Считать", {3120, 1320, 1215, 375}, 46},
                    {"Label17", Kind::Label, "Статус камеры", {2280, 6120, 1335, 255}, 40},
                    {"Label3", Kind::Label, "", {3720, 6120, 1215, 255}, 39},
                });
    row(rows, "Combo1").caption = "LPT1";
    return rows;
}

std::vector<ControlRow> comtrakWindow() {
    std::vector<ControlRow> rows = sharedRows();
    rows.insert(rows.begin(),
                {
                    {"Label6", Kind::Label, "Настройка UART", {120, 120, 2055, 255}, 18},
                    {"Label7", Kind::Label, "Скорость передачи", {120, 960, 1815, 255}, 19},
                    {"Combo4", Kind::Combo, "2400", {2280, 960, 1095, 315}, 20},
                    {"Command13", Kind::Button, "Считать", {1800, 1320, 1215, 375}, 22},
                    {"Command15", Kind::Button, "Записать", {3120, 1320, 1215, 375}, 23},
                });
    row(rows, "Combo1").caption = "COM2";
    // The frame-size rows sit 120 twips lower, "Тестовый режим" higher and wider.
    for (const char* name : {"Label15", "Combo5", "Command1"}) {
        row(rows, name).twips.moveTop(5160);
    }
    for (const char* name : {"Check2", "Text5", "Label16", "Text6", "Command4"}) {
        row(rows, name).twips.moveTop(5640);
    }
    row(rows, "Check3").twips = QRect(120, 6000, 2655, 255);
    // Tab indexes that differ.
    const std::pair<const char*, int> tabs[] = {
        {"Label12", 21}, {"Label10", 28}, {"Slider1", 24},  {"Command10", 32}, {"Label11", 29},
        {"Slider2", 25}, {"Label13", 30}, {"Slider3", 26},  {"Label14", 31},   {"Slider4", 27},
        {"Label15", 33}, {"Combo5", 34},  {"Command1", 40}, {"Check2", 35},    {"Text5", 36},
        {"Label16", 38}, {"Text6", 37},   {"Command4", 39}, {"Check3", 43},    {"Label1", 41},
        {"Label2", 42}};
    for (auto [name, tab] : tabs) {
        row(rows, name).tab = tab;
    }
    return rows;
}

}  // namespace window_layout
