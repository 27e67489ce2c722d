// Combo boxes whose list is the only way to choose an entry. The operator may type into the box,
// but typing, Enter and leaving the box run nothing and add no entry; a pick from the list runs
// the box's handler once: a click or Enter in the open list, Up or Down on the closed box, the
// mouse wheel over the box that has the keyboard focus.
#pragma once

#include <QString>
#include <functional>

class QComboBox;
class QObject;

namespace ui {

// Makes `box` such a box: typed text is never inserted into the list, Enter in its text is
// swallowed, leaving the box keeps the typed text as it is, and a wheel over it without the
// keyboard focus does nothing. For a box that runs nothing on a pick (it is read by buttons).
void makeListBox(QComboBox* box);

// makeListBox, and `picked` runs once for every pick from the list while `context` lives.
void onListPick(QComboBox* box, const QObject* context, std::function<void()> picked);

// Shows `text` in the box without running anything. When the text is one of the entries, that
// entry becomes the current one, so Up and Down move on from the entry shown; otherwise no entry
// is current and Down picks the first.
void showInBox(QComboBox* box, const QString& text);

}  // namespace ui
