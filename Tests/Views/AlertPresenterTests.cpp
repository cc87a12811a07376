// Alerts through the desktop's message dialog: every way out of a question answers it exactly
// once; wrapped label text loses nothing at its breaks.
#include "Harness/TestDialogResponder.h"
#include "Harness/TestSupport.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/GraphicsContext.h"
#include "Views/DialogAlertPresenter.h"
#include "Views/TextLabel.h"

#include <QFontMetrics>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kesto::test {
namespace {

TEST(DialogAlertPresenter, ClosingFromTheTitleBarAnswersWithTheLastButtonOnce) {
  DialogAlertPresenter presenter;
  std::vector<int> answers;
  presenter.askQuestion("The library cannot be opened", "why", {"Quit"}, [&](int i) { answers.push_back(i); });
  presenter.askQuestion("Replace?", "which", {"Replace", "Cancel"}, [&](int i) { answers.push_back(i + 10); });
  auto alerts = presenter.shownAlerts();
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].windowTitle(), "The library cannot be opened");
  EXPECT_EQ(alerts[0].informativeText(), "why");
  static_cast<QMessageBox*>(alerts[1].nativeHandle())->close();
  static_cast<QMessageBox*>(alerts[0].nativeHandle())->close();
  ASSERT_TRUE(runUntil([&] { return answers.size() == 2; }, 30));
  EXPECT_EQ(answers, (std::vector<int>{11, 0}));
  EXPECT_TRUE(presenter.shownAlerts().empty());
  // A click that reaches an alert already answered adds nothing.
  EXPECT_FALSE(presenter.clickButton(0));
  spin(0.05);
  EXPECT_EQ(answers.size(), 2u);
}

// A question asked as one sentence (no separate text) keeps it as the heading only; the title bar
// names the application instead of repeating it, cut.
TEST(DialogAlertPresenter, AQuestionWithoutTextIsNotAlsoTheWindowTitle) {
  DialogAlertPresenter presenter;
  const std::string question = "One or more selected bookmarks are either from Pinboard or Delicious. These bookmarks "
                               "will instantly be deleted online as well. Continue deleting?";
  presenter.askQuestion(question, "", {"Yes", "No"}, [](int) {});
  presenter.askQuestion("Replace?", "which", {"Replace", "Cancel"}, [](int) {});
  auto alerts = presenter.shownAlerts();
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].messageText(), question);
  EXPECT_EQ(alerts[0].windowTitle(), "Kesto");
  EXPECT_EQ(alerts[1].windowTitle(), "Replace?");
  EXPECT_TRUE(presenter.clickButton(1));
  EXPECT_TRUE(presenter.clickButton(1));
}

TEST(DialogAlertPresenter, ThePresenterCanGoWithAlertsOpenOrBeingAnswered) {
  auto presenter = std::make_unique<DialogAlertPresenter>();
  int answered = 0;
  presenter->askQuestion("Sync failed", "gone", {"OK"}, [&](int) { ++answered; });
  ASSERT_TRUE(presenter->clickButton(0));
  presenter->askQuestion("Still open", "at quit", {"OK"}, [&](int) { answered += 10; });
  auto open = presenter->shownAlerts();
  ASSERT_EQ(open.size(), 1u);
  presenter.reset();  // as at quit, before the loop turns again
  spin(0.05);
  EXPECT_EQ(answered, 1);  // the alert still open went unanswered, and quietly
  EXPECT_FALSE(open[0].isShown());
}

TEST(DialogAlertPresenter, TheTestResponderAnswersItsQuestions) {
  auto responder = TestDialogResponder::install();
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn, false});
  DialogAlertPresenter presenter;
  int chosen = -1;
  presenter.askQuestion("Kesto Restore", "Continue?", {"Yes", "No"}, [&](int i) { chosen = i; });
  ASSERT_TRUE(runUntil([&] { return chosen != -1; }, 30));
  EXPECT_EQ(chosen, 1);
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Kesto Restore");
  EXPECT_EQ(responder->alerts[0].informative, "Continue?");
  TestDialogResponder::uninstall();
}

TEST(DialogAlertPresenter, SuccessIsToldWithTheInformationIconAndItsTitleOnlyOnTheWindow) {
  DialogAlertPresenter presenter;
  presenter.showInformation("Share", "Your Kesto archive has been saved", "OK");
  presenter.showAlert("Import failed", "Unable to read bookmark file 'x' for import.", "OK");
  auto alerts = presenter.shownAlerts();
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].alertStyle(), ui::AlertStyle::Informational);
  EXPECT_EQ(alerts[0].windowTitle(), "Share");
  EXPECT_EQ(alerts[0].messageText(), "Your Kesto archive has been saved");
  EXPECT_EQ(alerts[0].informativeText(), "");
  auto* box = static_cast<QMessageBox*>(alerts[0].nativeHandle());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->icon(), QMessageBox::Information);
  EXPECT_EQ(box->text().toStdString(), "Your Kesto archive has been saved") << "the title is not its first line";
  // A failure keeps the warning and its heading.
  EXPECT_EQ(alerts[1].alertStyle(), ui::AlertStyle::Warning);
  EXPECT_EQ(alerts[1].messageText(), "Import failed");
  EXPECT_EQ(static_cast<QMessageBox*>(alerts[1].nativeHandle())->icon(), QMessageBox::Warning);
  presenter.clickButton(0);
  presenter.clickButton(0);
}

