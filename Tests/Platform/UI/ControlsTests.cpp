#include "Harness/FocusedKeys.h"
#include "Harness/TestSupport.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/ComboBox.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/Unused/Slider.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TextView.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/Window.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;

namespace {

class Recorder : public TextEditingDelegate {
 public:
  std::vector<std::string> log;
  bool allowBegin = true;
  std::vector<ui::Command> consumed;  // commands this delegate handles
  bool controlTextShouldBeginEditing(Control&) override {
    log.push_back("should-begin");
    return allowBegin;
  }
  void controlTextDidBeginEditing(Control&) override { log.push_back("did-begin"); }
  void controlTextDidChange(Control&) override { log.push_back("did-change"); }
  void controlTextDidEndEditing(Control&) override { log.push_back("did-end"); }
  bool controlTextViewDoCommandBySelector(Control&, ui::Command selector) override {
    log.push_back(std::string(selector.text()));
    return std::find(consumed.begin(), consumed.end(), selector) != consumed.end();
  }
};

class KeySink : public View {
 public:
  using View::View;
  std::vector<std::uint16_t> keys;
  void keyDown(const Event& e) override { keys.push_back(e.keyCode); }
};

using kesto::test::press;
using kesto::test::type;
using kesto::test::typeInto;

struct Fixture {
  Window window{fnd::Rect(0, 0, 400, 300)};
  std::shared_ptr<KeySink> root = std::make_shared<KeySink>(fnd::Rect(0, 0, 400, 300));
  Fixture() {
    window.setContentView(root);
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(QTest::qWaitForWindowActive(static_cast<QWidget*>(window.nativeHandle())));
  }
  template <typename T>
  std::shared_ptr<T> add(std::shared_ptr<T> view) {
    root->addSubview(view);
    return view;
  }
};

// A 40-point square button of `kind` at (10, 250), with a red image and a blue alternate one.
std::shared_ptr<Button> redAndBlueButton(Fixture& f, Button::Kind kind) {
  auto button = f.add(std::make_shared<Button>(fnd::Rect(10, 250, 40, 40), kind));
  button->setImage(Image(16, 16, Color::rgb(1, 0, 0)));
  button->setAlternateImage(Image(16, 16, Color::rgb(0, 0, 1)));
  return button;
}

QColor pixelAt(View& view, const fnd::Point& p) {
  Image shot = view.snapshot();
  fnd::Rect b = view.bounds();
  int y = int(view.isFlipped() ? p.y - b.origin.y : b.origin.y + b.size.height - p.y);
  Color c = shot.pixelColor(int(p.x - b.origin.x), y);
  return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}

}  // namespace

TEST(TextField, EditingHooksArriveInOrder) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  Recorder d;
  field->setDelegate(&d);
  f.window.makeFirstResponder(field.get());
  EXPECT_TRUE(field->isEditing());
  type("ab");
  f.window.makeFirstResponder(nullptr);
  EXPECT_EQ(field->stringValue(), "ab");
  EXPECT_FALSE(field->isEditing());
  EXPECT_EQ(d.log, (std::vector<std::string>{"should-begin", "did-begin", "did-change", "did-change", "did-end"}));
  // Text set from code is no edit.
  d.log.clear();
  field->setStringValue("code");
  EXPECT_TRUE(d.log.empty());
}

TEST(TextField, ReturnAndEnterSendTheActionAndTravelNoFurther) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  int actions = 0;
  field->setAction([&] { ++actions; });
  typeInto(f.window, field.get(), "ab");
  press(Qt::Key_Return, "\r");
  press(Qt::Key_Enter, "\r", Qt::KeypadModifier);
  EXPECT_EQ(actions, 2);
  // The list behind the window would open its selection on Return.
  EXPECT_TRUE(f.root->keys.empty());
  // Keys the field has no use for still go on along the chain.
  press(Qt::Key_Up);
  EXPECT_EQ(f.root->keys, std::vector<std::uint16_t>{KeyCode::UpArrow});
  // A read-only field leaves Return to the chain.
  f.root->keys.clear();
  field->setEditable(false);
  press(Qt::Key_Return, "\r");
  EXPECT_EQ(f.root->keys, std::vector<std::uint16_t>{KeyCode::Return});
}

