#include "Platform/UI/Button.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace kesto::ui {

namespace {
QAbstractButton* button(const Button& b) { return hostedWidgetAs<QAbstractButton>(b); }
QIcon toQIcon(const Image& image) {
  return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(ImplAccess::of(image)->image));
}
}  // namespace

Button::Button(const fnd::Rect& frame, Kind kind) : Control(frame), kind_(kind) {
  QAbstractButton* b = nullptr;
  switch (kind) {
    case Kind::Push: b = new QPushButton; break;
    case Kind::OnOff: b = new QPushButton; b->setCheckable(true); break;
    case Kind::Checkbox: b = new QCheckBox; break;
    // Each radio button sits in a host of its own, so the toolkit cannot group them: the
    // click handler turns off the radio buttons of the same superview instead.
    case Kind::Radio: b = new QRadioButton; b->setAutoExclusive(false); break;
    case Kind::Image: {
      auto* tool = new QToolButton;
      tool->setAutoRaise(true);
      tool->setToolButtonStyle(Qt::ToolButtonIconOnly);
      b = tool;
      b->setCheckable(true);
      break;
    }
  }
  QObject::connect(b, &QAbstractButton::clicked, b, [this] {
    if (kind_ == Kind::Radio) {
      button(*this)->setChecked(true);
      if (View* parent = superview())
        for (auto& sibling : parent->subviews())
          if (auto* other = dynamic_cast<Button*>(sibling.get());
              other && other != this && other->kind_ == Kind::Radio)
            other->setState(0);
    }
    showImage();
    sendAction();
  });
  setHostedWidget(*this, b);
}

std::string Button::title() const { return button(*this)->text().toStdString(); }
void Button::setTitle(const std::string& title) { button(*this)->setText(QString::fromStdString(title)); }

void Button::setTitleColor(std::optional<Color> color) {
  titleColor_ = color;
  if (!color) {
    button(*this)->setPalette(QPalette());  // back to the inherited palette
    return;
  }
  QPalette pal = button(*this)->palette();
  pal.setColor(QPalette::ButtonText, toQColor(*color));
  pal.setColor(QPalette::WindowText, toQColor(*color));
  button(*this)->setPalette(pal);
}

void Button::setImage(const Image& image) {
  image_ = image;
  showImage();
}

void Button::setAlternateImage(const Image& image) {
  alternateImage_ = image;
  showImage();
}

void Button::showImage() {
  QAbstractButton* b = button(*this);
  const bool twoImages = kind_ == Kind::OnOff || kind_ == Kind::Image;
  const Image& shown = twoImages && state() == 0 && !alternateImage_.isNull() ? alternateImage_ : image_;
  b->setIcon(toQIcon(shown));
  if (!shown.isNull()) b->setIconSize(QSize(int(shown.size().width), int(shown.size().height)));
}

int Button::state() const { return button(*this)->isChecked() ? 1 : 0; }

void Button::setState(int state) {
  QAbstractButton* b = button(*this);
  if (!b->isCheckable()) return;
  b->setChecked(state != 0);
  showImage();
}

bool Button::isHighlighted() const { return button(*this)->isDown(); }

void Button::performClick() {
  if (isEnabled()) button(*this)->click();
}

std::shared_ptr<Button> addPushButton(View& parent, const fnd::Rect& frame, const std::string& title,
                                      std::function<void()> action) {
  auto button = std::make_shared<Button>(frame);
  button->setTitle(title);
  button->setAction(std::move(action));
  parent.addSubview(button);
  return button;
}

}  // namespace kesto::ui
