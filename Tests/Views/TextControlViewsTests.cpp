#include "Harness/FocusedKeys.h"
#include "Harness/TestSupport.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Window.h"
#include "Views/Unused/BRWLevelIndicatorCell.h"
#include "Views/BRWRoundedComboBox.h"
#include "Views/Unused/BRWRoundedTextField.h"
#include "Views/Unused/BlackCell.h"
#include "Views/Unused/Brightwren.h"
#include "Views/DarkRoundedLook.h"
#include "Views/Unused/GradientTextField.h"
#include "Views/KSTTokenField.h"
#include "Views/Unused/KestoFilterField.h"
#include "Views/KestoTitleTextView.h"
#include "Views/LinkLabel.h"
#include "Views/WrenSearchField.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace kesto;

namespace {

using kesto::test::press;
using kesto::test::type;
using kesto::test::typeInto;

struct Shown {
  ui::Window window{fnd::Rect(0, 0, 400, 300)};
  Shown() {
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(QTest::qWaitForWindowActive(static_cast<QWidget*>(window.nativeHandle())));
  }
  template <typename T>
  std::shared_ptr<T> add(std::shared_ptr<T> view) {
    window.contentView()->addSubview(view);
    view->awakeFromNib();
    return view;
  }
  // A click as the window system delivers it, at a point in the window's coordinates.
  void click(const fnd::Point& p) {
    QWindow* w = static_cast<QWidget*>(window.nativeHandle())->windowHandle();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(int(p.x), int(300 - p.y)));
  }
};


ui::Color pixel(ui::View& view, double x, double yFromTop) {
  return view.snapshot().pixelColor(int(x), int(yFromTop));
}

}  // namespace

TEST(BRWTextField, ReturnInsertsALineAndEscapeEndsTheEditKeepingTheText) {
  Shown s;
  auto field = s.add(std::make_shared<BRWTextField>(fnd::Rect(10, 200, 200, 60)));
  field->setStringValue("one");
  s.window.makeFirstResponder(field.get());
  press(Qt::Key_End);
  press(Qt::Key_Return, "\r");
  type("two");
  EXPECT_EQ(field->stringValue(), "one\ntwo");
  press(Qt::Key_Escape, "\x1b");
  EXPECT_FALSE(field->isEditing());
  EXPECT_NE(s.window.firstResponder(), field.get());
  EXPECT_EQ(field->stringValue(), "one\ntwo");
}

TEST(BRWRoundedTextField, DarkLookGreyPlaceholderAndClicksThatDoNotEdit) {
  Shown s;
  auto field = s.add(std::make_shared<BRWRoundedTextField>(fnd::Rect(10, 200, 200, 30)));
  EXPECT_EQ(field->backgroundColor(), ui::Color::white(0.15));
  EXPECT_EQ(field->borderColor(), ui::Color::white(0.25));
  EXPECT_EQ(field->borderWidth(), 2.0);
  EXPECT_EQ(field->cornerRadius(), 2.0);
  EXPECT_EQ(field->placeholderString(), "");
  EXPECT_EQ(field->placeholderColor(), systemLightGrey());
  // The dark body shows through the field (inside the border).
  ui::Color body = pixel(*field, 100, 15);
  EXPECT_NEAR(body.red, 0.15, 0.02);
  s.click({50, 215});
  EXPECT_FALSE(field->isEditing());
  EXPECT_NE(s.window.firstResponder(), field.get());
  // Tab or code still reach it, and Escape and several lines still work.
  s.window.makeFirstResponder(field.get());
  EXPECT_TRUE(field->isEditing());
  EXPECT_TRUE(field->wraps());
}

TEST(KestoTitleTextView, ReturnWithOrWithoutModifiersEndsTheEditAndReportsIt) {
  Shown s;
  auto title = s.add(std::make_shared<KestoTitleTextView>(fnd::Rect(10, 200, 200, 40)));
  auto url = s.add(std::make_shared<KestoURLTextView>(fnd::Rect(10, 100, 200, 40)));
  std::vector<std::string> reports;
  title->setEditEndedHandler([&] { reports.push_back("title"); });
  url->setEditEndedHandler([&] { reports.push_back("url"); });
  typeInto(s.window, title.get(), "Ab");
  press(Qt::Key_Return, "\r", Qt::ShiftModifier);
  EXPECT_EQ(title->stringValue(), "Ab");
  EXPECT_FALSE(title->isEditable());
  type("c");  // read-only until its owner says otherwise
  EXPECT_EQ(title->stringValue(), "Ab");
  s.window.makeFirstResponder(url.get());
  press(Qt::Key_Return, "\r", Qt::ControlModifier);
  EXPECT_EQ(reports, (std::vector<std::string>{"title", "url"}));
  title->setEditable(true);
  typeInto(s.window, title.get(), "c");
  EXPECT_EQ(title->stringValue(), "Abc");
}

