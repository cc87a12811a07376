#include "App/EditorController.h"

#include "Model/StoredText.h"

#include "Model/Base64.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/ScopedFlag.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SegmentedControl.h"
#include "Platform/UI/StandardCommands.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/Window.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarNotifications.h"
#include "Views/BRWColoredView.h"
#include "Views/FlippedView.h"
#include "Views/ImageBox.h"
#include "Views/KSTTokenField.h"
#include "Views/KestoTitleTextView.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {

constexpr double kWidth = 210, kMargin = 12, kFieldWidth = kWidth - 2 * kMargin;

std::string dateText(const std::optional<fnd::Date>& date) {
  static const fnd::DateFormatter formatter = fnd::DateFormatter::fixed("MMMM dd, yyyy", fnd::TimeZone::local());
  return date ? formatter.stringFromDate(*date) : std::string();
}

// A bookmark deleted from the library takes no edit any more.
bool inLibrary(const std::shared_ptr<Bookmark>& b) { return b && b->context() && !b->isDeleted(); }

}  // namespace

const std::vector<std::string>& EditorController::colorNames() {
  static const std::vector<std::string> names = {"default", "blue", "red", "green", "grey", "yellow", "orange"};
  return names;
}

std::vector<ui::TextControl*> EditorController::textControls() const {
  return {views_.title.get(), views_.url.get(), views_.notes.get(), views_.loginField.get(), views_.passwordField.get(),
          views_.tags.get()};
}

std::shared_ptr<Bookmark> EditorController::shownBookmark() const {
  auto b = shown_.lock();
  return inLibrary(b) ? b : nullptr;
}

std::vector<std::shared_ptr<Bookmark>> EditorController::shownBookmarks() const {
  std::vector<std::shared_ptr<Bookmark>> out;
  for (const auto& weak : shownSeveral_)
    if (auto b = weak.lock(); inLibrary(b)) out.push_back(b);
  return out;
}

EditorController::EditorController() {
  KESTO_ASSERT_MAIN_THREAD();
  build();
}

EditorController::~EditorController() {
  fnd::RunLoop::cancelPreviousPerformRequests(this);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  for (ui::TextControl* c : textControls())
    if (c) c->setDelegate(nullptr);
}

