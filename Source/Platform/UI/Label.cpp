#include "Platform/UI/Label.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QLabel>

namespace kesto::ui {

namespace {
QLabel* label(const Label& l) { return hostedWidgetAs<QLabel>(l); }
}  // namespace

Label::Label(const fnd::Rect& frame, const std::string& text) : Control(frame) {
  auto* l = new QLabel(QString::fromStdString(text));
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  textColor_ = fromQColor(l->palette().color(QPalette::WindowText));
  setHostedWidget(*this, l);
}

std::string Label::stringValue() const { return label(*this)->text().toStdString(); }
void Label::setStringValue(const std::string& text) { label(*this)->setText(QString::fromStdString(text)); }

void Label::setTextColor(const Color& color) {
  textColor_ = color;
  QPalette pal = label(*this)->palette();
  pal.setColor(QPalette::WindowText, toQColor(color));
  label(*this)->setPalette(pal);
}

void Label::setAlignment(TextAlignment alignment) {
  Qt::Alignment h = alignment == TextAlignment::Center ? Qt::AlignHCenter
                    : alignment == TextAlignment::Right ? Qt::AlignRight
                                                        : Qt::AlignLeft;
  label(*this)->setAlignment(h | (wraps() ? Qt::AlignTop : Qt::AlignVCenter));
}

bool Label::wraps() const { return label(*this)->wordWrap(); }

void Label::setWraps(bool wraps) {
  QLabel* l = label(*this);
  l->setWordWrap(wraps);
  Qt::Alignment h = l->alignment() & Qt::AlignHorizontal_Mask;
  l->setAlignment(h | (wraps ? Qt::AlignTop : Qt::AlignVCenter));
}

void Label::setSelectable(bool selectable) {
  label(*this)->setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                                   : Qt::NoTextInteraction);
}

void Label::setShowsLinkCursor(bool link) {
  if (link) label(*this)->setCursor(Qt::DragLinkCursor);
  else label(*this)->unsetCursor();
}

bool Label::showsLinkCursor() const { return label(*this)->cursor().shape() == Qt::DragLinkCursor; }

}  // namespace kesto::ui
