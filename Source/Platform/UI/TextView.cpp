#include "Platform/UI/TextView.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QFocusEvent>
#include <QPlainTextEdit>

namespace kesto::ui {

namespace {
QPlainTextEdit* editor(const TextView& view) { return hostedWidgetAs<QPlainTextEdit>(view); }

// A view that Tab leaves, as a field, is entered by Tab and Shift+Tab as a field is: its whole
// text selected, so what is typed replaces it.
class SelectOnTabIn : public QObject {
 public:
  explicit SelectOnTabIn(QPlainTextEdit* edit) : QObject(edit), edit_(edit) { edit->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == edit_ && e->type() == QEvent::FocusIn && edit_->tabChangesFocus()) {
      auto reason = static_cast<QFocusEvent*>(e)->reason();
      if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) edit_->selectAll();
    }
    return false;
  }

 private:
  QPlainTextEdit* edit_;
};
}  // namespace

TextView::TextView(const fnd::Rect& frame) : TextControl(frame) {
  auto* edit = new QPlainTextEdit;
  edit->setTabChangesFocus(false);
  edit->setFrameShape(QFrame::NoFrame);
  // Changes from code block the signal, so only the user's own reach the delegate.
  QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [this] { userDidChangeText(); });
  new SelectOnTabIn(edit);
  setHostedWidget(*this, edit);
}

std::string TextView::stringValue() const { return editor(*this)->toPlainText().toStdString(); }

void TextView::setStringValue(const std::string& text) {
  QSignalBlocker block(editor(*this));
  editor(*this)->setPlainText(QString::fromStdString(text));
  editor(*this)->viewport()->update();
}

void TextView::insertText(const std::string& text) {
  QSignalBlocker block(editor(*this));
  editor(*this)->insertPlainText(QString::fromStdString(text));
  editor(*this)->viewport()->update();
}

void TextView::setTextColor(const Color& color) {
  textColor_ = color;
  QPalette pal = editor(*this)->palette();
  pal.setColor(QPalette::Text, toQColor(color));
  editor(*this)->setPalette(pal);
}

std::string TextView::placeholderString() const { return editor(*this)->placeholderText().toStdString(); }
void TextView::setPlaceholderString(const std::string& text) {
  editor(*this)->setPlaceholderText(QString::fromStdString(text));
}

void TextView::setDrawsBackground(bool draws) {
  QPalette pal = editor(*this)->palette();
  if (!draws) pal.setColor(QPalette::Base, Qt::transparent);
  editor(*this)->setPalette(pal);
  editor(*this)->viewport()->setAutoFillBackground(draws);
}

void TextView::setWrapsLines(bool wraps) {
  QPlainTextEdit* edit = editor(*this);
  edit->setLineWrapMode(wraps ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  edit->setHorizontalScrollBarPolicy(wraps ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  edit->setVerticalScrollBarPolicy(wraps ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void TextView::setTabChangesFocus(bool changes) { editor(*this)->setTabChangesFocus(changes); }

void TextView::selectAll() { editor(*this)->selectAll(); }

void TextView::applyReadOnly(bool readOnly) { editor(*this)->setReadOnly(readOnly); }

}  // namespace kesto::ui