void EditorController::build() {
  KESTO_ASSERT_MAIN_THREAD();
  auto root = std::make_shared<FlippedView>(fnd::Rect(0, 0, kWidth, 640));
  root->setBackgroundColor(ui::Color::white(0.96));
  view_ = root;

  views_.segmentedControl = std::make_shared<ui::SegmentedControl>(fnd::Rect(kMargin + 30, 10, kFieldWidth - 60, 24));
  views_.segmentedControl->setSegmentCount(2);
  views_.segmentedControl->setLabel("Info", 0);
  views_.segmentedControl->setLabel("Edit", 1);
  views_.segmentedControl->setSelectedSegment(1);
  views_.segmentedControl->setAction(
      [this] { selectTab(static_cast<int>(views_.segmentedControl->selectedSegment())); });
  root->addSubview(views_.segmentedControl);

  const fnd::Rect panelFrame(0, 44, kWidth, 596);
  views_.infoPanel = std::make_shared<FlippedView>(panelFrame);
  views_.editPanel = std::make_shared<FlippedView>(panelFrame);
  root->addSubview(views_.infoPanel);
  root->addSubview(views_.editPanel);

  ui::Font small;
  small.pointSize = 11;
  auto caption = [&](const std::shared_ptr<ui::View>& panel, double y, const std::string& text) {
    auto l = std::make_shared<TextLabel>(fnd::Rect(kMargin, y, kFieldWidth, 16));
    l->setStringValue(text);
    l->setFont(small);
    l->setTextColor(ui::Color::white(0.4));
    panel->addSubview(l);
    views_.captions.push_back(l);
    return l;
  };
  auto label = [&](const std::shared_ptr<ui::View>& panel, double y, double h = 18) {
    auto l = std::make_shared<TextLabel>(fnd::Rect(kMargin, y, kFieldWidth, h));
    l->setWraps(h > 18);
    panel->addSubview(l);
    detailViews_.push_back(l);
    return l;
  };
  auto noSelection = [](const std::shared_ptr<ui::View>& panel) {
    auto l = std::make_shared<TextLabel>(fnd::Rect(kMargin, 120, kFieldWidth, 20));
    l->setAlignment(ui::TextAlignment::Center);
    l->setTextColor(ui::Color::white(0.45));
    l->setStringValue("No bookmark selected");
    panel->addSubview(l);
    return l;
  };
  // A control of the edit tab, hidden with the other details while nothing is selected.
  auto detail = [&](auto view) {
    views_.editPanel->addSubview(view);
    detailViews_.push_back(view);
    return view;
  };
  auto field = [&](double y, ui::TextField::Style style = ui::TextField::Style::Plain) {
    auto f = detail(std::make_shared<ui::TextField>(fnd::Rect(kMargin, y, kFieldWidth, 24), style));
    f->setDelegate(this);
    return f;
  };

  // Edit tab.
  double y = 4;
  // A captioned text field whose Return (or leaving it) stores what was typed.
  auto fieldRow = [&](const char* name, std::shared_ptr<ui::TextField>& slot, void (EditorController::*store)()) {
    caption(views_.editPanel, y, name);
    slot = field(y + 16);
    slot->setAction([this, store] { (this->*store)(); });
    y += 48;
  };
  caption(views_.editPanel, y, "Title");
  auto textView = [&](auto view, double y) {
    view->setFrame(fnd::Rect(kMargin, y, kFieldWidth, 24));
    // One line high: a long title runs on instead of wrapping into a half-shown second line.
    view->setWrapsLines(false);
    // Tab ends the edit (which stores it) and moves on, as in the other fields.
    view->setTabChangesFocus(true);
    view->setDelegate(this);
    return detail(view);
  };
  views_.title = textView(std::make_shared<KestoTitleTextView>(), y + 16);
  views_.title->setAction([this] { updateTitle(); });
  views_.title->setEditEndedHandler([] { ViewUpdater::updateCurrentBookmarkTitleFromEdit(); });
  y += 48;
  caption(views_.editPanel, y, "Address");
  views_.url = textView(std::make_shared<KestoURLTextView>(), y + 16);
  views_.url->setAction([this] { updateURL(); });
  views_.url->setEditEndedHandler([] { ViewUpdater::updateCurrentBookmarkURLFromEdit(); });
  y += 48;
  fieldRow("Notes", views_.notes, &EditorController::updateNotes);
  caption(views_.editPanel, y, "Tags");
  // The application's light rounded token field.
  auto tokens = std::make_shared<KestoRoundedTokenField>(fnd::Rect(kMargin, y + 16, kFieldWidth, 26));
  tokens->awakeFromNib();
  views_.tags = tokens;
  views_.tags->setTag(0);
  views_.tags->setDelegate(this);
  views_.tags->setPlaceholderString("Add tags");
  views_.tags->setCompletionHook(
      [this](const std::string& prefix) { return completionsForSubstring(prefix, views_.tags->tag()); });
  views_.tags->setAction([this] { updateTags(); });
  detail(views_.tags);
  y += 50;
  caption(views_.editPanel, y, "Rating");
  views_.rating = std::make_shared<ui::LevelIndicator>(fnd::Rect(kMargin, y + 16, 100, 20));
  views_.rating->setMaxValue(5);
  views_.rating->setAction([this] { updateRating(); });
  detail(views_.rating);
  views_.favoriteButton = std::make_shared<PushButton>(fnd::Rect(kMargin + 102, y + 12, 28, 28));
  views_.favoriteButton->setToolTip("Favorite");
  // The star is drawn white when off: a dark ground keeps it visible.
  views_.favoriteButton->setBackgroundColor(ui::Color::white(0.55));
  views_.favoriteButton->setCornerRadius(5);
  views_.favoriteButton->setAction([this] { updateFavorite(); });
  detail(views_.favoriteButton);
  y += 48;
  // A row of its own: beside the rating it had too little room to show its choice.
  caption(views_.editPanel, y, "Color label");
  views_.colorButton = std::make_shared<ui::PopUpButton>(fnd::Rect(kMargin, y + 16, 100, 24));
  for (const char* name : {"None", "Blue", "Red", "Green", "Grey", "Yellow", "Orange"})
    views_.colorButton->addItemWithTitle(name);
  views_.colorButton->sizeToFit();
  views_.colorButton->setToolTip("Color label");
  views_.colorButton->setAction([this] { updateColor(); });
  detail(views_.colorButton);
  y += 48;
  fieldRow("Login", views_.loginField, &EditorController::updateLogin);
  caption(views_.editPanel, y, "Password");
  views_.passwordField =
      std::make_shared<ui::TextField>(fnd::Rect(kMargin, y + 16, kFieldWidth - 64, 24), ui::TextField::Style::Secure);
  views_.passwordField->setDelegate(this);
  views_.passwordField->setAction([this] { updatePassword(); });
  detail(views_.passwordField);
  views_.passwordButton = std::make_shared<PushButton>(fnd::Rect(kMargin + kFieldWidth - 58, y + 16, 58, 24));
  views_.passwordButton->setTitle("Copy");
  views_.passwordButton->setToolTip("Copy the password");
  views_.passwordButton->setAction([this] { copyPassword(); });
  detail(views_.passwordButton);
  y += 48;
  caption(views_.editPanel, y, "Thumbnail");
  views_.thumbnailButton = detail(std::make_shared<PushButton>(fnd::Rect(kMargin, y + 16, 120, 90)));
  views_.thumbnailButton->setToolTip("Set thumbnail from file");
  views_.thumbnailButton->setImageFills(true);
  views_.thumbnailButton->setAction([this] {
    if (chooseThumbnail_) chooseThumbnail_();
  });
  views_.deleteThumbnailButton = std::make_shared<PushButton>(fnd::Rect(kMargin + 126, y + 82, kFieldWidth - 126, 24));
  views_.deleteThumbnailButton->setTitle("Remove");
  views_.deleteThumbnailButton->setToolTip("Remove the thumbnail set from a file");
  views_.deleteThumbnailButton->setAction([this] {
    if (removeThumbnail_) removeThumbnail_();
  });
  views_.editPanel->addSubview(views_.deleteThumbnailButton);
  views_.noSelectionLabelEdit = noSelection(views_.editPanel);

  // Info tab.
  y = 4;
  views_.favicon = std::make_shared<ImageBox>(fnd::Rect(kMargin, y + 2, 16, 16));
  views_.infoPanel->addSubview(views_.favicon);
  views_.titleInfo = std::make_shared<TextLabel>(fnd::Rect(kMargin + 22, y, kFieldWidth - 22, 36));
  views_.titleInfo->setWraps(true);
  ui::Font bold;
  bold.bold = true;
  views_.titleInfo->setFont(bold);
  views_.infoPanel->addSubview(views_.titleInfo);
  y += 40;
  views_.urlInfo = label(views_.infoPanel, y, 32);
  views_.urlInfo->setFont(small);
  y += 36;
  views_.indexField = label(views_.infoPanel, y);
  views_.indexField->setFont(small);
  y += 24;
  caption(views_.infoPanel, y, "Folder");
  views_.folderField = label(views_.infoPanel, y + 16);
  views_.folderField->setFrame(fnd::Rect(kMargin, y + 16, kFieldWidth - 54, 18));
  views_.folderButton = std::make_shared<PushButton>(fnd::Rect(kMargin + kFieldWidth - 48, y + 14, 48, 22));
  views_.folderButton->setTitle("Show");
  views_.folderButton->setToolTip("Show the folder");
  views_.folderButton->setAction(
      [] { fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder); });
  views_.infoPanel->addSubview(views_.folderButton);
  y += 40;
  caption(views_.infoPanel, y, "Tags");
  views_.tagsInfoField = label(views_.infoPanel, y + 16, 34);
  y += 54;
  caption(views_.infoPanel, y, "Notes");
  views_.notesInfo = label(views_.infoPanel, y + 16, 52);
  y += 72;
  const std::pair<const char*, std::shared_ptr<TextLabel>*> facts[] = {{"Added", &views_.addedDate},
                                                                       {"Updated", &views_.lastUpdated},
                                                                       {"Last visited", &views_.lastVisited},
                                                                       {"Times visited", &views_.timesVisited},
                                                                       {"Imported from", &views_.importedFrom},
                                                                       {"Imported on", &views_.importedDate}};
  for (auto [text, slot] : facts) {
    caption(views_.infoPanel, y, text);
    *slot = label(views_.infoPanel, y + 16);
    y += 38;
  }
  views_.noSelectionLabelInfo = noSelection(views_.infoPanel);
  detailViews_.push_back(views_.favicon);
  detailViews_.push_back(views_.titleInfo);

  // The message strips lie over the top of each tab while a message shows.
  auto strip = [&](const std::shared_ptr<ui::View>& panel, std::shared_ptr<BRWColoredView>& view,
                   std::shared_ptr<TextLabel>& text) {
    view = std::make_shared<BRWColoredView>(fnd::Rect(0, 0, kWidth, 44));
    view->setColor("darkGrayBordered");
    view->setWantsLayer(true);
    view->awakeFromNib();
    view->setHidden(true);
    // Two lines: the longest messages ("Cannot duplicate bookmarks on ...") fit whole.
    text = std::make_shared<TextLabel>(fnd::Rect(kMargin, 5, kFieldWidth, 34));
    text->setWraps(true);
    text->setAlignment(ui::TextAlignment::Center);
    text->setTextColor(ui::Color::white(1.0));
    view->addSubview(text);
    panel->addSubview(view);
  };
  strip(views_.infoPanel, views_.progressView1, views_.progressLabel1);
  strip(views_.editPanel, views_.progressView2, views_.progressLabel2);

  selectTab(1);
}