// A short message under a longer title: the box is wide enough for the whole title in a bold
// title-bar font beside the frame's buttons, so the window manager does not cut it.
TEST(DialogAlertPresenter, TheBoxIsWideEnoughForItsWholeTitle) {
  DialogAlertPresenter presenter;
  const std::string title = "Connection error while reaching the synced folder";
  presenter.showAlert(title, "Offline.", "OK");
  auto alerts = presenter.shownAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  auto* box = static_cast<QMessageBox*>(alerts[0].nativeHandle());
  ASSERT_TRUE(box);
  ASSERT_TRUE(runUntil([&] { return box->isVisible(); }, 30));
  QFont bold = box->font();
  bold.setBold(true);
  EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(QString::fromStdString(title)) + 100);
  presenter.clickButton(0);
}

TEST(TextLabel, ALongMessageWrapsWhole) {
  ui::Font font;
  font.pointSize = 12;
  const std::string path = "/home/someone/.local/share/kesto/a-folder-name-long-enough-to-need-a-break/data.sqlite";
  const std::string message = "Kesto cannot open its library at " + path +
                              ". The store file is damaged or not a store: file is not a database";
  auto lines = TextLabel::wrappedLines(message, 420, font);
  ASSERT_GE(lines.size(), 3u);
  std::string joined;
  for (const auto& line : lines) {
    joined += line;
    EXPECT_LE(ui::GraphicsContext::sizeOfText(line, font).width, 420.0) << line;
  }
  EXPECT_EQ(joined, message);  // nothing lost or doubled at the breaks
  // A word wider than the line is broken between characters, never inside a UTF-8 sequence.
  const std::string word = "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";
  auto broken = TextLabel::wrappedLines(word, 30, font);
  ASSERT_GT(broken.size(), 1u);
  joined.clear();
  for (const auto& line : broken) {
    ASSERT_FALSE(line.empty());
    EXPECT_NE(static_cast<unsigned char>(line[0]) & 0xC0, 0x80u);
    joined += line;
  }
  EXPECT_EQ(joined, word);
  // Line feeds in the message start new lines.
  EXPECT_EQ(TextLabel::wrappedLines("one\ntwo", 420, font), (std::vector<std::string>{"one\n", "two"}));
}

// Pixels of an image that are darker than mid grey, by column.
std::vector<int> darkColumns(const ui::Image& image) {
  std::vector<int> columns(static_cast<std::size_t>(image.size().width), 0);
  for (int x = 0; x < static_cast<int>(image.size().width); ++x)
    for (int y = 0; y < static_cast<int>(image.size().height); ++y) {
      const ui::Color c = image.pixelColor(x, y);
      if (c.alpha > 0.5 && c.red + c.green + c.blue < 1.5) ++columns[static_cast<std::size_t>(x)];
    }
  return columns;
}
int total(const std::vector<int>& columns) {
  int n = 0;
  for (int c : columns) n += c;
  return n;
}

// A title from a crafted file can be tens of megabytes: drawing measures only what can show
// (BM_DrawingAHugeTitle times it).
TEST(TextLabel, AHugeTextIsDrawnWithoutMeasuringItWhole) {
  const std::string huge(20u * 1024 * 1024, 'w');
  for (bool wraps : {false, true}) {
    TextLabel label(fnd::Rect(0, 0, 300, 60));
    label.setWraps(wraps);
    label.setStringValue(huge);
    auto image = label.snapshot();
    EXPECT_GT(total(darkColumns(image)), 0) << (wraps ? "wrapping" : "one line");
  }
  // The prefix holds more than fits, ends in an ellipsis, and never splits a character.
  const std::string shown = ui::GraphicsContext::prefixThatCanShow(huge, 300);
  EXPECT_LT(shown.size(), 1000u);
  EXPECT_EQ(shown.substr(shown.size() - 3), "\u2026");
  EXPECT_EQ(ui::GraphicsContext::prefixThatCanShow("short", 300), "short");
  const std::string accents = ui::GraphicsContext::prefixThatCanShow(std::string(3000, 'a') + std::string(2000, '\xC3'), 10);
  EXPECT_EQ(accents, std::string(26, 'a') + "\u2026");
}

// A label draws once into a kept picture; each change of its text, colour or width shows at the
// next paint, and a label its superview cuts off shows the same pixels shifted.
TEST(TextLabel, TheKeptDrawingFollowsTextColourWidthAndClipping) {
  auto parent = std::make_shared<ui::View>(fnd::Rect(0, 0, 300, 24));
  parent->setBackgroundColor(ui::Color::white());
  auto label = std::make_shared<TextLabel>(fnd::Rect(0, 0, 300, 24));
  parent->addSubview(label);
  label->setStringValue("Mmmm");
  const int shortText = total(darkColumns(parent->snapshot()));
  ASSERT_GT(shortText, 0);
  label->setStringValue("Mmmm Mmmm Mmmm");
  const int longText = total(darkColumns(parent->snapshot()));
  EXPECT_GT(longText, shortText + shortText / 2);
  label->setTextColor(ui::Color::white());
  EXPECT_EQ(total(darkColumns(parent->snapshot())), 0);
  label->setTextColor(ui::Color::black());
  label->setFrameSize({60, 24});
  EXPECT_LT(total(darkColumns(parent->snapshot())), longText);

  // The same label moved 40 points left, so the superview cuts its start off.
  label->setFrame(fnd::Rect(0, 0, 300, 24));
  const auto whole = darkColumns(parent->snapshot());
  label->setFrameOrigin({-40, 0});
  const auto cut = darkColumns(parent->snapshot());
  for (std::size_t x = 0; x + 40 < whole.size(); ++x) EXPECT_EQ(cut[x], whole[x + 40]) << x;
}

}  // namespace
}  // namespace kesto::test