TEST(TextField, RefusedSessionKeepsTheTextAndSendsNoEnd) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  field->setStringValue("kept");
  Recorder d;
  d.allowBegin = false;
  field->setDelegate(&d);
  typeInto(f.window, field.get(), "x");
  f.window.makeFirstResponder(nullptr);
  EXPECT_EQ(field->stringValue(), "kept");
  EXPECT_EQ(d.log, (std::vector<std::string>{"should-begin"}));
  // The next session may edit again.
  d.allowBegin = true;
  typeInto(f.window, field.get(), "y");
  EXPECT_EQ(field->stringValue(), "kepty");
}

TEST(TextField, CommandHookConsumesOrPassesBoundKeys) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  Recorder d;
  d.consumed = {ui::cmd::moveUp};
  field->setDelegate(&d);
  int actions = 0;
  field->setAction([&] { ++actions; });
  f.window.makeFirstResponder(field.get());
  d.log.clear();
  press(Qt::Key_Up);
  EXPECT_TRUE(f.root->keys.empty());  // consumed: nothing travels on
  press(Qt::Key_Down);
  EXPECT_EQ(f.root->keys, (std::vector<std::uint16_t>{KeyCode::DownArrow}));
  press(Qt::Key_Return, "\r");
  EXPECT_EQ(actions, 1);
  EXPECT_EQ(d.log, (std::vector<std::string>{"moveUp:", "moveDown:", "insertNewline:"}));
  // Escape is offered as cancelOperation: and, unused by the field, travels on.
  press(Qt::Key_Escape, "\x1b");
  ASSERT_FALSE(d.log.empty());
  EXPECT_EQ(d.log.back(), "cancelOperation:");
  ASSERT_FALSE(f.root->keys.empty());
  EXPECT_EQ(f.root->keys.back(), KeyCode::Escape);
}

TEST(TextField, WrappingFieldInsertsReturnAndTab) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 200, 200, 60)));
  field->setStringValue("a");
  field->setWraps(true);
  EXPECT_EQ(field->stringValue(), "a");
  Recorder d;
  field->setDelegate(&d);
  f.window.makeFirstResponder(field.get());
  press(Qt::Key_End);
  press(Qt::Key_Return, "\r");
  press(Qt::Key_Tab, "\t");
  type("b");
  EXPECT_EQ(field->stringValue(), "a\n\tb");
  EXPECT_EQ(f.window.firstResponder(), field.get());
  EXPECT_EQ(std::count(d.log.begin(), d.log.end(), "did-change"), 3);
}

TEST(TextField, SecureFieldNeverShowsOrCopiesItsText) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24), TextField::Style::Secure));
  field->setWraps(true);  // stays one line
  EXPECT_FALSE(field->wraps());
  typeInto(f.window, field.get(), "secret");
  EXPECT_EQ(field->stringValue(), "secret");
  auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(edit, nullptr);
  EXPECT_FALSE(edit->displayText().contains("secret"));
  QApplication::clipboard()->setText("before");
  press(Qt::Key_A, QString(), Qt::ControlModifier);
  press(Qt::Key_C, QString(), Qt::ControlModifier);
  press(Qt::Key_X, QString(), Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "before");
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(edit);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->text(QAccessible::Value).contains("secret"));
}

TEST(TextField, PlaceholderColourReachesTheField) {
  Fixture f;
  auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  field->setPlaceholderString("Title");
  field->setPlaceholderColor(Color::rgb(1, 0, 0));
  f.window.makeFirstResponder(nullptr);
  // Some pixel of the placeholder is red (and nothing is, without one).
  Image shot = field->snapshot();
  bool red = false;
  for (int x = 0; x < 200 && !red; ++x)
    for (int y = 0; y < 24 && !red; ++y) {
      Color c = shot.pixelColor(x, y);
      red = c.red > 0.6 && c.green < 0.35 && c.blue < 0.35;
    }
  EXPECT_TRUE(red);
}

