#include "Platform/UI/ComboBox.h"

#include "Platform/UI/WidgetHostView_p.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace kesto::ui {

namespace {
QComboBox* box(const ComboBox& b) { return hostedWidgetAs<QComboBox>(b); }

// Hands the keys that edit text from the open list to the box's field; the list keeps the keys
// that move in it or choose (arrows, page keys, Escape). Tab and Shift-Tab close the list and go
// to the field, as they would with the list closed; so does Return, unless the arrows moved to
// an item since the list opened: Return then chooses that item.
class TypingForwarder : public QObject {
 public:
  explicit TypingForwarder(QComboBox* combo) : QObject(combo), combo_(combo) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) movedInList_ = false;  // the list opened
    const bool isReturn = [&] {
      if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
      const int k = static_cast<QKeyEvent*>(event)->key();
      return k == Qt::Key_Return || k == Qt::Key_Enter;
    }();
    // The list takes Return for its highlighted item as the key is offered as a shortcut, ahead
    // of the key itself: unless the arrows moved, it stays an ordinary key, for the field.
    if (event->type() == QEvent::ShortcutOverride && isReturn && !movedInList_) {
      event->accept();
      return true;
    }
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Home:
      case Qt::Key_End:
        movedInList_ = true;
        return false;
      default:
        break;
    }
    const bool leaves = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || (isReturn && !movedInList_);
    const bool edits = key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete ||
                       key->key() == Qt::Key_Left || key->key() == Qt::Key_Right ||
                       (!key->text().isEmpty() && key->text().at(0).isPrint());
    if ((!edits && !leaves) || !combo_->lineEdit()) return false;
    if (leaves) combo_->hidePopup();
    QCoreApplication::sendEvent(combo_->lineEdit(), event);
    return true;
  }

 private:
  QComboBox* combo_;
  bool movedInList_ = false;
};
}  // namespace

ComboBox::ComboBox(const fnd::Rect& frame) : TextControl(frame) {
  auto* combo = new QComboBox;
  combo->setEditable(true);
  // Suggestions never add what the user typed to the list.
  combo->setInsertPolicy(QComboBox::NoInsert);
  // Nothing is completed inline: what was typed stays as typed; the list offers the rest.
  combo->setCompleter(nullptr);
  // The toolkit takes a field left with text that equals an item (its list opening takes the
  // focus) for that item's activation: the field's text is no choice, so the box hears nothing
  // of the field's end of editing.
  QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
  QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [this] { userDidChangeText(); });
  QObject::connect(combo->lineEdit(), &QLineEdit::returnPressed, combo, [this] { sendAction(); });
  // A choice from the list is no typing: the delegate hears of typed changes only, so a list
  // that follows the typed text is not opened again by the choice that closed it. The toolkit
  // also reports Return on a typed text that equals an item as that item's activation: that is
  // the field's Return, not a choice.
  QObject::connect(combo, &QComboBox::activated, combo, [this](int index) {
    if (returnInField_) return;
    sendAction();
    if (selectionAction_) selectionAction_(index);
  });
  // While the list is open the typing goes on in the field, as the list follows the text.
  combo->view()->installEventFilter(new TypingForwarder(combo));
  setHostedWidget(*this, combo);
}

std::string ComboBox::stringValue() const { return box(*this)->currentText().toStdString(); }
void ComboBox::setStringValue(const std::string& text) { box(*this)->setEditText(QString::fromStdString(text)); }

void ComboBox::addItemWithObjectValue(const std::string& item) {
  QString text = box(*this)->currentText();
  box(*this)->addItem(QString::fromStdString(item));
  box(*this)->setEditText(text);  // adding never replaces what the user typed
}

void ComboBox::addItemsWithObjectValues(const std::vector<std::string>& items) {
  for (auto& item : items) addItemWithObjectValue(item);
}

void ComboBox::removeAllItems() {
  QString text = box(*this)->currentText();
  box(*this)->clear();
  box(*this)->setEditText(text);
}

std::vector<std::string> ComboBox::objectValues() const {
  std::vector<std::string> values;
  for (int i = 0; i < box(*this)->count(); ++i) values.push_back(box(*this)->itemText(i).toStdString());
  return values;
}

int ComboBox::numberOfItems() const { return box(*this)->count(); }
int ComboBox::numberOfVisibleItems() const { return box(*this)->maxVisibleItems(); }
void ComboBox::setNumberOfVisibleItems(int count) { box(*this)->setMaxVisibleItems(std::max(1, count)); }

void ComboBox::showPopup() {
  if (isPopupOpen() || box(*this)->count() == 0) return;
  QString text = box(*this)->currentText();
  box(*this)->showPopup();
  box(*this)->setEditText(text);
}

void ComboBox::hidePopup() {
  if (isPopupOpen()) box(*this)->hidePopup();
}

bool ComboBox::isPopupOpen() const {
  QAbstractItemView* list = box(*this)->view();
  return list && list->isVisible();
}

void ComboBox::keyDown(const Event& event) {
  const bool isReturn = event.keyCode == KeyCode::Return || event.keyCode == KeyCode::KeypadEnter;
  const bool outer = returnInField_;
  if (isReturn) returnInField_ = true;
  TextControl::keyDown(event);
  returnInField_ = outer;
}

void ComboBox::applyReadOnly(bool readOnly) { box(*this)->lineEdit()->setReadOnly(readOnly); }

}  // namespace kesto::ui
