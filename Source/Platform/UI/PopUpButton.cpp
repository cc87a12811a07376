#include "Platform/UI/PopUpButton.h"

#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QIcon>
#include <QPixmap>

#include <QComboBox>

namespace kesto::ui {

namespace {
QComboBox* box(const PopUpButton& b) { return hostedWidgetAs<QComboBox>(b); }
}  // namespace

PopUpButton::PopUpButton(const fnd::Rect& frame) : Control(frame) {
  auto* combo = new QComboBox;
  QObject::connect(combo, &QComboBox::activated, combo, [this](int) { sendAction(); });
  setHostedWidget(*this, combo);
}

void PopUpButton::addItemWithTitle(const std::string& title) { box(*this)->addItem(QString::fromStdString(title)); }
void PopUpButton::addItemWithTitle(const std::string& title, const Image& image) {
  if (image.isNull()) return addItemWithTitle(title);
  box(*this)->addItem(QIcon(QPixmap::fromImage(ImplAccess::of(image)->image)), QString::fromStdString(title));
}

void PopUpButton::removeAllItems() { box(*this)->clear(); }

std::vector<std::string> PopUpButton::itemTitles() const {
  std::vector<std::string> titles;
  for (int i = 0; i < box(*this)->count(); ++i) titles.push_back(box(*this)->itemText(i).toStdString());
  return titles;
}

int PopUpButton::numberOfItems() const { return box(*this)->count(); }
int PopUpButton::indexOfSelectedItem() const { return box(*this)->currentIndex(); }

void PopUpButton::selectItemAtIndex(int index) {
  if (index >= 0 && index < box(*this)->count()) box(*this)->setCurrentIndex(index);
}

void PopUpButton::sizeToFit() {
  fnd::Rect f = frame();
  box(*this)->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  f.size.width = box(*this)->sizeHint().width();
  setFrame(f);
}

std::string PopUpButton::titleOfSelectedItem() const { return box(*this)->currentText().toStdString(); }

}  // namespace kesto::ui