TEST(TextView, InsertsAtTheCaretAndColoursTheWholeText) {
  Fixture f;
  auto view = f.add(std::make_shared<TextView>(fnd::Rect(10, 100, 200, 100)));
  view->setStringValue("ac");
  Recorder d;
  view->setDelegate(&d);
  f.window.makeFirstResponder(view.get());
  press(Qt::Key_Home);
  press(Qt::Key_Right);
  view->insertText("b");
  EXPECT_EQ(view->stringValue(), "abc");
  view->setTextColor(Color::rgb(0, 0, 1));
  EXPECT_EQ(view->textColor(), Color::rgb(0, 0, 1));
  view->setEditable(false);
  type("z");
  EXPECT_EQ(view->stringValue(), "abc");
  // Code changes are no edits; the session still ends when the focus leaves.
  f.window.makeFirstResponder(nullptr);
  EXPECT_EQ(d.log, (std::vector<std::string>{"should-begin", "scrollToBeginningOfDocument:", "moveRight:", "did-end"}));
}

// Entered by Tab or Shift+Tab, a view that Tab leaves selects its whole text, as a field does:
// what is typed replaces it. A click places the caret; a view that takes tabs selects nothing.
TEST(TextView, AViewThatTabLeavesSelectsItsTextWhenTabEntersIt) {
  Fixture f;
  auto first = f.add(std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24)));
  auto view = f.add(std::make_shared<TextView>(fnd::Rect(10, 200, 200, 24)));
  auto last = f.add(std::make_shared<TextField>(fnd::Rect(10, 150, 200, 24)));
  view->setTabChangesFocus(true);
  view->setStringValue("https://old.example/");
  f.window.makeFirstResponder(first.get());
  press(Qt::Key_Tab, "\t");
  ASSERT_EQ(f.window.firstResponder(), view.get());
  type("new");
  EXPECT_EQ(view->stringValue(), "new");
  f.window.makeFirstResponder(last.get());
  press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
  ASSERT_EQ(f.window.firstResponder(), view.get());
  type("x");
  EXPECT_EQ(view->stringValue(), "x");
  // Entered from code (a click), the text stays whole and the caret where it was.
  f.window.makeFirstResponder(first.get());
  f.window.makeFirstResponder(view.get());
  type("y");
  EXPECT_EQ(view->stringValue().size(), 2u);
  // A view that takes tabs keeps them and selects nothing when Tab reaches it.
  view->setTabChangesFocus(false);
  f.window.makeFirstResponder(first.get());
  press(Qt::Key_Tab, "\t");
  ASSERT_EQ(f.window.firstResponder(), view.get());
  type("z");
  EXPECT_EQ(view->stringValue().size(), 3u) << view->stringValue();
}

TEST(TextView, ALineThatDoesNotWrapRunsOnInsteadOfFillingTheNextLine) {
  Fixture f;
  auto view = f.add(std::make_shared<TextView>(fnd::Rect(10, 100, 120, 60)));
  view->setStringValue("wide words that never fit one line of this narrow view at all");
  // Dark pixels below the first line: only a wrapped text has any.
  auto inkBelowFirstLine = [&] {
    const Image shot = view->snapshot();
    int ink = 0;
    for (int y = 30; y < 58; ++y)
      for (int x = 0; x < 120; ++x)
        if (shot.pixelColor(x, y).red < 0.5) ++ink;
    return ink;
  };
  EXPECT_GT(inkBelowFirstLine(), 10);
  view->setWrapsLines(false);
  EXPECT_EQ(inkBelowFirstLine(), 0);
  EXPECT_EQ(view->stringValue(), "wide words that never fit one line of this narrow view at all");
}

TEST(ComboBox, ListOpensAndClosesFromCode) {
  Fixture f;
  auto box = f.add(std::make_shared<ComboBox>(fnd::Rect(10, 250, 200, 26)));
  box->showPopup();
  EXPECT_FALSE(box->isPopupOpen());  // nothing to show
  box->setStringValue("Wo");
  box->addItemsWithObjectValues({"Work", "World"});
  EXPECT_EQ(box->stringValue(), "Wo");
  box->showPopup();
  EXPECT_TRUE(box->isPopupOpen());
  EXPECT_EQ(box->stringValue(), "Wo");
  box->showPopup();
  EXPECT_TRUE(box->isPopupOpen());
  box->hidePopup();
  EXPECT_FALSE(box->isPopupOpen());
  box->hidePopup();
  EXPECT_FALSE(box->isPopupOpen());
}

