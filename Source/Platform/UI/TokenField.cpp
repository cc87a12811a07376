#include "Platform/UI/TokenField.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QStringListModel>
#include <QWidget>

namespace kesto::ui {

namespace {
constexpr int kPad = 3, kGap = 4, kTokenPadX = 7, kMinInput = 40;

std::string trimmed(const std::string& s) { return QString::fromStdString(s).trimmed().toStdString(); }

// Capsules for the tokens in a flow, with the line edit for new text after the last one.
class TokenWidget : public QWidget {
 public:
  explicit TokenWidget(TokenField* owner) : owner_(owner) {
    setFocusPolicy(Qt::StrongFocus);
    input = new QLineEdit(this);
    input->setFrame(false);
    input->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette pal = input->palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    input->setPalette(pal);
    setFocusProxy(input);
    completions = new QStringListModel(this);
    auto* completer = new QCompleter(completions, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    input->setCompleter(completer);
  }

  // Token rectangles in widget pixels, and where the input goes.
  std::vector<QRect> layoutTokens(QRect* inputRect) const {
    std::vector<QRect> rects;
    QFontMetrics fm(font());
    const int h = fm.height() + 4;
    int x = kPad, y = kPad;
    for (const auto& token : owner_->tokens()) {
      // A pixel of slack: advances are rounded, and a token that fits must never be elided.
      int w = fm.horizontalAdvance(QString::fromStdString(token)) + 2 * kTokenPadX + 1;
      w = std::min(w, std::max(20, width() - 2 * kPad));
      if (x > kPad && x + w > width() - kPad) {
        x = kPad;
        y += h + kGap / 2;
      }
      rects.emplace_back(x, y, w, h);
      x += w + kGap;
    }
    if (x > kPad && x + kMinInput > width() - kPad) {
      x = kPad;
      y += h + kGap / 2;
    }
    if (inputRect) *inputRect = QRect(x, y, std::max(kMinInput, width() - kPad - x), h);
    return rects;
  }

  void relayout() {
    QRect r;
    layoutTokens(&r);
    input->setGeometry(r);
    redraw();
  }
  // The tokens or their look changed: the kept picture goes.
  void redraw() {
    drawing_ = QPixmap();
    update();
  }

  QLineEdit* input;
  QStringListModel* completions;
  bool drawsBackground = true;

 protected:
  void resizeEvent(QResizeEvent*) override { relayout(); }
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
      drawing_ = QPixmap();
    QWidget::changeEvent(event);
  }
  // The capsules are drawn once into a kept picture: a list of bookmarks repaints every cell's
  // tags at each step of a scroll, and measuring and shaping each tag each time made that slow.
  void paintEvent(QPaintEvent*) override {
    const qreal ratio = devicePixelRatioF();
    if (drawing_.isNull() || drawing_.size() != size() * ratio || drawing_.devicePixelRatio() != ratio) {
      drawing_ = QPixmap(size() * ratio);
      drawing_.setDevicePixelRatio(ratio);
      drawing_.fill(Qt::transparent);
      QPainter p(&drawing_);
      p.setFont(font());  // a picture's painter starts with the application's font
      drawTokens(p);
    }
    QPainter(this).drawPixmap(0, 0, drawing_);
  }
  void mousePressEvent(QMouseEvent*) override { input->setFocus(Qt::MouseFocusReason); }
  // The list of completions is a window of its own: it goes with the field (taken off the screen
  // or on its way to deletion) instead of staying open and holding the program's wheel turns and
  // clicks.
  void hideEvent(QHideEvent* event) override {
    if (QCompleter* completer = input->completer(); completer && completer->popup()) completer->popup()->hide();
    QWidget::hideEvent(event);
  }

