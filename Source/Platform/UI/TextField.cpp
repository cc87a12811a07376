#include "Platform/UI/TextField.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace kesto::ui {

namespace {
Qt::Alignment qtAlignment(TextAlignment a) {
  switch (a) {
    case TextAlignment::Center: return Qt::AlignHCenter;
    case TextAlignment::Right: return Qt::AlignRight;
    default: return Qt::AlignLeft;
  }
}
// Return and Enter end the edit of a one-line field (its action stores the text) and go no
// further: the line edit leaves them unused, and along the responder chain they would reach the
// window's list, which opens its selection on Return.
class LineEdit : public QLineEdit {
 protected:
  void keyPressEvent(QKeyEvent* e) override {
    QLineEdit::keyPressEvent(e);
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !isReadOnly()) e->accept();
  }
};
}  // namespace

TextField::TextField(const fnd::Rect& frame, Style style) : TextControl(frame), style_(style) { rebuild(); }

void TextField::rebuild() {
  std::string text = hostedWidget(*this) ? stringValue() : std::string();
  if (wraps_) {
    auto* edit = new QPlainTextEdit;
    edit->setTabChangesFocus(false);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setPlainText(QString::fromStdString(text));
    // Only the user's own changes count: setStringValue blocks the signal.
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [this] { userDidChangeText(); });
    setHostedWidget(*this, edit);
  } else {
    auto* edit = new LineEdit;
    edit->setText(QString::fromStdString(text));
    if (isSecure()) edit->setEchoMode(QLineEdit::Password);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [this] { userDidChangeText(); });
    QObject::connect(edit, &QLineEdit::returnPressed, edit, [this] { sendAction(); });
    setHostedWidget(*this, edit);
  }
  applyLook();
}

void TextField::applyLook() {
  QWidget* w = hostedWidget(*this);
  QPalette pal = w->palette();
  if (placeholderColor_) pal.setColor(QPalette::PlaceholderText, toQColor(*placeholderColor_));
  if (textColor_) pal.setColor(QPalette::Text, toQColor(*textColor_));
  if (!drawsBackground_) pal.setColor(QPalette::Base, Qt::transparent);
  w->setPalette(pal);
  w->setAutoFillBackground(false);
  QString placeholder = QString::fromStdString(placeholder_);
  if (auto* line = qobject_cast<QLineEdit*>(w)) {
    line->setPlaceholderText(placeholder);
    line->setFrame(bordered_);
    line->setAlignment(qtAlignment(alignment_) | Qt::AlignVCenter);
    line->setReadOnly(readOnly_);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    plain->setPlaceholderText(placeholder);
    plain->setFrameShape(bordered_ ? QFrame::StyledPanel : QFrame::NoFrame);
    plain->setReadOnly(readOnly_);
    plain->viewport()->setAutoFillBackground(drawsBackground_);
  }
}

std::string TextField::stringValue() const {
  QWidget* w = hostedWidget(*this);
  if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text().toStdString();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) return plain->toPlainText().toStdString();
  return {};
}

void TextField::setStringValue(const std::string& text) {
  QWidget* w = hostedWidget(*this);
  if (auto* line = qobject_cast<QLineEdit*>(w)) {
    line->setText(QString::fromStdString(text));
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    QSignalBlocker block(plain);
    plain->setPlainText(QString::fromStdString(text));
    plain->document()->setModified(false);
    plain->viewport()->update();
  }
}

void TextField::setPlaceholderString(const std::string& text) { restyle(placeholder_, text); }
void TextField::setPlaceholderColor(std::optional<Color> color) { restyle(placeholderColor_, color); }
void TextField::setTextColor(std::optional<Color> color) { restyle(textColor_, color); }
void TextField::setBordered(bool bordered) { restyle(bordered_, bordered); }
void TextField::setDrawsBackground(bool draws) { restyle(drawsBackground_, draws); }
void TextField::setAlignment(TextAlignment alignment) { restyle(alignment_, alignment); }

void TextField::setWraps(bool wraps) {
  if (isSecure()) wraps = false;
  if (wraps == wraps_) return;
  bool focused = hasKeyboardFocus();
  wraps_ = wraps;
  rebuild();
  if (focused) becomeFirstResponder();
}

void TextField::selectText() {
  QWidget* w = hostedWidget(*this);
  if (auto* line = qobject_cast<QLineEdit*>(w)) line->selectAll();
  else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) plain->selectAll();
}

void TextField::applyReadOnly(bool readOnly) { restyle(readOnly_, readOnly); }

}  // namespace kesto::ui