// A list that follows the typed text stays open while the user types on; choosing from it runs
// the action without reporting a typed change (which would open the list again).
TEST(ComboBox, TypingGoesOnWhileTheListIsOpenAndAChoiceIsNoTyping) {
  Fixture f;
  auto box = f.add(std::make_shared<ComboBox>(fnd::Rect(10, 250, 200, 26)));
  Recorder d;
  box->setDelegate(&d);
  int actions = 0;
  box->setAction([&] { ++actions; });
  box->addItemsWithObjectValues({"Work", "World"});
  typeInto(f.window, box.get(), "W");
  box->showPopup();
  ASSERT_TRUE(box->isPopupOpen());
  QWidget* list = QApplication::focusWidget();
  ASSERT_NE(list, nullptr);
  QTest::keyClick(list, Qt::Key_O, Qt::NoModifier);
  EXPECT_EQ(box->stringValue(), "Wo");
  EXPECT_TRUE(box->isPopupOpen());
  const auto changes = std::count(d.log.begin(), d.log.end(), "did-change");
  EXPECT_EQ(changes, 2);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_FALSE(box->isPopupOpen());
  EXPECT_EQ(actions, 1);
  EXPECT_EQ(std::count(d.log.begin(), d.log.end(), "did-change"), changes);
}

// The list opens as the user types; the keys that leave or act in the field must not be lost
// to it: Tab and Shift-Tab close it and move on (the delegate asked first), Return closes it and
// acts as in the field, unless the arrows reached an item, which Return then chooses. Only such a
// choice reports the item: typed text is none, even where it equals an item.
TEST(ComboBox, KeysThatLeaveOrActGoToTheFieldWhileTheListIsOpen) {
  Fixture f;
  auto before = f.add(std::make_shared<TextField>(fnd::Rect(10, 280, 200, 20)));
  auto box = f.add(std::make_shared<ComboBox>(fnd::Rect(10, 250, 200, 26)));
  auto after = f.add(std::make_shared<TextField>(fnd::Rect(10, 210, 200, 24)));
  Recorder d;
  box->setDelegate(&d);
  int actions = 0;
  std::vector<int> chosen;
  box->setAction([&] { ++actions; });
  box->setSelectionAction([&](int index) { chosen.push_back(index); });
  box->addItemsWithObjectValues({"Work", "World"});
  const auto openWith = [&](const QString& text) {
    typeInto(f.window, box.get(), text);
    box->showPopup();
    EXPECT_TRUE(box->isPopupOpen());
    d.log.clear();
  };
  const auto focused = [&](const std::shared_ptr<TextField>& field) {
    return f.window.firstResponder() == field.get() && field->isEditing();
  };

  openWith("Wo");
  press(Qt::Key_Tab, "\t");
  EXPECT_FALSE(box->isPopupOpen());
  EXPECT_TRUE(focused(after)) << "Tab moves on";
  EXPECT_NE(std::find(d.log.begin(), d.log.end(), "insertTab:"), d.log.end()) << "the delegate is asked first";
  ASSERT_FALSE(d.log.empty());
  EXPECT_EQ(d.log.back(), "did-end");

  box->setStringValue("");
  openWith("W");
  press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
  EXPECT_FALSE(box->isPopupOpen());
  EXPECT_TRUE(focused(before)) << "Shift-Tab moves back";
  EXPECT_NE(std::find(d.log.begin(), d.log.end(), "insertBacktab:"), d.log.end());

  // Return on the typed text: the field's Return, once, and no choice, though "Work" equals an
  // item.
  box->setStringValue("");
  openWith("Work");
  press(Qt::Key_Return, "\r");
  EXPECT_FALSE(box->isPopupOpen());
  EXPECT_NE(std::find(d.log.begin(), d.log.end(), "insertNewline:"), d.log.end());
  EXPECT_EQ(actions, 1);
  EXPECT_TRUE(chosen.empty());
  EXPECT_EQ(box->stringValue(), "Work");

  // The arrows reach an item: Return chooses it.
  box->setStringValue("");
  openWith("W");
  press(Qt::Key_Down);
  press(Qt::Key_Return, "\r");
  EXPECT_FALSE(box->isPopupOpen());
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(box->stringValue(), box->objectValues().at(std::size_t(chosen[0])));
  EXPECT_EQ(actions, 2);
  // Opened again, the list has forgotten the arrows: Return is the field's again.
  box->showPopup();
  ASSERT_TRUE(box->isPopupOpen());
  press(Qt::Key_Return, "\r");
  EXPECT_FALSE(box->isPopupOpen());
  EXPECT_EQ(chosen.size(), 1u);
}

