// Ending the editing under way in a window (quit, close, a window that hides): the text being
// edited ends as at a click elsewhere, also in a window that is not active.
#include "Harness/FocusedKeys.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;

namespace {

struct Ends : TextEditingDelegate {
  int ends = 0;
  void controlTextDidEndEditing(Control&) override { ++ends; }
};

class Focusable : public View {
 public:
  using View::View;
  bool acceptsFirstResponder() override { return true; }
};

bool activate(Window& window) {
  window.makeKeyAndOrderFront();
  return QTest::qWaitForWindowActive(static_cast<QWidget*>(window.nativeHandle()));
}

struct EditingWindow {
  Window window{fnd::Rect(0, 0, 400, 300)};
  std::shared_ptr<TextField> field = std::make_shared<TextField>(fnd::Rect(10, 250, 200, 24));
  std::shared_ptr<Focusable> other = std::make_shared<Focusable>(fnd::Rect(10, 10, 50, 50));
  Ends delegate;
  EditingWindow() {
    window.contentView()->addSubview(field);
    window.contentView()->addSubview(other);
    field->setDelegate(&delegate);
    EXPECT_TRUE(activate(window));
  }
};

}  // namespace

TEST(WindowEndEditing, TheTextBeingEditedEndsOnceWhetherTheWindowIsActiveOrNot) {
  EditingWindow w;
  test::typeInto(w.window, w.field.get(), "ab");
  w.window.endEditing();
  EXPECT_EQ(w.delegate.ends, 1);
  EXPECT_FALSE(w.field->isEditing());
  EXPECT_EQ(w.window.firstResponder(), &w.window);
  w.window.endEditing();  // nothing being edited any more
  EXPECT_EQ(w.delegate.ends, 1);

  // Left for another window, the field keeps its edit; ending it there needs no focus event.
  test::typeInto(w.window, w.field.get(), "c");
  Window elsewhere(fnd::Rect(420, 0, 100, 100));
  ASSERT_TRUE(activate(elsewhere));
  EXPECT_TRUE(w.field->isEditing());
  w.window.endEditing();
  EXPECT_EQ(w.delegate.ends, 2);
  EXPECT_FALSE(w.field->isEditing());

  // Back in the window, the field's next edit is a new one, and ends as any.
  ASSERT_TRUE(activate(w.window));
  test::typeInto(w.window, w.field.get(), "d");
  EXPECT_TRUE(w.field->isEditing());
  w.window.makeFirstResponder(nullptr);
  EXPECT_EQ(w.delegate.ends, 3);
  EXPECT_EQ(w.field->stringValue(), "abcd");

  // A view that edits no text keeps the focus.
  w.window.makeFirstResponder(w.other.get());
  w.window.endEditing();
  EXPECT_EQ(w.window.firstResponder(), w.other.get());
}

TEST(WindowEndEditing, ClosingAndQuittingEndTheEditFirst) {
  EditingWindow w;
  struct Closing : WindowDelegate {
    Ends* delegate;
    int endsAtClose = -1;
    void windowWillClose(Window&) override { endsAtClose = delegate->ends; }
  } closing;
  closing.delegate = &w.delegate;
  w.window.setDelegate(&closing);
  test::typeInto(w.window, w.field.get(), "a");
  w.window.performClose();
  EXPECT_EQ(closing.endsAtClose, 1);
  EXPECT_FALSE(w.window.isVisible());
  w.window.setDelegate(nullptr);

  // The quit ends every window's edit before the application's delegate is asked.
  EditingWindow second;
  ASSERT_TRUE(activate(w.window));
  test::typeInto(w.window, w.field.get(), "b");
  test::typeInto(second.window, second.field.get(), "c");
  struct Quitting : ApplicationDelegate {
    std::vector<int> endsWhenAsked;
    std::vector<Ends*> delegates;
    TerminateReply applicationShouldTerminate() override {
      for (Ends* d : delegates) endsWhenAsked.push_back(d->ends);
      return TerminateReply::Cancel;
    }
  } quitting;
  quitting.delegates = {&w.delegate, &second.delegate};
  struct Restore {
    ~Restore() { Application::shared().setDelegate(nullptr); }
  } restore;
  Application::shared().setDelegate(&quitting);
  Application::shared().terminate();
  EXPECT_EQ(quitting.endsWhenAsked, (std::vector<int>{2, 1}));
}
