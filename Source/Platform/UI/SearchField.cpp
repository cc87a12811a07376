#include "Platform/UI/SearchField.h"

#include "Platform/UI/WidgetHostView_p.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace kesto::ui {

namespace {
// The desktop's magnifier, or a drawn one where the icon theme has none.
QIcon magnifier() {
  QIcon icon = QIcon::fromTheme("edit-find");
  if (!icon.isNull()) return icon;
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(110, 110, 110), 1.6));
  p.drawEllipse(QRectF(2.5, 2.5, 8, 8));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
  return QIcon(pixmap);
}

// The clear button shows only over text, and enabling it has the style look its icon up in the
// desktop's icon theme, tens of milliseconds at start before the window's first frame: it is
// enabled when the field first takes the focus or holds text, before it can be seen.
class ClearButtonWhenNeeded : public QObject {
 public:
  explicit ClearButtonWhenNeeded(QLineEdit* edit) : QObject(edit), edit_(edit) {
    edit->installEventFilter(this);
    QObject::connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
      if (!text.isEmpty()) enable();
    });
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == edit_ && event->type() == QEvent::FocusIn) enable();
    return false;
  }

 private:
  void enable() {
    if (!edit_->isClearButtonEnabled()) edit_->setClearButtonEnabled(true);
  }
  QLineEdit* edit_;
};

}  // namespace

SearchField::SearchField(const fnd::Rect& frame) : TextField(frame) {
  auto* edit = hostedWidgetAs<QLineEdit>(*this);
  new ClearButtonWhenNeeded(edit);
  QAction* menu = edit->addAction(magnifier(), QLineEdit::LeadingPosition);
  QObject::connect(menu, &QAction::triggered, edit, [this] { showSearchMenu(); });
  QObject::connect(edit, &QLineEdit::textEdited, edit, [this] { sendAction(); });
}

void SearchField::setSearchMenu(std::vector<MenuItem> items, std::function<void(int)> chosen) {
  menuItems_ = std::move(items);
  menuChosen_ = std::move(chosen);
}

void SearchField::setSearchMenuItemState(int tag, bool on) {
  for (auto& item : menuItems_)
    if (item.tag == tag) item.on = on;
}

void SearchField::showSearchMenu() {
  if (menuItems_.empty()) return;
  auto* edit = hostedWidgetAs<QLineEdit>(*this);
  auto* menu = new QMenu(edit);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const auto& item : menuItems_) {
    QAction* a = menu->addAction(QString::fromStdString(item.title));
    a->setCheckable(item.checkable);
    a->setChecked(item.on);
    int tag = item.tag;
    QObject::connect(a, &QAction::triggered, edit, [this, tag] {
      if (menuChosen_) menuChosen_(tag);
    });
  }
  menu->popup(edit->mapToGlobal(QPoint(0, edit->height())));
}

}  // namespace kesto::ui