TEST(TokenField, TypingCommasReturnAndBackspaceMakeAndRemoveTokens) {
  Fixture f;
  auto field = f.add(std::make_shared<TokenField>(fnd::Rect(10, 240, 300, 40)));
  Recorder d;
  field->setDelegate(&d);
  int actions = 0;
  field->setAction([&] { ++actions; });
  typeInto(f.window, field.get(), "news, ");
  press(Qt::Key_Comma, ",");
  type("art");
  EXPECT_EQ(field->tokens(), (std::vector<std::string>{"news"}));
  EXPECT_EQ(field->pendingText(), "art");
  press(Qt::Key_Return, "\r");
  EXPECT_EQ(field->tokens(), (std::vector<std::string>{"news", "art"}));
  EXPECT_EQ(actions, 1);
  EXPECT_EQ(field->stringValue(), "news, art");
  press(Qt::Key_Backspace, "\x08");
  EXPECT_EQ(field->tokens(), (std::vector<std::string>{"news"}));
  // Leaving the field turns what was typed into a token.
  type("x");
  f.window.makeFirstResponder(nullptr);
  EXPECT_EQ(field->tokens(), (std::vector<std::string>{"news", "x"}));
  ASSERT_FALSE(d.log.empty());
  EXPECT_EQ(d.log.back(), "did-end");
  field->setStringValue(" a ,, b,");
  EXPECT_EQ(field->tokens(), (std::vector<std::string>{"a", "b"}));
}

TEST(TokenField, TokensAreDrawnAsCapsules) {
  Fixture f;
  auto field = f.add(std::make_shared<TokenField>(fnd::Rect(10, 240, 300, 40)));
  field->setTokens({"reading", "later"});
  fnd::Rect first = field->rectOfToken(0), second = field->rectOfToken(1);
  ASSERT_FALSE(first.isEmpty());
  EXPECT_TRUE(field->rectOfToken(2).isEmpty());
  EXPECT_LT(first.origin.x + first.size.width, second.origin.x);
  // Inside the capsule near its left end: the token's fill; the corner outside it is not.
  QColor inside = pixelAt(*field, {first.origin.x + 3, first.origin.y + first.size.height / 2});
  EXPECT_EQ(inside, QColor(222, 232, 252));
  QColor corner = pixelAt(*field, {first.origin.x + 0.5, first.origin.y + first.size.height - 0.5});
  EXPECT_NE(corner, QColor(222, 232, 252));
}

// The capsules are kept as a picture between paints; new tokens, a new font or the background
// switched off must each show at the next paint, not the picture drawn before.
TEST(TokenField, TheKeptPictureFollowsTokensFontAndBackground) {
  Fixture f;
  auto field = f.add(std::make_shared<TokenField>(fnd::Rect(10, 240, 300, 40)));
  field->setTokens({"a"});
  const fnd::Rect only = field->rectOfToken(0);
  const fnd::Point right{only.origin.x + 250, only.origin.y + only.size.height / 2};
  const QColor base = pixelAt(*field, right);
  EXPECT_NE(base, QColor(222, 232, 252));

  field->setTokens({"a", "a much longer second token"});
  const fnd::Rect second = field->rectOfToken(1);
  ASSERT_FALSE(second.isEmpty());
  EXPECT_EQ(pixelAt(*field, {second.origin.x + 3, second.origin.y + second.size.height / 2}), QColor(222, 232, 252));

  Font large;
  large.pointSize = 20;
  field->setFont(large);
  EXPECT_NEAR(field->font().pointSize, 20, 0.01);  // read back in the units it was set in
  const fnd::Rect wider = field->rectOfToken(0);
  EXPECT_GT(wider.size.width, only.size.width);
  EXPECT_EQ(pixelAt(*field, {wider.origin.x + wider.size.width - 6, wider.origin.y + wider.size.height / 2}),
            QColor(222, 232, 252));

  field->setTokens({"a"});
  field->setDrawsBackground(false);
  EXPECT_NE(pixelAt(*field, right), base);
}