void EditorController::awakeFromNib() {
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { updateView(); }, BRWUpdateInspectorViewNotification);
  center.addObserver(this, [this](const fnd::Notification&) { gotoFolder(); }, BRWGoToCurrentFolder);
  // Return in the title or address view: the edit is saved and ends there. The view makes itself
  // read-only once it has told us; it is made editable again for the next edit as soon as the
  // key has been handled.
  auto endedWithReturn = [this](ui::TextControl& view, void (EditorController::*save)()) {
    (this->*save)();
    if (auto* window = view.window(); window && window->firstResponder() == &view) window->makeFirstResponder(nullptr);
    std::weak_ptr<ui::View> weak = view.weak_from_this();
    fnd::DispatchQueue::main().async([weak] {
      if (auto v = std::dynamic_pointer_cast<ui::TextControl>(weak.lock())) v->setEditable(true);
    });
  };
  center.addObserver(
      this,
      [this, endedWithReturn](const fnd::Notification&) {
        endedWithReturn(*views_.title, &EditorController::updateTitle);
      },
      BRWUpdateCurrentBookmarkTitleNotification);
  center.addObserver(
      this,
      [this, endedWithReturn](const fnd::Notification&) { endedWithReturn(*views_.url, &EditorController::updateURL); },
      BRWUpdateCurrentBookmarkURLNotification);
  center.addObserver(this, [this](const fnd::Notification&) { clearInspectorFieldsAndToggle(); },
                     BRWClearInspectorViewNotification);
  center.addObserver(
      this,
      [this](const fnd::Notification& n) {
        auto message = n.userInfo.find(kOverlayMessageKey);
        auto seconds = n.userInfo.find(kOverlaySecondsKey);
        showProgressView(message == n.userInfo.end() ? std::string() : message->second.stringIfString().value_or(""),
                         seconds == n.userInfo.end() ? 2.0 : seconds->second.doubleValue(2.0));
      },
      ShowOverlayWithMessage);
  views_.folderButton->setHidden(true);
  clearInspectorFieldsAndToggle();
}

