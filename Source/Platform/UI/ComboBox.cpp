#include "Platform/UI/ComboBox.h"

#include "Platform/UI/WidgetHostView_p.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

namespace kesto::ui {

namespace {
QComboBox* box(const ComboBox& b) { return hostedWidgetAs<QComboBox>(b); }
}  // namespace

ComboBox::ComboBox(const fnd::Rect& frame) : TextControl(frame) {
  auto* combo = new QComboBox;
  combo->setEditable(true);
  // Suggestions never add what the user typed to the list.
  combo->setInsertPolicy(QComboBox::NoInsert);
  QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [this] { userDidChangeText(); });
  QObject::connect(combo->lineEdit(), &QLineEdit::returnPressed, combo, [this] { sendAction(); });
  QObject::connect(combo, &QComboBox::activated, combo, [this](int) {
    userDidChangeText();
    sendAction();
  });
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

void ComboBox::applyReadOnly(bool readOnly) { box(*this)->lineEdit()->setReadOnly(readOnly); }

}  // namespace kesto::ui