TEST(TokenFields, KestoTokenFieldDropsReturnAndTheStyledOnesTakeTheirLooks) {
  Shown s;
  auto tags = s.add(std::make_shared<KestoTokenField>(fnd::Rect(10, 200, 300, 30)));
  auto next = s.add(std::make_shared<KestoTokenField>(fnd::Rect(10, 150, 300, 30)));
  typeInto(s.window, tags.get(), "web");
  press(Qt::Key_Return, "\r", Qt::AltModifier);
  press(Qt::Key_Return, "\r");
  EXPECT_TRUE(tags->tokens().empty());
  EXPECT_EQ(tags->pendingText(), "web");
  press(Qt::Key_Tab, "\t");
  EXPECT_EQ(tags->tokens(), (std::vector<std::string>{"web"}));
  EXPECT_EQ(s.window.firstResponder(), next.get());

  auto dark = s.add(std::make_shared<KSTTokenField>(fnd::Rect(10, 100, 300, 30)));
  EXPECT_EQ(dark->backgroundColor(), ui::Color::white(0.15));
  auto light = s.add(std::make_shared<KestoRoundedTokenField>(fnd::Rect(10, 50, 300, 30)));
  EXPECT_EQ(light->backgroundColor(), ui::Color::white(1.0));
  EXPECT_EQ(light->borderWidth(), 1.2);
  EXPECT_EQ(light->borderColor(), ui::Color::white(0.75));
}

TEST(WrenSearchField, AClickIsReportedAfterTheFieldHandledIt) {
  Shown s;
  auto field = s.add(std::make_shared<WrenSearchField>(fnd::Rect(100, 250, 200, 26)));
  s.click({200, 263});  // no handler yet: the field still takes the click
  EXPECT_TRUE(field->isEditing());
  s.window.makeFirstResponder(nullptr);
  bool editingWhenReported = false;
  int reports = 0;
  field->setMouseDownHandler([&] {
    ++reports;
    editingWhenReported = field->isEditing();
  });
  s.click({200, 263});
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(editingWhenReported);
  s.click({210, 263});  // already being edited: reported again
  EXPECT_EQ(reports, 2);
}

TEST(SearchInScopeDelegate, OnlyUpArrowAndTabLeaveForTheBookmarkList) {
  Shown s;
  auto field = s.add(std::make_shared<ui::SearchField>(fnd::Rect(100, 250, 200, 26)));
  int leaves = 0;
  SearchInScopeDelegate delegate([&] { ++leaves; });
  field->setDelegate(&delegate);
  int actions = 0;
  field->setAction([&] { ++actions; });
  typeInto(s.window, field.get(), "q");
  press(Qt::Key_Down);
  press(Qt::Key_Return, "\r");
  press(Qt::Key_Escape, "\x1b");
  EXPECT_EQ(leaves, 0);
  press(Qt::Key_Up);
  press(Qt::Key_Tab, "\t");
  EXPECT_EQ(leaves, 2);
  // Tab was handled: the focus stayed.
  EXPECT_EQ(s.window.firstResponder(), field.get());
}

TEST(BRWRoundedComboBox, OpensOnlyWhenClosedAndClosesOnlyWhenOpen) {
  Shown s;
  auto box = s.add(std::make_shared<BRWRoundedComboBox>(fnd::Rect(10, 250, 200, 26)));
  box->addItemsWithObjectValues({"Inbox", "Ideas"});
  EXPECT_FALSE(box->isExpanded());
  box->setExpanded(true);
  EXPECT_TRUE(box->isExpanded());
  box->setExpanded(false);
  EXPECT_FALSE(box->isExpanded());
}

class LinkLabels : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::Workspace::setLauncher([this](const std::string&, const std::vector<std::string>& args) {
      opened.push_back(args.empty() ? std::string() : args.back());
      return true;
    });
  }
  void TearDown() override { sys::Workspace::setLauncher(nullptr); }
  std::vector<std::string> opened;
};

TEST_F(LinkLabels, OpenValidAddressesOnlyAndOnlyWhileActive) {
  Shown s;
  auto maker = s.add(std::make_shared<BRWLinkLabel>(fnd::Rect(10, 250, 150, 20), "Web site"));
  EXPECT_EQ(maker->url(), kMakerWebSite);
  EXPECT_TRUE(maker->showsLinkCursor());
  s.click({20, 260});
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.back(), kMakerWebSite);
  for (const char* bad : {"not an address", "http://", "", "-x http://a"}) {
    maker->setUrl(bad);
    s.click({20, 260});
    EXPECT_EQ(opened.size(), 1u) << bad;
  }

  auto result = std::make_shared<LinkLabel>(fnd::Rect(10, 200, 150, 20), "Search the web");
  EXPECT_FALSE(result->active());
  EXPECT_EQ(result->url(), "");
  s.add(result);
  EXPECT_TRUE(result->active());
  result->setUrl("https://duckduckgo.com/?q=kesto");
  result->setActive(false);
  s.click({20, 210});
  EXPECT_EQ(opened.size(), 1u);
  result->setActive(true);
  s.click({20, 210});
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened.back(), "https://duckduckgo.com/?q=kesto");
}