void EditorController::showProgressView(const std::string& message, double seconds) {
  for (auto* label : {views_.progressLabel1.get(), views_.progressLabel2.get()}) label->setStringValue(message);
  views_.progressView1->setHidden(false);
  views_.progressView2->setHidden(false);
  const auto generation = ++messageGeneration_;
  // Whole seconds, as the message was given.
  fnd::RunLoop::main().performAfterDelay(std::max(0.0, std::floor(seconds)), [this, generation] {
    if (generation == messageGeneration_) hideProgressView();
  }, this);
}

void EditorController::hideProgressView() {
  for (auto* label : {views_.progressLabel1.get(), views_.progressLabel2.get()}) label->setStringValue("");
  views_.progressView1->setHidden(true);
  views_.progressView2->setHidden(true);
}

void EditorController::showManualThumbnail(const std::optional<fnd::Data>& thumbnail) {
  const ui::Image image = thumbnail ? ui::Image::fromData(*thumbnail) : ui::Image();
  views_.thumbnailButton->setImage(image);
  // Without a picture of its own the button says what it does.
  views_.thumbnailButton->setTitle(image.isNull() ? "Choose…" : "");
  views_.deleteThumbnailButton->setHidden(image.isNull());
}

void EditorController::setThumbnailActions(std::function<void()> choose, std::function<void()> remove) {
  chooseThumbnail_ = std::move(choose);
  removeThumbnail_ = std::move(remove);
}

