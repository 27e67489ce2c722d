// Finding, clicking and picking the windows' controls by their object names, the way the
// operator uses them.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QObject>
#include <QTest>
#include <QWidget>

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

// A pick of entry `index` from the named combo box's list: the entry becomes the current one and
// the box tells it was activated, as it does for the operator's pick (typing does not).
inline void pickEntry(const QObject& window, const char* name, int index) {
    if (auto* box = findControl<QComboBox>(window, name)) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
}

}  // namespace testing_support
