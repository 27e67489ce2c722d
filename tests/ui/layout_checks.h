// Checks a window against its written-down layout: kind, caption, geometry, tab order, overlaps
// and whether every caption fits its box in the font the window uses.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <map>

#include "ui/twips.h"
#include "ui/window_layout.h"

namespace window_layout {

inline bool isKind(QWidget* w, Kind kind) {
    switch (kind) {
        case Kind::Label:
            return qobject_cast<QLabel*>(w) != nullptr;
        case Kind::Picture:
            return qobject_cast<QLabel*>(w) != nullptr &&
                   qobject_cast<QLabel*>(w)->frameShape() != QFrame::NoFrame;
        case Kind::Button:
            return qobject_cast<QPushButton*>(w) != nullptr;
        case Kind::Combo:
            return qobject_cast<QComboBox*>(w) != nullptr &&
                   qobject_cast<QComboBox*>(w)->isEditable();
        case Kind::Check:
            return qobject_cast<QCheckBox*>(w) != nullptr;
        case Kind::Option:
            return qobject_cast<QRadioButton*>(w) != nullptr;
        case Kind::Slider:
            return qobject_cast<QSlider*>(w) != nullptr;
        case Kind::Text:
            return qobject_cast<QLineEdit*>(w) != nullptr;
        case Kind::Line: {
            auto* frame = qobject_cast<QFrame*>(w);
            return frame != nullptr &&
                   (frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine);
        }
    }
    return false;
}

inline QString captionOf(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) {
        return l->text();
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        return b->text();
    }
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        return c->currentText();
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        return e->text();
    }
    return {};
}

// The room a caption needs inside its control.
inline int roomNeeded(QWidget* w, Kind kind) {
    const QString text = captionOf(w);
    const int textWidth = QFontMetrics(w->font()).horizontalAdvance(text);
    QStyle* style = w->style();
    switch (kind) {
        case Kind::Button:
            return textWidth + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) / 2;
        case Kind::Check:
            return textWidth + style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                   style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
        case Kind::Option:
            return textWidth + style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
                   style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
        case Kind::Label:
            return textWidth;
        default:
            return 0;
    }
}

inline void checkWindow(QWidget& window, const std::vector<ControlRow>& rows) {
    std::vector<std::pair<const ControlRow*, QWidget*>> placed;
    for (const ControlRow& row : rows) {
        SCOPED_TRACE(row.name);
        auto* w = window.findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(isKind(w, row.kind));
        if (row.kind == Kind::Line) {
            const QRect g = w->geometry();
            EXPECT_TRUE(g.contains(ui::twipPoint(row.twips.x(), row.twips.y())));
            EXPECT_TRUE(g.contains(ui::twipPoint(row.twips.x() + row.twips.width(),
                                                 row.twips.y() + row.twips.height())));
            continue;
        }
        // 15 twips to the pixel, one pixel short on the right and bottom.
        const QRect expectedPixels(row.twips.x() / 15, row.twips.y() / 15,
                                   row.twips.width() / 15 - 1, row.twips.height() / 15 - 1);
        EXPECT_EQ(w->geometry(), expectedPixels);
        if (row.caption != nullptr) {
            EXPECT_EQ(captionOf(w), QString::fromUtf8(row.caption));
        }
        EXPECT_LE(roomNeeded(w, row.kind), w->width()) << captionOf(w).toStdString();
        placed.emplace_back(&row, w);
    }

    // No two controls share a pixel.
    for (std::size_t i = 0; i < placed.size(); ++i) {
        for (std::size_t j = i + 1; j < placed.size(); ++j) {
            EXPECT_FALSE(placed[i].second->geometry().intersects(placed[j].second->geometry()))
                << placed[i].first->name << " overlaps " << placed[j].first->name;
        }
    }

    // The keyboard focus visits the focusable controls in tab-index order.
    std::map<int, QWidget*> byTab;
    for (auto [row, w] : placed) {
        if (w->focusPolicy() != Qt::NoFocus) {
            byTab[row->tab] = w;
        }
    }
    ASSERT_FALSE(byTab.empty());
    std::vector<QString> expected;
    for (auto [tab, w] : byTab) {
        expected.push_back(w->objectName());
    }
    std::vector<QString> chain;
    QWidget* w = byTab.begin()->second;
    for (std::size_t guard = 0; guard < 1000 && chain.size() < expected.size(); ++guard) {
        if (w->focusPolicy() != Qt::NoFocus && !w->objectName().isEmpty() &&
            std::find(expected.begin(), expected.end(), w->objectName()) != expected.end()) {
            chain.push_back(w->objectName());
        }
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, expected);
}

}  // namespace window_layout

