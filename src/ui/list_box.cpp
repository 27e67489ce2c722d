#include "ui/list_box.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace ui {

namespace {

// Swallows Enter in the box's own text. QComboBox takes Enter there as an entry for its list:
// it inserts the text, or selects a matching entry and emits `activated` (once more through its
// completer), which is the signal a pick from the list emits too. With Enter gone before it
// reaches the box, `activated` means a pick. Enter in the open list is not affected: the list
// gets its keys itself, not through the box.
class EnterInTextFilter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void makeListBox(QComboBox* box) {
    box->setInsertPolicy(QComboBox::NoInsert);
    auto* filter = new EnterInTextFilter(box);
    // Keys reach the text through the box (the text hands its focus to the box), but a key sent
    // to the text itself is swallowed too.
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