void EditorController::selectTab(int index) {
  KESTO_ASSERT_MAIN_THREAD();
  views_.segmentedControl->setSelectedSegment(index);
  views_.infoPanel->setHidden(index != 0);
  views_.editPanel->setHidden(index != 1);
}

void EditorController::updateFavoriteImage(bool favorite) {
  views_.favoriteButton->setImageNamed(favorite ? "bookmark_favorite_selected" : "bookmark_favorite");
}

void EditorController::updateColorButton(const std::string& color) {
  const auto& names = colorNames();
  auto it = std::find(names.begin() + 1, names.end(), color);
  views_.colorButton->selectItemAtIndex(it == names.end() ? 0 : static_cast<int>(it - names.begin()));
}

void EditorController::gotoFolder() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectFoldersViewNotification);
  // The folder of the bookmark shown last, even when nothing is shown any more. Selected in the
  // sidebar, so that its row, the path bar and every later refresh agree on the list shown.
  if (currentFolderID_.empty() || !foldersController_) return;
  foldersController_->selectFolderWithID(currentFolderID_);
}

void EditorController::clearInspectorFields() {
  for (auto* l : {&views_.indexField, &views_.notesInfo, &views_.titleInfo, &views_.urlInfo, &views_.addedDate,
                  &views_.lastUpdated, &views_.importedDate, &views_.importedFrom, &views_.timesVisited,
                  &views_.lastVisited, &views_.folderField, &views_.tagsInfoField}) {
    (*l)->setStringValue("");
    (*l)->setPlaceholderString("");
  }
  const fnd::ScopedFlag filling(filling_);
  for (ui::TextControl* f : textControls()) {
    if (keepsTyping(*f)) continue;
    if (f == views_.tags.get()) views_.tags->setTokens({});
    else f->setStringValue("");
    f->setEnabled(false);
  }
  views_.rating->setDoubleValue(0);
  views_.rating->setEnabled(false);
  views_.folderButton->setEnabled(false);
  views_.folderButton->setHidden(true);
  views_.favicon->setImage(ui::Image());
  showManualThumbnail(std::nullopt);
  views_.thumbnailButton->setEnabled(false);
  views_.passwordButton->setEnabled(false);
  views_.favoriteButton->setEnabled(false);
  views_.colorButton->setEnabled(false);
  updateFavoriteImage(false);
  updateColorButton("default");
}

void EditorController::toggleFields(bool show) {
  for (const auto& v : detailViews_) v->setHidden(!show);
  for (const auto& c : views_.captions) c->setHidden(!show);
  views_.noSelectionLabelEdit->setHidden(show);
  views_.noSelectionLabelInfo->setHidden(show);
}

void EditorController::clearInspectorFieldsAndToggle() {
  endEditingBefore(nullptr, {});
  shown_.reset();
  shownSeveral_.clear();
  clearInspectorFields();
  toggleFields(false);
}

void EditorController::endEditingBefore(const std::shared_ptr<Bookmark>& current,
                                        const std::vector<std::shared_ptr<Bookmark>>& several) {
  auto shown = shown_.lock();
  bool same = current ? shown == current
                      : !shown && several.size() > 1 && several.size() == shownSeveral_.size() &&
                            std::equal(several.begin(), several.end(), shownSeveral_.begin(),
                                       [](const auto& b, const auto& weak) { return b == weak.lock(); });
  if (same) return;
  // Ended as a click elsewhere ends it: stored by the field's own rule into what it was typed
  // for, before the fields change.
  for (ui::TextControl* c : textControls())
    if (c && c->isEditing()) c->endEditing();
}

bool EditorController::keepsTyping(const ui::TextControl& control) const {
  return !storing_ && control.isChangedWhileEditing();
}

void EditorController::refill(ui::TextControl& control, const std::string& text) {
  // Unchanged text is left as it is, so the cursor and the selection of a field being edited stay.
  if (keepsTyping(control) || control.stringValue() == text) return;
  control.setStringValue(text);
}