namespace window_layout {

inline QStringList listOf(QWidget& window, const char* name) {
    QStringList entries;
    auto* combo = window.findChild<QComboBox*>(QString::fromLatin1(name));
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

// Lists, ranges, ticks, enabled states and the window itself, as they are when it opens.
inline void checkStartState(QWidget& window, const QString& caption, const QStringList& ports) {
    EXPECT_EQ(window.windowTitle(), caption);
    EXPECT_EQ(window.size(), QSize(9855 / 15, 7560 / 15));
    EXPECT_EQ(listOf(window, "Combo1"), ports);
    EXPECT_EQ(listOf(window, "Combo2"), QStringList({"0", "1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(listOf(window, "Combo3"), QStringList({"Цветной", "Черно-белый"}));
    EXPECT_EQ(listOf(window, "Combo5"), QStringList({"352x288", "320x240", "176x144", "160x120"}));

    struct SliderRow {
        const char* name;
        int maximum, position, tick;
    };
    for (const SliderRow& s : {SliderRow{"Slider1", 25, 6, 1}, SliderRow{"Slider2", 63, 31, 4},
                               SliderRow{"Slider3", 63, 31, 4}, SliderRow{"Slider4", 63, 31, 4}}) {
        auto* slider = window.findChild<QSlider*>(QString::fromLatin1(s.name));
        ASSERT_NE(slider, nullptr) << s.name;
        EXPECT_EQ(slider->orientation(), Qt::Horizontal);
        EXPECT_EQ(slider->minimum(), 0) << s.name;
        EXPECT_EQ(slider->maximum(), s.maximum) << s.name;
        EXPECT_EQ(slider->value(), s.position) << s.name;
        EXPECT_EQ(slider->tickInterval(), s.tick) << s.name;
        EXPECT_EQ(slider->singleStep(), 1);
        EXPECT_EQ(slider->pageStep(), 5);
    }
    for (const char* check : {"Check1", "Check2", "Check3"}) {
        EXPECT_FALSE(window.findChild<QCheckBox*>(check)->isChecked()) << check;
    }
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && w->objectName() != "Command4" && w->parent() == &window) {
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        }
    }
    EXPECT_FALSE(window.findChild<QWidget*>("Command4")->isEnabled());
    EXPECT_TRUE(window.findChild<QLabel*>("Picture1")->pixmap().isNull());
    auto* timer = window.findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_LE(timer->interval(), 16);  // no operator tells it from 1 ms
    EXPECT_TRUE(timer->isActive());

    // The fonts: bold titles in a serif, bold headings in the sans serif.
    for (const char* title : {"Label1", "Label2"}) {
        const QFont f = window.findChild<QLabel*>(title)->font();
        EXPECT_TRUE(f.bold());
        EXPECT_DOUBLE_EQ(f.pointSizeF(), 12.0);
        EXPECT_EQ(QFontInfo(f).family(), "Liberation Serif") << "fonts-liberation installed?";
    }
    for (const char* heading : {"Label6", "Label12"}) {
        const QFont f = window.findChild<QLabel*>(heading)->font();
        EXPECT_TRUE(f.bold());
        EXPECT_DOUBLE_EQ(f.pointSizeF(), 9.75);
    }
    EXPECT_EQ(QFontInfo(window.font()).family(), "Liberation Sans");
}

}  // namespace window_layout
