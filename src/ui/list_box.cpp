#include "ui/list_box.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace ui {

namespace {

// Keeps a box's `activated` signal for picks from its list. QComboBox emits it for more:
// - Enter in the box's own text: it inserts the text, or selects a matching entry and emits
//   `activated` (once more through its completer). Enter there is swallowed. Enter in the open
//   list is not affected: the list gets its keys itself, not through the box.
// - the end of typing when the box loses the focus (Tab, a click elsewhere): the text emits
//   `editingFinished`, on which the box selects a matching entry and emits `activated`. The
//   focus leaves with the text's signals blocked, so the typed text stays as it is and nothing
//   runs.
// - the wheel over the box, focused or not. A wheel over a box without the keyboard focus is
//   swallowed, and the box no longer takes the focus from the wheel.
class ListBoxFilter final : public QObject {
  public:
    explicit ListBoxFilter(QComboBox* box) : QObject(box), box_(box) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress: {
                const int key = static_cast<QKeyEvent*>(event)->key();
                return key == Qt::Key_Return || key == Qt::Key_Enter;
            }
            case QEvent::FocusOut:
                if (watched == box_ && box_->lineEdit()) {
                    const QSignalBlocker quiet(box_->lineEdit());
                    return static_cast<QObject*>(box_)->event(event);
                }
                return false;
            case QEvent::Wheel:
                return watched == box_ && !box_->hasFocus();
            default:
                return false;
        }
    }

  private:
    QComboBox* box_;
};

}  // namespace

void makeListBox(QComboBox* box) {
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setFocusPolicy(Qt::StrongFocus);
    auto* filter = new ListBoxFilter(box);
    // Keys and the focus reach the text through the box (the text hands its focus to the box),
    // but a key sent to the text itself is swallowed too.
    box->installEventFilter(filter);
    if (QLineEdit* text = box->lineEdit()) {
        text->installEventFilter(filter);
    }
}

void onListPick(QComboBox* box, const QObject* context, std::function<void()> picked) {
    makeListBox(box);
    QObject::connect(box, &QComboBox::activated, context,
                     [picked = std::move(picked)] { picked(); });
}

void showInBox(QComboBox* box, const QString& text) {
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly));
    box->setEditText(text);
}

}  // namespace ui
