#include "Platform/UI/Alert.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Attention_p.h"
#include "Platform/UI/DialogOwner_p.h"
#include "Platform/UI/DialogResponder.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace kesto::ui {

struct Alert::Impl {
  std::string message, informative, title;
  bool hasTitle = false;
  AlertStyle style = AlertStyle::Warning;
  Image icon;
  std::vector<std::string> buttons;
  bool showsSuppression = false;
  std::string suppressionTitle = "Do not show this message again";
  bool suppression = false;
  QPointer<QMessageBox> box;
  std::vector<QAbstractButton*> boxButtons;

  void ensureButton() {
    if (buttons.empty()) buttons.push_back("OK");
  }
  std::size_t cancelIndex() const {
    auto it = std::find(buttons.begin(), buttons.end(), "Cancel");
    if (it != buttons.end()) return static_cast<std::size_t>(it - buttons.begin());
    return buttons.empty() ? 0 : buttons.size() - 1;
  }

  QMessageBox* build(QWidget* parent) {
    ensureButton();
    auto* b = new QMessageBox(parent);
    b->setWindowTitle(QString::fromStdString(hasTitle ? title : message));
    // Messages are plain text and may quote a file or a page ("<TITLE>", a link): the toolkit
    // would take such text for markup, hide what follows a tag and make links clickable.
    b->setTextFormat(Qt::PlainText);
    b->setText(QString::fromStdString(message));
    b->setInformativeText(QString::fromStdString(informative));
    if (auto* label = b->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
      label->setTextFormat(Qt::PlainText);
    if (!icon.isNull()) {
      b->setIconPixmap(QPixmap::fromImage(ImplAccess::of(icon)->image).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
      b->setIcon(style == AlertStyle::Critical        ? QMessageBox::Critical
                 : style == AlertStyle::Informational ? QMessageBox::Information
                                                      : QMessageBox::Warning);
    }
    boxButtons.clear();
    const std::size_t cancel = cancelIndex();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      auto role = i == 0 ? QMessageBox::AcceptRole
                         : (i == cancel && buttons.size() > 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole);
      boxButtons.push_back(b->addButton(QString::fromStdString(buttons[i]), role));
    }
    b->setDefaultButton(static_cast<QPushButton*>(boxButtons.front()));
    b->setEscapeButton(boxButtons[cancel]);
    if (showsSuppression) {
      auto* check = new QCheckBox(QString::fromStdString(suppressionTitle), b);
      check->setChecked(suppression);
      b->setCheckBox(check);
    }
    keepTitleWhole(*b);
    box = b;
    return b;
  }

  // A short message makes a narrow box, and the window manager cuts its title ("Conn… error"):
  // the box is made wide enough for the title in a bold title-bar font beside the frame's
  // buttons. The box sizes itself from its layout, so the room is a spacer there.
  static void keepTitleWhole(QMessageBox& b) {
    auto* grid = qobject_cast<QGridLayout*>(b.layout());
    if (!grid || b.windowTitle().isEmpty()) return;
    QFont font = b.font();
    font.setBold(true);
    const int width = QFontMetrics(font).horizontalAdvance(b.windowTitle()) + kTitleBarChrome;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  // The title bar's icon and buttons, and its margins.
  static constexpr int kTitleBarChrome = 150;

  // The answer of a finished box; the check box's state is kept.
  int answer(QMessageBox* b) {
    if (b->checkBox()) suppression = b->checkBox()->isChecked();
    auto it = std::find(boxButtons.begin(), boxButtons.end(), b->clickedButton());
    std::size_t index = it != boxButtons.end() ? static_cast<std::size_t>(it - boxButtons.begin()) : cancelIndex();
    return AlertFirstButtonReturn + static_cast<int>(index);
  }
};

Alert::Alert() : d_(std::make_shared<Impl>()) {}
Alert::~Alert() = default;
Alert::Alert(const Alert&) = default;
Alert& Alert::operator=(const Alert&) = default;

const std::string& Alert::messageText() const { return d_->message; }
void Alert::setMessageText(const std::string& text) { d_->message = text; }
const std::string& Alert::informativeText() const { return d_->informative; }
void Alert::setInformativeText(const std::string& text) { d_->informative = text; }
AlertStyle Alert::alertStyle() const { return d_->style; }
void Alert::setAlertStyle(AlertStyle style) { d_->style = style; }
const Image& Alert::icon() const { return d_->icon; }
void Alert::setIcon(const Image& image) { d_->icon = image; }
std::string Alert::windowTitle() const { return d_->hasTitle ? d_->title : d_->message; }
void Alert::setWindowTitle(const std::string& title) {
  d_->title = title;
  d_->hasTitle = true;
}

int Alert::addButtonWithTitle(const std::string& title) {
  d_->buttons.push_back(title);
  return static_cast<int>(d_->buttons.size()) - 1;
}

const std::vector<std::string>& Alert::buttonTitles() const {
  d_->ensureButton();
  return d_->buttons;
}

bool Alert::showsSuppressionButton() const { return d_->showsSuppression; }
void Alert::setShowsSuppressionButton(bool shows) { d_->showsSuppression = shows; }
const std::string& Alert::suppressionButtonTitle() const { return d_->suppressionTitle; }
void Alert::setSuppressionButtonTitle(const std::string& title) { d_->suppressionTitle = title; }
bool Alert::suppressionState() const { return d_->suppression; }
void Alert::setSuppressionState(bool on) { d_->suppression = on; }

int Alert::cancelReturnCode() const {
  d_->ensureButton();
  return AlertFirstButtonReturn + static_cast<int>(d_->cancelIndex());
}

int Alert::runModal() {
  dialogWillOpen();
  if (auto responder = DialogResponder::installed()) return responder->respondToAlert(*this);
  auto keep = d_;
  QMessageBox* box = keep->build(nullptr);
  box->setWindowModality(Qt::ApplicationModal);
  belongToOwner(*box);
  // In front of whatever window was shown last; while another program has the focus, it asks
  // for attention instead.
  if (!attention::programHasFocus()) {
    // Shown already, exec() shows it no more: it runs the dialog's loop until it is answered.
    attention::showWithoutFocus(*box);
    attention::showHeld(*box);
  } else {
    QTimer::singleShot(0, box, [box] {
      box->raise();
      box->activateWindow();
    });
  }
  box->exec();
  int code = keep->answer(box);
  delete box;
  return code;
}

void Alert::beginSheetModalForWindow(Window* window, std::function<void(int)> completion) {
  dialogWillOpen();
  if (auto responder = DialogResponder::installed()) {
    int code = responder->respondToAlert(*this);
    fnd::DispatchQueue::main().async([completion = std::move(completion), code] {
      if (completion) completion(code);
    });
    return;
  }
  auto keep = d_;
  QWidget* parent = window ? static_cast<QWidget*>(window->nativeHandle()) : nullptr;
  QMessageBox* box = keep->build(parent);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  // The alert keeps itself alive until answered.
  QObject::connect(box, &QDialog::finished, box, [keep, box, completion = std::move(completion)](int) {
    int code = keep->answer(box);
    box->deleteLater();
    qtbridge::guarded("alert completion", [&] {
      if (completion) completion(code);
    });
  });
  // Work that ended while the user is in another program tells of it without taking the keys.
  const bool focused = attention::programHasFocus();
  if (!parent) belongToOwner(*box);
  if (!focused) attention::showWithoutFocus(*box);
  // open() would make even a parentless dialog window-modal, blocking nothing.
  if (!focused) {
    attention::showHeld(*box);
  } else if (parent) {
    box->open();
  } else {
    // Stacked above the window the user is in (a sheet, an assistant), and brought to the front
    // now and once more after the current turn: a window shown right after the alert must not
    // cover it.
    box->show();
    auto toFront = [guarded = QPointer<QMessageBox>(box)] {
      if (!guarded || !guarded->isVisible()) return;
      guarded->raise();
      guarded->activateWindow();
    };
    toFront();
    QTimer::singleShot(0, box, toFront);
  }
  if (window) {
    // Over the window's content, at its top, like a sheet.
    box->adjustSize();
    fnd::Rect f = window->frame(), content = window->contentLayoutRect();
    QPoint topLeft = parent->geometry().topLeft();
    int top = topLeft.y() + int(f.size.height - content.size.height);
    box->move(topLeft.x() + (parent->width() - box->width()) / 2, top);
  }
}

bool Alert::isShown() const { return d_->box && d_->box->isVisible(); }

bool Alert::performButton(int index) {
  if (!isShown() || index < 0 || static_cast<std::size_t>(index) >= d_->boxButtons.size()) return false;
  d_->boxButtons[static_cast<std::size_t>(index)]->click();
  return true;
}

void Alert::close() {
  QMessageBox* box = d_->box.data();
  if (!box) return;
  QObject::disconnect(box, &QDialog::finished, nullptr, nullptr);
  box->hide();
  delete box;
}

void* Alert::nativeHandle() const { return d_->box.data(); }

}  // namespace kesto::ui