TEST(SearchField, ActionOnEveryChangeAndTheSearchMenu) {
  Fixture f;
  auto field = f.add(std::make_shared<SearchField>(fnd::Rect(10, 250, 200, 26)));
  std::vector<std::string> seen;
  field->setAction([&] { seen.push_back(field->stringValue()); });
  typeInto(f.window, field.get(), "ab");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "ab"}));
  int chosen = -1;
  field->showSearchMenu();  // no items: no menu
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  field->setSearchMenu({{"All", 1}, {"Titles", 2}}, [&](int tag) { chosen = tag; });
  field->showSearchMenu();
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  menu->actions()[1]->trigger();
  menu->close();
  EXPECT_EQ(chosen, 2);
  auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->isClearButtonEnabled());
}

// The clear button is made only when the field first holds text or takes the focus (its icon
// comes from the desktop's theme, slow at start); from then on it looks and acts as one made with
// the field.
TEST(SearchField, ClearButtonMadeWhenFirstNeededLooksAndActsAsOneMadeAtOnce) {
  Fixture f;
  auto first = f.add(std::make_shared<SearchField>(fnd::Rect(10, 250, 120, 26)));
  auto second = f.add(std::make_shared<SearchField>(fnd::Rect(10, 200, 120, 26)));
  auto edits = static_cast<QWidget*>(f.window.nativeHandle())->findChildren<QLineEdit*>();
  ASSERT_EQ(edits.size(), 2);
  for (auto* edit : edits) EXPECT_FALSE(edit->isClearButtonEnabled());
  QLineEdit* eager = edits[0];
  QLineEdit* lazy = edits[1];
  eager->setClearButtonEnabled(true);
  // Text set by the program makes it too, and a long text leaves the same room beside it.
  const std::string text = "a search text longer than the field is wide";
  first->setStringValue(text);
  second->setStringValue(text);
  EXPECT_TRUE(lazy->isClearButtonEnabled());
  kesto::test::spin(0.5);  // the button fades in
  EXPECT_EQ(eager->grab().toImage(), lazy->grab().toImage());

  // Its click empties the field and runs the action, as a change by the user does.
  std::vector<std::string> seen;
  for (auto& field : {first, second}) field->setAction([&, field = field.get()] { seen.push_back(field->stringValue()); });
  QWidget* button = nullptr;
  for (auto* child : lazy->findChildren<QWidget*>())
    if (child->isVisible() && child->geometry().right() > lazy->width() / 2) button = child;
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(lazy->text(), QString());
  EXPECT_EQ(seen, (std::vector<std::string>{""}));

  // Focus alone makes it in a field that never held text.
  auto third = f.add(std::make_shared<SearchField>(fnd::Rect(10, 150, 120, 26)));
  f.window.makeFirstResponder(third.get());
  auto* focused = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(focused, nullptr);
  EXPECT_TRUE(focused->isClearButtonEnabled());
}

TEST(Button, StatesImagesAndRadioGroups) {
  Fixture f;
  auto onOff = redAndBlueButton(f, Button::Kind::OnOff);
  int actions = 0;
  onOff->setAction([&] { ++actions; });
  EXPECT_EQ(onOff->state(), 0);
  onOff->performClick();
  EXPECT_EQ(onOff->state(), 1);
  EXPECT_EQ(actions, 1);
  onOff->setEnabled(false);
  onOff->performClick();
  EXPECT_EQ(actions, 1);

  auto a = f.add(std::make_shared<Button>(fnd::Rect(10, 200, 100, 20), Button::Kind::Radio));
  auto b = f.add(std::make_shared<Button>(fnd::Rect(10, 180, 100, 20), Button::Kind::Radio));
  a->performClick();
  b->performClick();
  EXPECT_EQ(a->state(), 0);
  EXPECT_EQ(b->state(), 1);

  auto push = f.add(std::make_shared<Button>(fnd::Rect(200, 250, 80, 30)));
  push->setState(1);  // a push button has no state
  EXPECT_EQ(push->state(), 0);
  f.window.sendEvent(Event::mouse(EventType::LeftMouseDown, {240, 265}));
  EXPECT_TRUE(push->isHighlighted());
  f.window.sendEvent(Event::mouse(EventType::LeftMouseUp, {240, 265}));
  EXPECT_FALSE(push->isHighlighted());
}