void EditorController::updateView() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!kestoData_) return;
  endEditingBefore(kestoData_->currentBookmark(), kestoData_->currentBookmarks());
  // Read again: storing the edit refreshes the list, which may have changed the selection.
  auto current = kestoData_->currentBookmark();
  const auto several = kestoData_->currentBookmarks();
  if (!current && several.size() < 2) {
    clearInspectorFieldsAndToggle();
    return;
  }
  const fnd::ScopedFlag filling(filling_);
  shown_ = current;
  shownSeveral_.clear();
  if (!current) {
    shownSeveral_.assign(several.begin(), several.end());
    clearInspectorFields();
    toggleFields(true);
    for (auto* c :
         {static_cast<ui::WidgetHostView*>(views_.colorButton.get()),
          static_cast<ui::WidgetHostView*>(views_.notes.get()), static_cast<ui::WidgetHostView*>(views_.tags.get()),
          static_cast<ui::WidgetHostView*>(views_.rating.get())})
      c->setEnabled(true);
    views_.titleInfo->setStringValue(std::to_string(several.size()) + " bookmarks selected");
    auto first = several.front() ? several.front()->rating().value_or(0) : 0;
    bool same = std::all_of(several.begin(), several.end(),
                            [&](const auto& b) { return b && b->rating().value_or(0) == first; });
    if (same) views_.rating->setDoubleValue(first);
    return;
  }
  toggleFields(true);
  const auto& list = kestoData_->bookmarks();
  auto it = std::find(list.begin(), list.end(), current);
  long index = it == list.end() ? 0 : static_cast<long>(it - list.begin()) + 1;
  views_.indexField->setStringValue("Index: " + std::to_string(index));
  for (auto* c :
       {static_cast<ui::WidgetHostView*>(views_.rating.get()), static_cast<ui::WidgetHostView*>(views_.notes.get()),
        static_cast<ui::WidgetHostView*>(views_.tags.get()), static_cast<ui::WidgetHostView*>(views_.loginField.get()),
        static_cast<ui::WidgetHostView*>(views_.passwordField.get()),
        static_cast<ui::WidgetHostView*>(views_.colorButton.get()),
        static_cast<ui::WidgetHostView*>(views_.title.get()), static_cast<ui::WidgetHostView*>(views_.url.get())})
    c->setEnabled(true);
  views_.passwordButton->setEnabled(true);
  views_.favoriteButton->setEnabled(true);
  refill(*views_.notes, current->notes().value_or(""));
  views_.rating->setDoubleValue(current->rating().value_or(0));
  auto names = current->sortedTagNames();
  if (!keepsTyping(*views_.tags) && views_.tags->tokens() != names) views_.tags->setTokens(names);
  views_.addedDate->setStringValue(dateText(current->addedDate()));
  views_.lastVisited->setStringValue(dateText(current->lastOpened()));
  views_.lastUpdated->setStringValue(dateText(current->updatedDate()));
  views_.importedDate->setStringValue(dateText(current->importDate()));
  views_.timesVisited->setStringValue(std::to_string(current->timesOpened()));
  refill(*views_.title, current->title().value_or(""));
  refill(*views_.url, current->url().value_or(""));
  views_.importedFrom->setStringValue(current->importedFrom().value_or(""));
  auto folder = current->folder();
  std::string folderName = folder ? folder->name() : std::string();
  auto& folderField = *views_.folderField;
  if (!folderName.empty()) folderField.setStringValue(folder->completeFolderPath());
  else if (current->isPinboard()) folderField.setStringValue("Pinboard");
  else if (current->isDelicious()) folderField.setStringValue("Delicious");
  else folderField.setStringValue("");
  currentFolderID_ = folder ? folder->folderID() : std::string();
  views_.folderButton->setEnabled(true);
  views_.folderButton->setHidden(false);
  auto icon = current->favicon();
  views_.favicon->setImage(icon ? ui::Image::fromData(*icon) : ui::Image::named("default_favicon"));
  views_.thumbnailButton->setEnabled(true);
  showManualThumbnail(current->thumbnailManuallySet() >= 1 ? current->thumbnail() : std::nullopt);
  refill(*views_.loginField, current->login().value_or(""));
  auto password = current->password();
  refill(*views_.passwordField, password ? Base64::decodeToString(*password).value_or("") : "");
  updateFavoriteImage(current->isFavorite() >= 1);
  updateColorButton(current->color().value_or(""));
  views_.tagsInfoField->setStringValue(fnd::join(names, ", "));
  views_.urlInfo->setStringValue(current->url().value_or(""));
  views_.titleInfo->setStringValue(current->title().value_or(""));
  views_.notesInfo->setStringValue(current->notes().value_or(""));
  // What one bookmark lacks is said, rather than leaving its caption beside nothing.
  const std::pair<TextLabel*, const char*> missing[] = {
      {views_.tagsInfoField.get(), "No tags"},      {views_.notesInfo.get(), "No notes"},
      {views_.lastVisited.get(), "Never"},          {views_.importedFrom.get(), "Not imported"},
      {views_.importedDate.get(), "Never"},         {views_.folderField.get(), "In no folder"},
      {views_.addedDate.get(), "Unknown"},          {views_.lastUpdated.get(), "Unknown"},
      {views_.titleInfo.get(), "Untitled"}};
  for (auto [label, text] : missing) label->setPlaceholderString(text);
}