 private:
  void drawTokens(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    if (drawsBackground) p.fillRect(rect(), palette().color(QPalette::Base));
    auto rects = layoutTokens(nullptr);
    const auto& tokens = owner_->tokens();
    QFontMetrics fm(font());
    for (size_t i = 0; i < rects.size(); ++i) {
      QRectF r = QRectF(rects[i]).adjusted(0.5, 0.5, -0.5, -0.5);
      p.setPen(QPen(QColor(142, 176, 232), 1));
      p.setBrush(QColor(222, 232, 252));
      p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
      p.setPen(QColor(30, 30, 30));
      QString text = fm.elidedText(QString::fromStdString(tokens[i]), Qt::ElideRight, rects[i].width() - 2 * kTokenPadX);
      p.drawText(rects[i].adjusted(kTokenPadX, 0, -kTokenPadX, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
  }

  TokenField* owner_;
  QPixmap drawing_;
};

TokenWidget* parts(const TokenField& f) { return hostedWidgetAs<TokenWidget>(f); }
}  // namespace

TokenField::TokenField(const fnd::Rect& frame) : TextControl(frame) {
  auto* w = new TokenWidget(this);
  QObject::connect(w->input, &QLineEdit::textEdited, w, [this](const QString& text) {
    // A comma, typed or pasted, ends a token.
    if (text.contains(',')) tokenizePendingText();
    userDidChangeText();
  });
  setHostedWidget(*this, w);
}

void TokenField::setTokens(std::vector<std::string> tokens) {
  tokens_.clear();
  for (auto& t : tokens)
    if (auto s = trimmed(t); !s.empty()) tokens_.push_back(s);
  parts(*this)->relayout();
}

std::string TokenField::stringValue() const {
  std::string out;
  for (size_t i = 0; i < tokens_.size(); ++i) out += (i ? ", " : "") + tokens_[i];
  return out;
}

void TokenField::setStringValue(const std::string& text) {
  std::vector<std::string> pieces;
  for (const QString& piece : QString::fromStdString(text).split(',')) pieces.push_back(piece.toStdString());
  setTokens(std::move(pieces));
}

std::string TokenField::pendingText() const { return parts(*this)->input->text().toStdString(); }

void TokenField::setCompletionHook(std::function<std::vector<std::string>(const std::string&)> hook) {
  auto* w = parts(*this);
  QObject::disconnect(w->input, &QLineEdit::textEdited, w->completions, nullptr);
  if (!hook) return;
  QObject::connect(w->input, &QLineEdit::textEdited, w->completions, [w, hook](const QString& text) {
    QStringList list;
    for (auto& s : hook(text.trimmed().toStdString())) list << QString::fromStdString(s);
    w->completions->setStringList(list);
  });
}

void TokenField::setPlaceholderString(const std::string& text) {
  placeholder_ = text;
  parts(*this)->input->setPlaceholderText(QString::fromStdString(text));
}

void TokenField::setPlaceholderColor(std::optional<Color> color) {
  QPalette pal = parts(*this)->input->palette();
  pal.setColor(QPalette::PlaceholderText, color ? toQColor(*color) : QPalette().color(QPalette::PlaceholderText));
  parts(*this)->input->setPalette(pal);
}

void TokenField::setTextColor(std::optional<Color> color) {
  QPalette pal = parts(*this)->input->palette();
  pal.setColor(QPalette::Text, color ? toQColor(*color) : QPalette().color(QPalette::Text));
  parts(*this)->input->setPalette(pal);
}

void TokenField::setDrawsBackground(bool draws) {
  parts(*this)->drawsBackground = draws;
  parts(*this)->redraw();
}

bool TokenField::tokenizePendingText() {
  auto* w = parts(*this);
  bool made = false;
  for (const QString& piece : w->input->text().split(',')) {
    std::string s = trimmed(piece.toStdString());
    if (s.empty()) continue;
    tokens_.push_back(s);
    made = true;
  }
  w->input->clear();
  if (made) tokensChanged();
  return made;
}

fnd::Rect TokenField::rectOfToken(size_t index) const {
  auto rects = parts(*this)->layoutTokens(nullptr);
  if (index >= rects.size()) return fnd::Rect();
  QRect r = rects[index];
  fnd::Rect b = bounds();
  double y = isFlipped() ? b.origin.y + r.y() : b.origin.y + b.size.height - r.y() - r.height();
  return fnd::Rect(b.origin.x + r.x(), y, r.width(), r.height());
}

void TokenField::keyDown(const Event& event) {
  // The delegate hears bound keys first, as in any text control.
  Command selector = selectorForKeyEvent(event);
  if (!selector.empty() && delegate() && delegate()->controlTextViewDoCommandBySelector(*this, selector)) return;
  const auto* w = parts(*this);
  const bool readOnly = w->input->isReadOnly();
  if (!readOnly) {
    switch (event.keyCode) {
      case KeyCode::Return:
      case KeyCode::KeypadEnter:
        if (tokenizePendingText()) userDidChangeText();
        sendAction();
        return;
      case KeyCode::Tab:
        if (tokenizePendingText()) userDidChangeText();
        break;  // and on to the next control
      case KeyCode::Delete:
        if (w->input->text().isEmpty() && !tokens_.empty()) {
          tokens_.pop_back();
          tokensChanged();
          userDidChangeText();
          return;
        }
        break;
      default: break;
    }
  }
  Control::keyDown(event);
}

void TokenField::applyReadOnly(bool readOnly) { parts(*this)->input->setReadOnly(readOnly); }

void TokenField::widgetDidLoseFocus() {
  if (!parts(*this)->input->isReadOnly() && tokenizePendingText()) userDidChangeText();
  TextControl::widgetDidLoseFocus();
}

void TokenField::tokensChanged() { parts(*this)->relayout(); }

}  // namespace kesto::ui