TEST(Button, PushButtonMakerTitlesPlacesAndWiresTheButtonInItsParent) {
  Fixture f;
  int clicks = 0;
  auto first = addPushButton(*f.root, fnd::Rect(20, 20, 90, 28), "Cancel", [&] { ++clicks; });
  auto second = addPushButton(*f.root, fnd::Rect(120, 20, 90, 28), "OK");
  // Added in the order made: the key view loop and the drawing follow it.
  ASSERT_EQ(f.root->subviews().size(), 2u);
  EXPECT_EQ(f.root->subviews()[0], first);
  EXPECT_EQ(f.root->subviews()[1], second);
  EXPECT_EQ(first->kind(), Button::Kind::Push);
  EXPECT_EQ(first->title(), "Cancel");
  EXPECT_EQ(first->frame(), fnd::Rect(20, 20, 90, 28));
  f.window.sendEvent(Event::mouse(EventType::LeftMouseDown, {60, 34}));
  f.window.sendEvent(Event::mouse(EventType::LeftMouseUp, {60, 34}));
  EXPECT_EQ(clicks, 1);
  // Without an action a click does nothing, and a disabled button takes none.
  second->performClick();
  first->setEnabled(false);
  first->performClick();
  EXPECT_EQ(clicks, 1);
}

TEST(Button, OnOffButtonShowsItsImageWhenOnAndTheAlternateWhenOff) {
  Fixture f;
  auto button = redAndBlueButton(f, Button::Kind::Image);
  EXPECT_EQ(pixelAt(*button, {20, 20}), QColor(0, 0, 255));
  button->setState(1);
  EXPECT_EQ(pixelAt(*button, {20, 20}), QColor(255, 0, 0));
}

TEST(LevelIndicator, ClicksSetTheValueByPositionAndHighlightDrawsWhite) {
  Fixture f;
  auto stars = f.add(std::make_shared<LevelIndicator>(fnd::Rect(20, 250, 100, 20)));
  int actions = 0;
  stars->setAction([&] { ++actions; });
  // Five stars of 20 points; the point is in the view's own coordinates.
  EXPECT_EQ(stars->valueForClickAt(2), 0);
  EXPECT_EQ(stars->valueForClickAt(45), 3);
  EXPECT_EQ(stars->valueForClickAt(99), 5);
  EXPECT_EQ(stars->valueForClickAt(500), 5);
  f.window.sendEvent(Event::mouse(EventType::LeftMouseDown, {20 + 45, 260}));
  f.window.sendEvent(Event::mouse(EventType::LeftMouseUp, {20 + 45, 260}));
  EXPECT_EQ(stars->doubleValue(), 3);
  EXPECT_EQ(actions, 1);
  stars->setEditable(false);
  f.window.sendEvent(Event::mouse(EventType::LeftMouseDown, {20 + 90, 260}));
  EXPECT_EQ(stars->doubleValue(), 3);
  fnd::Rect first = stars->rectOfStar(0);
  fnd::Point centre{first.origin.x + first.size.width / 2, first.origin.y + first.size.height / 2};
  EXPECT_EQ(pixelAt(*stars, centre), QColor(77, 77, 77));
  stars->setHighlighted(true);
  EXPECT_EQ(pixelAt(*stars, centre), QColor(255, 255, 255));
  stars->setDoubleValue(9);
  EXPECT_EQ(stars->doubleValue(), 5);
}

TEST(Controls, PopUpSliderAndLabel) {
  Fixture f;
  auto popUp = f.add(std::make_shared<PopUpButton>(fnd::Rect(10, 250, 150, 26)));
  EXPECT_EQ(popUp->indexOfSelectedItem(), -1);
  popUp->addItemWithTitle("Grid");
  popUp->addItemWithTitle("List");
  popUp->selectItemAtIndex(1);
  popUp->selectItemAtIndex(7);
  EXPECT_EQ(popUp->titleOfSelectedItem(), "List");

  auto slider = f.add(std::make_shared<Slider>(fnd::Rect(10, 200, 150, 20)));
  slider->setRange(100, 300);
  slider->setDoubleValue(250);
  EXPECT_NEAR(slider->doubleValue(), 250, 0.5);
  slider->setRange(5, 5);  // ignored
  slider->setDoubleValue(1000);
  EXPECT_NEAR(slider->doubleValue(), 300, 0.5);

  auto label = f.add(std::make_shared<Label>(fnd::Rect(10, 100, 60, 80), "a rather long caption that wraps"));
  label->setWraps(true);
  EXPECT_TRUE(label->wraps());
  label->setShowsLinkCursor(true);
  EXPECT_TRUE(label->showsLinkCursor());
  label->setShowsLinkCursor(false);
  EXPECT_FALSE(label->showsLinkCursor());
  // A label never takes the keyboard focus away.
  EXPECT_FALSE(label->acceptsFirstResponder());
}