// ---- edits ----

namespace {
// Puts one field's value into the bookmark, saving only when it differs from what is stored:
// each save raises the version, so an untouched field must not count as an edit.
template <class T, class Get, class Set>
void editOne(const std::shared_ptr<Bookmark>& b, const T& value, Get stored, Set set) {
  if (!b || stored(*b) == value) return;
  set(*b, value);
  b->saveBookmark();
}

template <class Edit>
void editEach(const std::vector<std::shared_ptr<Bookmark>>& targets, Edit edit) {
  for (const auto& b : targets) {
    if (!b) continue;
    edit(*b);
    b->saveBookmark();
  }
}
}  // namespace

std::vector<std::shared_ptr<Bookmark>> EditorController::bulkTargets() const {
  if (auto b = shownBookmark()) return {b};
  auto several = shownBookmarks();
  return several.size() > 1 ? several : std::vector<std::shared_ptr<Bookmark>>();
}

void EditorController::editDone() {
  ViewUpdater::updateSourceLists();
  ViewUpdater::updateBookmarks();
  const fnd::ScopedFlag storing(storing_);
  updateView();
}

void EditorController::updateNotes() {
  if (!kestoData_) return;
  std::string text = views_.notes->stringValue();
  if (auto b = shownBookmark()) {
    editOne(
        b, text, [](Bookmark& b) { return b.notes().value_or(""); },
        [](Bookmark& b, const std::string& t) { b.setNotes(t); });
  } else {
    // Several at once: the text is added under the notes each already has.
    editEach(bulkTargets(), [&](Bookmark& b) {
      auto old = b.notes();
      b.setNotes(old ? *old + "\n\n" + text : text);
    });
  }
  editDone();
}

void EditorController::updateRating() {
  double value = views_.rating->doubleValue();
  editEach(bulkTargets(), [&](Bookmark& b) { b.setRating(value); });
  editDone();
}

void EditorController::updateColor() {
  int index = views_.colorButton->indexOfSelectedItem();
  const auto& names = colorNames();
  std::string color = index >= 0 && index < static_cast<int>(names.size()) ? names[static_cast<std::size_t>(index)] : "";
  auto b = shownBookmark();
  editEach(b ? std::vector<std::shared_ptr<Bookmark>>{b} : shownBookmarks(), [&](Bookmark& b) {
    b.setColor(color);
    b.updateColorImage();
  });
  editDone();
}

void EditorController::updateFavorite() {
  if (auto b = shownBookmark()) {
    bool favorite = b->isFavorite() < 1;
    updateFavoriteImage(favorite);
    b->setIsFavorite(favorite ? 1 : 0);
    b->updateFavoriteImage();
    b->saveBookmark();
  }
  editDone();
}

void EditorController::updateTitle() {
  // Compared as stored: a text the store cleans would otherwise be saved again at every edit.
  editOne(
      shownBookmark(), stored::title(views_.title->stringValue()), [](Bookmark& b) { return b.title().value_or(""); },
      [](Bookmark& b, const std::string& t) { b.setTitleFromUser(t); });
  editDone();
}

void EditorController::updateURL() {
  editOne(
      shownBookmark(), stored::address(views_.url->stringValue()), [](Bookmark& b) { return b.url().value_or(""); },
      [](Bookmark& b, const std::string& t) {
        b.setUrl(t);
        // The list shows the site from the base address: it must follow the new address.
        b.setBaseURL(Bookmark::baseURLForAddress(t));
      });
  editDone();
}

