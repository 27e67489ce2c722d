// Finding, clicking and picking the windows' controls by their object names, the way the
// operator uses them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QObject>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <functional>
#include <span>

namespace testing_support {

// The control of `window` named `name`; a missing one fails the test and is a null.
template <typename T>
T* findControl(const QObject& window, const char* name) {
    auto* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << "no control " << name;
    return found;
}

// A left click on the named control.
inline void clickControl(const QObject& window, const char* name) {
    if (auto* control = findControl<QWidget>(window, name)) {
        QTest::mouseClick(control, Qt::LeftButton);
    }
}

// The window has seen the last frame end: its frame read ("Считать кадр") may be clicked again.
inline bool frameReadAgain(const QObject& window) {
    return findControl<QWidget>(window, "Command7")->isEnabled();
}

// A pick of entry `index` from the named combo box's list: the entry becomes the current one and
// the box tells it was activated, as it does for the operator's pick (typing does not).
inline void pickEntry(const QObject& window, const char* name, int index) {
    if (auto* box = findControl<QComboBox>(window, name)) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
}

// Shows `window` as the active window, so focus moves send their focus events, and gives the
// named control the keyboard focus.
inline QWidget* focusControl(QWidget& window, const char* name) {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* control = findControl<QWidget>(window, name);
    if (control) {
        control->setFocus(Qt::MouseFocusReason);
    }
    return control;
}

// One turn of the mouse wheel over `control`, `notches` notches towards the operator (down the
// list).
inline void turnWheel(QWidget* control, int notches) {
    const QPointF at = QRectF(control->rect()).center();
    QWheelEvent wheel(at, QPointF(control->mapToGlobal(at.toPoint())), QPoint(),
                      QPoint(0, -120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(control, &wheel);
}

// Text typed into a list box.
struct Typed {
    const char* box;
    const char* text;
};

// Typing into a box ended without Enter, each case three ways: Tab, the focus taken by
// `elsewhere` (as a click there takes it), and that and a wheel notch over the box. Nothing may
// run (`ranNothing` says so), and the box keeps the typed text and its entries.
inline void typeAndLeave(QWidget& window, std::span<const Typed> cases, const char* elsewhere,
                         const std::function<bool()>& ranNothing) {
    for (const char* way : {"Tab", "focus elsewhere", "wheel"}) {
        for (const Typed& c : cases) {
            auto* box = qobject_cast<QComboBox*>(focusControl(window, c.box));
            ASSERT_NE(box, nullptr) << c.box;
            const int entries = box->count();
            box->clearEditText();
            for (const QChar ch : QString::fromUtf8(c.text)) {  // keyClicks takes ASCII only
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch),
                                    Qt::NoModifier);
            }
            if (way[0] == 'T') {
                QTest::keyClick(box, Qt::Key_Tab);
            } else {
                findControl<QWidget>(window, elsewhere)->setFocus(Qt::MouseFocusReason);
            }
            if (way[0] == 'w') {
                turnWheel(box, 1);
            }
            const auto where = ::testing::Message() << c.box << " " << c.text << " " << way;
            EXPECT_TRUE(ranNothing()) << where;
            EXPECT_EQ(box->currentText(), QString::fromUtf8(c.text)) << where;
            EXPECT_EQ(box->count(), entries) << where;
        }
    }
}

}  // namespace testing_support