TEST(Controls, AControlMayGoAwayDuringItsOwnAction) {
  Fixture f;
  std::weak_ptr<Button> weak;
  {
    auto button = f.add(std::make_shared<Button>(fnd::Rect(10, 250, 80, 30)));
    weak = button;
    button->setAction([&] { weak.lock()->removeFromSuperview(); });
  }
  f.window.sendEvent(Event::mouse(EventType::LeftMouseDown, {40, 265}));
  f.window.sendEvent(Event::mouse(EventType::LeftMouseUp, {40, 265}));
  EXPECT_TRUE(weak.expired());
  test::spin(0.05);  // the widget's deferred deletion runs

  std::weak_ptr<TextField> weakField;
  {
    auto field = f.add(std::make_shared<TextField>(fnd::Rect(10, 200, 200, 24)));
    weakField = field;
    field->setAction([&] { weakField.lock()->removeFromSuperview(); });
    f.window.makeFirstResponder(field.get());
  }
  press(Qt::Key_Return, "\r");
  EXPECT_TRUE(weakField.expired());
  EXPECT_EQ(f.window.firstResponder(), &f.window);
  type("still fine");
  test::spin(0.05);
}

TEST(TokenField, CompletionHookHearsThePrefixAndTheDelegateHearsReturnFirst) {
  Fixture f;
  auto field = f.add(std::make_shared<TokenField>(fnd::Rect(10, 240, 300, 40)));
  std::vector<std::string> prefixes;
  field->setCompletionHook([&](const std::string& prefix) {
    prefixes.push_back(prefix);
    return std::vector<std::string>{"recipes", "reading"};
  });
  Recorder d;
  d.consumed = {ui::cmd::insertNewline};
  field->setDelegate(&d);
  typeInto(f.window, field.get(), "re");
  EXPECT_EQ(prefixes, (std::vector<std::string>{"r", "re"}));
  press(Qt::Key_Return, "\r");
  EXPECT_TRUE(field->tokens().empty());  // the delegate took Return
  EXPECT_EQ(field->pendingText(), "re");
}

// A field taken off the screen, or gone, takes its open list of completions with it at once:
// left open, the list would hold every wheel turn and click of the program.
TEST(TokenField, ItsCompletionListClosesWithTheField) {
  Fixture f;
  for (bool destroyed : {false, true}) {
    SCOPED_TRACE(destroyed ? "destroyed" : "removed");
    auto field = f.add(std::make_shared<TokenField>(fnd::Rect(10, 240, 300, 40)));
    field->setCompletionHook([](const std::string&) { return std::vector<std::string>{"recipes", "reading"}; });
    typeInto(f.window, field.get(), "re");
    ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "no list of completions opened";
    field->removeFromSuperview();
    if (destroyed) field.reset();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    if (auto* left = QApplication::activePopupWidget()) left->close();
  }
}

TEST(Label, ClicksItDoesNotUseReachTheViewBehindIt) {
  Fixture f;
  class ClickSink : public View {
   public:
    using View::View;
    int downs = 0, ups = 0;
    void mouseDown(const Event&) override { ++downs; }
    void mouseUp(const Event&) override { ++ups; }
  };
  auto cell = f.add(std::make_shared<ClickSink>(fnd::Rect(0, 200, 300, 60)));
  auto label = std::make_shared<Label>(fnd::Rect(10, 10, 200, 24), "Caption");
  cell->addSubview(label);
  auto field = std::make_shared<TextField>(fnd::Rect(220, 10, 70, 24));
  cell->addSubview(field);
  QWindow* w = static_cast<QWidget*>(f.window.nativeHandle())->windowHandle();
  // Window point (50, 222) lies on the label: 300 - 222 pixels from the top.
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(50, 300 - 222));
  EXPECT_EQ(cell->downs, 1);
  EXPECT_EQ(cell->ups, 1);
  // The field uses its clicks.
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(250, 300 - 222));
  EXPECT_EQ(cell->downs, 1);
  EXPECT_TRUE(field->isEditing());
}