void EditorController::updateLogin() {
  editOne(
      shownBookmark(), views_.loginField->stringValue(), [](Bookmark& b) { return b.login().value_or(""); },
      [](Bookmark& b, const std::string& t) { b.setLogin(t); });
  editDone();
}

void EditorController::updatePassword() {
  std::string text = views_.passwordField->stringValue();
  // No text stores no password at all.
  std::optional<std::string> password = text.empty() ? std::nullopt : std::optional(Base64::encodeString(text));
  editOne(
      shownBookmark(), password, [](Bookmark& b) { return b.password(); },
      [](Bookmark& b, const std::optional<std::string>& p) { b.setPassword(p); });
  editDone();
}

void EditorController::copyPassword() {
  auto& pasteboard = ui::Pasteboard::general();
  pasteboard.clearContents();
  pasteboard.setString(views_.passwordField->stringValue());
}

void EditorController::updateTags() {
  if (!kestoData_) return;
  auto targets = bulkTargets();
  if (targets.empty()) return;
  std::vector<Tag::Ref> collected = Tag::tagsNamed(views_.tags->tokens());
  const bool single = shownBookmark() != nullptr;
  bool deletedAny = false;
  for (const auto& b : targets) {
    if (!b) continue;
    if (single) {
      for (const auto& old : b->tags()) b->removeTag(old);
      for (const auto& t : collected) b->addTag(t);
    } else {
      // Several at once: tags are added, none removed.
      for (const auto& t : collected)
        if (!b->hasTag(*t)) b->addTag(t);
    }
    auto unused = Tag::fetchEntitiesWithPredicate(store::Predicate::parse("bookmarks.@count == 0"));
    if (unused && !unused->empty()) {
      Tag::deleteEntities(*unused);
      deletedAny = true;
    }
    b->saveBookmark();
  }
  if (single && deletedAny) kestoData_->currentlySelectedTags().clear();
  Tag::saveContext();
  ViewUpdater::updateTags();
  editDone();
}

std::vector<std::string> EditorController::completionsForSubstring(const std::string& substring, int fieldTag) const {
  std::vector<std::string> out;
  if (fieldTag > 0) {
    if (!kestoData_) return out;
    auto match = store::Predicate::parse("self contains[cd] %@", {fnd::Value(substring)});
    if (!match) return out;  // a filter that does not parse finds nothing
    for (const auto& folder : kestoData_->allFolders()) {
      if (!folder || folder->name().empty()) continue;
      std::string path = folder->completeFolderPath();
      if (match->evaluate(fnd::Value(path))) out.push_back(path);
    }
    return out;
  }
  auto found = Tag::fetchEntitiesWithPredicate(store::Predicate::parse("name beginswith[cd] %@", {fnd::Value(substring)}));
  if (found)
    for (const auto& t : *found)
      if (t) out.push_back(t->name());
  return out;
}

void EditorController::controlTextDidEndEditing(ui::Control& control) {
  // Filling or clearing the fields is no edit of the user's.
  if (filling_) return;
  if (&control == views_.title.get())
    updateTitle();
  else if (&control == views_.url.get())
    updateURL();
  else if (&control == views_.notes.get()) {
    // Several selected: leaving the empty field adds nothing to their notes.
    if (shownBookmark() || !views_.notes->stringValue().empty()) updateNotes();
  } else if (&control == views_.loginField.get())
    updateLogin();
  else if (&control == views_.passwordField.get())
    updatePassword();
  else if (&control == views_.tags.get()) {
    // Only when the tokens differ from the stored tags: leaving the field is no edit.
    auto current = shownBookmark();
    if (!current || current->sortedTagNames() != [&] {
          auto t = views_.tags->tokens();
          std::sort(t.begin(), t.end());
          return t;
        }())
      updateTags();
  }
}

bool EditorController::controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) {
  if (selector != ui::cmd::cancelOperation) return false;
  auto controls = textControls();
  auto it = std::find(controls.begin(), controls.end(), &control);
  if (it == controls.end() || !*it) return false;
  // The field's own Escape: the list behind it never sees the key (it would empty the selection
  // and the inspector).
  (*it)->endEditing();
  return true;
}

}  // namespace kesto