TEST(BlackCell, OnShowsTheImageOffTheAlternateAndPressedTheImageWithAGlow) {
  ui::Window window(fnd::Rect(0, 0, 100, 100));
  auto cell = std::make_shared<BlackCell>(fnd::Rect(0, 0, 40, 40));
  window.contentView()->addSubview(cell);
  cell->setImage(ui::Image(10, 10, ui::Color::rgb(1, 0, 0)));
  cell->setAlternateImage(ui::Image(10, 10, ui::Color::rgb(0, 1, 0)));
  EXPECT_EQ(pixel(*cell, 20, 20), ui::Color::rgb(0, 1, 0));
  EXPECT_EQ(pixel(*cell, 2, 2), ui::Color::black());
  cell->setState(1);
  EXPECT_EQ(pixel(*cell, 20, 20), ui::Color::rgb(1, 0, 0));
  cell->setState(0);
  int actions = 0;
  cell->setAction([&] { ++actions; });
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, {20, 20}));
  EXPECT_EQ(pixel(*cell, 20, 20), ui::Color::rgb(1, 0, 0));
  // The glow lights the black ground just outside the image.
  ui::Color glow = pixel(*cell, 20, 13);
  EXPECT_GT(glow.blue, 0.1);
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {20, 20}));
  EXPECT_EQ(cell->state(), 1);
  EXPECT_EQ(actions, 1);
  // A release outside is no click.
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, {20, 20}));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {90, 90}));
  EXPECT_EQ(cell->state(), 1);
  EXPECT_EQ(actions, 1);
}

TEST(Brightwren, ButtonTitleColourAndColouredInsertion) {
  ui::Button button(fnd::Rect(0, 0, 80, 24));
  EXPECT_EQ(brightwren::textColor(button), brightwren::controlTextColor());
  button.setTitle("Add");
  EXPECT_EQ(brightwren::textColor(button), std::nullopt);
  brightwren::setTextColor(button, ui::Color::white(1.0));
  EXPECT_EQ(brightwren::textColor(button), ui::Color::white(1.0));

  ui::TextView view(fnd::Rect(0, 0, 100, 50));
  view.setStringValue("ab");
  brightwren::insertText(view, "c", ui::Color::rgb(1, 0, 0));
  EXPECT_EQ(view.textColor(), ui::Color::rgb(1, 0, 0));
  EXPECT_NE(view.stringValue().find('c'), std::string::npos);
}

TEST(BRWLevelIndicatorCell, AlwaysDrawsHighlighted) {
  ui::Window window(fnd::Rect(0, 0, 200, 100));
  auto stars = std::make_shared<BRWLevelIndicatorCell>(fnd::Rect(0, 0, 100, 20));
  window.contentView()->addSubview(stars);
  stars->setDoubleValue(2);
  stars->setHighlighted(false);
  EXPECT_TRUE(stars->isHighlighted());
  EXPECT_EQ(pixel(*stars, 10, 10), ui::Color::white(1.0));
}

TEST(GradientTextField, DrawsItsFrameAndWhiteFaceUnderTheText) {
  ui::Window window(fnd::Rect(0, 0, 300, 100));
  auto field = std::make_shared<GradientTextField>(fnd::Rect(10, 10, 200, 24));
  window.contentView()->addSubview(field);
  field->setStringValue("x");
  // The face (1, 2, W - 2, H - 4) is white; the bottom row is the body's darker gradient.
  EXPECT_EQ(pixel(*field, 190, 12), ui::Color::white(1.0));
  ui::Color bottom = pixel(*field, 100, 23);
  EXPECT_LT(bottom.red, 0.6);
  EXPECT_EQ(bottom.red, bottom.blue);
  // The top row lies outside the body (height H - 1): nothing is drawn there.
  EXPECT_EQ(pixel(*field, 100, 0).alpha, 0);
}

TEST(KestoFilterField, DrawsItsImageOverTheFieldInsetFromTheCorner) {
  Shown s;
  auto field = s.add(std::make_shared<KestoFilterField>(fnd::Rect(10, 200, 200, 26)));
  field->setFilterImage(ui::Image(30, 30, ui::Color::rgb(1, 0, 0)));
  field->setStringValue("x");
  // Inside the inset rectangle the image covers the field; at the very corner it does not.
  // (The view is unflipped: the inset starts 4 points from the bottom-left corner.)
  EXPECT_EQ(pixel(*field, 10, 26 - 8), ui::Color::rgb(1, 0, 0));
  EXPECT_NE(pixel(*field, 1, 26 - 1), ui::Color::rgb(1, 0, 0));
  // Clicks still reach the field under the image.
  s.click({20, 210});
  EXPECT_TRUE(field->isEditing());
}
