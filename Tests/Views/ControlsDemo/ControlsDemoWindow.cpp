#include "ControlsDemo/ControlsDemoWindow.h"

#include "Platform/UI/Button.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/Unused/Slider.h"
#include "Views/Unused/BRWLevelIndicatorCell.h"
#include "Views/BRWRoundedComboBox.h"
#include "Views/Unused/BRWRoundedSecureTextField.h"
#include "Views/Unused/BRWRoundedTextField.h"
#include "Views/Unused/BRWRoundedTextView.h"
#include "Views/Unused/BlackCell.h"
#include "Views/FlippedView.h"
#include "Views/Unused/GradientTextField.h"
#include "Views/KSTTokenField.h"
#include "Views/Unused/KestoAutofocusTextField.h"
#include "Views/Unused/KestoLabel.h"
#include "Views/LinkLabel.h"
#include "Views/WrenSearchField.h"

namespace kesto::test {

namespace {

// A desktop icon when the theme has it, else a plain swatch.
ui::Image icon(const std::string& name, const ui::Color& fallback) {
  ui::Image image = ui::Image::fromFile("/usr/share/icons/Adwaita/16x16/actions/" + name + ".symbolic.png");
  return image.isNull() ? ui::Image(16, 16, fallback) : image;
}

constexpr double kWidth = 680, kHeight = 640, kLeft = 16, kControls = 170, kRow = 34;

// A text control 300 wide in the controls' column at `top`, showing `text` while empty, or as its
// value.
template <typename Field>
std::shared_ptr<Field> withPlaceholder(double top, const std::string& text) {
  auto field = std::make_shared<Field>(fnd::Rect(kControls, top, 300, 26));
  field->setPlaceholderString(text);
  return field;
}
template <typename Field>
std::shared_ptr<Field> withValue(double top, const std::string& text, double height) {
  auto field = std::make_shared<Field>(fnd::Rect(kControls, top, 300, height));
  field->setStringValue(text);
  return field;
}

}  // namespace

ControlsDemo makeControlsDemo() {
  ControlsDemo demo;
  demo.window = std::make_unique<ui::Window>(fnd::Rect(120, 80, kWidth, kHeight));
  demo.window->setTitle(ControlsDemo::kTitle);
  auto root = std::make_shared<FlippedView>(fnd::Rect(0, 0, kWidth, kHeight));
  root->setBackgroundColor(ui::Color::white(0.93));
  demo.window->setContentView(root);
  double y = 12;
  auto add = [&](std::shared_ptr<ui::View> view) {
    root->addSubview(view);
    view->awakeFromNib();
    demo.controls.push_back(view);
    return view;
  };
  auto row = [&](const std::string& caption, double height = 26) {
    auto label = std::make_shared<KestoLabel>(fnd::Rect(kLeft, y, kControls - kLeft - 8, 24), caption);
    add(label);
    double top = y;
    y += std::max(kRow, height + 8);
    return top;
  };

  double top = row("Buttons", 28);
  auto push = std::make_shared<ui::Button>(fnd::Rect(kControls, top, 130, 28));
  push->setTitle("Add Bookmark");
  add(push);
  auto onOff = std::make_shared<ui::Button>(fnd::Rect(kControls + 140, top, 34, 28), ui::Button::Kind::OnOff);
  onOff->setImage(icon("media-playback-pause-symbolic", ui::Color::rgb(0.2, 0.5, 0.9)));
  onOff->setAlternateImage(icon("media-playback-start-symbolic", ui::Color::rgb(0.9, 0.5, 0.2)));
  onOff->setAccessibilityLabel("Play");
  add(onOff);
  auto image = std::make_shared<ui::Button>(fnd::Rect(kControls + 184, top, 28, 28), ui::Button::Kind::Image);
  image->setImage(icon("list-add-symbolic", ui::Color::rgb(0.3, 0.3, 0.3)));
  image->setAlternateImage(image->image());
  image->setAccessibilityLabel("Add");
  add(image);
  auto check = std::make_shared<ui::Button>(fnd::Rect(kControls + 224, top, 160, 28), ui::Button::Kind::Checkbox);
  check->setTitle("Skip duplicates");
  add(check);
  auto cell = std::make_shared<BlackCell>(fnd::Rect(kControls + 390, top, 28, 28));
  // The desktop's symbolic icons are dark: on black the cell shows light swatches instead.
  cell->setImage(ui::Image(12, 12, ui::Color::white(1.0)));
  cell->setAlternateImage(ui::Image(12, 12, ui::Color::white(0.45)));
  add(cell);

  top = row("Choices");
  auto grid = std::make_shared<ui::Button>(fnd::Rect(kControls, top, 70, 26), ui::Button::Kind::Radio);
  grid->setTitle("Grid");
  grid->setState(1);
  add(grid);
  auto list = std::make_shared<ui::Button>(fnd::Rect(kControls + 76, top, 70, 26), ui::Button::Kind::Radio);
  list->setTitle("List");
  add(list);
  auto popUp = std::make_shared<ui::PopUpButton>(fnd::Rect(kControls + 156, top, 140, 26));
  for (const char* t : {"Grid", "List", "Compact"}) popUp->addItemWithTitle(t);
  add(popUp);

  top = row("Text field");
  demo.textField = withPlaceholder<ui::TextField>(top, "Type here");
  demo.textField->setAccessibilityLabel("Demo text field");
  add(demo.textField);
  auto autofocus = std::make_shared<KestoAutofocusTextField>(fnd::Rect(kControls + 310, top, 180, 26));
  autofocus->setPlaceholderString("Focus on any click");
  add(autofocus);

  add(withPlaceholder<BRWRoundedSecureTextField>(row("Secure field"), "Password"));
  add(withPlaceholder<BRWRoundedTextField>(row("Rounded field"), "Title (Tab to edit)"));
  add(withValue<BRWTextField>(row("Wrapping field", 48), "Return and Tab insert here", 48));
  add(withValue<BRWRoundedTextView>(row("Text view", 56), "Notes on the bookmark", 56));
  add(withValue<GradientTextField>(row("Gradient field"), "Gradient frame", 24));

  top = row("Search field");
  auto search = std::make_shared<WrenSearchField>(fnd::Rect(kControls, top, 300, 26));
  search->setPlaceholderString("Search bookmarks");
  search->setSearchMenu({{"All", 0}, {"Titles", 1}, {"Addresses", 2}}, [](int) {});
  demo.searchField = search;
  add(search);

  top = row("Token fields", 30);
  auto dark = std::make_shared<KSTTokenField>(fnd::Rect(kControls, top, 240, 30));
  dark->setTokens({"news", "reading"});
  dark->setPlaceholderString("Tags");
  add(dark);
  auto light = std::make_shared<KestoRoundedTokenField>(fnd::Rect(kControls + 250, top, 240, 30));
  light->setTokens({"later"});
  add(light);

  top = row("Combo box");
  auto combo = std::make_shared<BRWRoundedComboBox>(fnd::Rect(kControls, top, 240, 26));
  combo->addItemsWithObjectValues({"Inbox", "Ideas", "Recipes"});
  combo->setStringValue("Inbox");
  add(combo);

  top = row("Labels", 36);
  auto bold = std::make_shared<KestoLabelBold>(fnd::Rect(kControls, top, 100, 24), "Bold label");
  add(bold);
  auto wrapped = std::make_shared<ui::Label>(fnd::Rect(kControls + 106, top, 200, 36),
                                             "A label whose text wraps onto a second line");
  wrapped->setWraps(true);
  add(wrapped);
  auto link = std::make_shared<BRWLinkLabel>(fnd::Rect(kControls + 316, top, 120, 24), "kesto.app");
  link->setTextColor(ui::Color::rgb(0.1, 0.35, 0.85));
  add(link);

  top = row("Rating and slider");
  auto rating = std::make_shared<ui::LevelIndicator>(fnd::Rect(kControls, top + 3, 100, 20));
  rating->setDoubleValue(3);
  add(rating);
  auto selected = std::make_shared<BRWLevelIndicatorCell>(fnd::Rect(kControls + 110, top, 110, 26));
  selected->setBackgroundColor(ui::Color::rgb(0.22, 0.45, 0.85));
  selected->setDoubleValue(4);
  add(selected);
  auto slider = std::make_shared<ui::Slider>(fnd::Rect(kControls + 230, top, 200, 26));
  slider->setDoubleValue(0.4);
  add(slider);
  return demo;
}

}  // namespace kesto::test
