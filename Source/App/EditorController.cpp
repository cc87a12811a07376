#include "App/EditorController.h"

#include "Model/StoredText.h"

#include "Model/Base64.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SegmentedControl.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TokenField.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarNotifications.h"
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

std::vector<std::string> sortedTagNames(const Bookmark& b) {
  std::vector<std::string> names;
  for (const auto& tag : b.tags())
    if (tag) names.push_back(tag->name());
  std::sort(names.begin(), names.end());
  return names;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

std::string dateText(const std::optional<fnd::Date>& date) {
  static const fnd::DateFormatter formatter = fnd::DateFormatter::fixed("MMMM dd, yyyy", fnd::TimeZone::local());
  return date ? formatter.stringFromDate(*date) : std::string();
}

// The targets of an edit that may apply to several bookmarks: the current one, or else the
// selection when it holds more than one.
std::vector<std::shared_ptr<Bookmark>> bulkTargets(DataManager* data) {
  if (!data) return {};
  if (data->currentBookmark()) return {data->currentBookmark()};
  if (data->currentBookmarks().size() > 1) return data->currentBookmarks();
  return {};
}

}  // namespace

const std::vector<std::string>& EditorController::colorNames() {
  static const std::vector<std::string> names = {"default", "blue", "red", "green", "grey", "yellow", "orange"};
  return names;
}

EditorController::EditorController() {
  KESTO_ASSERT_MAIN_THREAD();
  build();
}

EditorController::~EditorController() {
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  for (ui::TextControl* c : {static_cast<ui::TextControl*>(title.get()), static_cast<ui::TextControl*>(url.get()),
                             static_cast<ui::TextControl*>(notes.get()), static_cast<ui::TextControl*>(loginField.get()),
                             static_cast<ui::TextControl*>(passwordField.get()), static_cast<ui::TextControl*>(tags.get())})
    if (c) c->setDelegate(nullptr);
}

void EditorController::build() {
  KESTO_ASSERT_MAIN_THREAD();
  auto root = std::make_shared<FlippedView>(fnd::Rect(0, 0, kWidth, 640));
  root->setBackgroundColor(ui::Color::white(0.96));
  view_ = root;

  segmentedControl = std::make_shared<ui::SegmentedControl>(fnd::Rect(kMargin + 30, 10, kFieldWidth - 60, 24));
  segmentedControl->setSegmentCount(2);
  segmentedControl->setLabel("Info", 0);
  segmentedControl->setLabel("Edit", 1);
  segmentedControl->setSelectedSegment(1);
  segmentedControl->setAction([this] { selectTab(static_cast<int>(segmentedControl->selectedSegment())); });
  root->addSubview(segmentedControl);

  const fnd::Rect panelFrame(0, 44, kWidth, 596);
  infoPanel = std::make_shared<FlippedView>(panelFrame);
  editPanel = std::make_shared<FlippedView>(panelFrame);
  root->addSubview(infoPanel);
  root->addSubview(editPanel);

  ui::Font small;
  small.pointSize = 11;
  auto caption = [&](const std::shared_ptr<ui::View>& panel, double y, const std::string& text) {
    auto l = std::make_shared<TextLabel>(fnd::Rect(kMargin, y, kFieldWidth, 16));
    l->setStringValue(text);
    l->setFont(small);
    l->setTextColor(ui::Color::white(0.4));
    panel->addSubview(l);
    captions.push_back(l);
    return l;
  };
  auto label = [&](const std::shared_ptr<ui::View>& panel, double y, double h = 18) {
    auto l = std::make_shared<TextLabel>(fnd::Rect(kMargin, y, kFieldWidth, h));
    l->setWraps(h > 18);
    panel->addSubview(l);
    detailViews_.push_back(l);
    return l;
  };
  auto field = [&](double y, ui::TextField::Style style = ui::TextField::Style::Plain) {
    auto f = std::make_shared<ui::TextField>(fnd::Rect(kMargin, y, kFieldWidth, 24), style);
    f->setDelegate(this);
    editPanel->addSubview(f);
    detailViews_.push_back(f);
    return f;
  };

  // Edit tab.
  double y = 4;
  caption(editPanel, y, "Title");
  auto textView = [&](auto view, double y) {
    view->setFrame(fnd::Rect(kMargin, y, kFieldWidth, 24));
    view->setDelegate(this);
    editPanel->addSubview(view);
    detailViews_.push_back(view);
    return view;
  };
  title = textView(std::make_shared<KestoTitleTextView>(), y + 16);
  title->setAction([this] { updateTitle(); });
  title->setEditEndedHandler([] { ViewUpdater::updateCurrentBookmarkTitleFromEdit(); });
  y += 48;
  caption(editPanel, y, "Address");
  url = textView(std::make_shared<KestoURLTextView>(), y + 16);
  url->setAction([this] { updateURL(); });
  url->setEditEndedHandler([] { ViewUpdater::updateCurrentBookmarkURLFromEdit(); });
  y += 48;
  caption(editPanel, y, "Notes");
  notes = field(y + 16);
  notes->setAction([this] { updateNotes(); });
  y += 48;
  caption(editPanel, y, "Tags");
  // The application's light rounded token field.
  auto tokens = std::make_shared<KestoRoundedTokenField>(fnd::Rect(kMargin, y + 16, kFieldWidth, 26));
  tokens->awakeFromNib();
  tags = tokens;
  tags->setTag(0);
  tags->setDelegate(this);
  tags->setPlaceholderString("Add tags");
  tags->setCompletionHook([this](const std::string& prefix) { return completionsForSubstring(prefix, tags->tag()); });
  tags->setAction([this] { updateTags(); });
  editPanel->addSubview(tags);
  detailViews_.push_back(tags);
  y += 50;
  caption(editPanel, y, "Rating");
  rating = std::make_shared<ui::LevelIndicator>(fnd::Rect(kMargin, y + 16, 100, 20));
  rating->setMaxValue(5);
  rating->setAction([this] { updateRating(); });
  editPanel->addSubview(rating);
  detailViews_.push_back(rating);
  favoriteButton = std::make_shared<PushButton>(fnd::Rect(kMargin + 102, y + 12, 28, 28));
  favoriteButton->setToolTip("Favourite");
  // The star is drawn white when off: a dark ground keeps it visible.
  favoriteButton->setBackgroundColor(ui::Color::white(0.55));
  favoriteButton->setCornerRadius(5);
  favoriteButton->setAction([this] { updateFavorite(); });
  editPanel->addSubview(favoriteButton);
  detailViews_.push_back(favoriteButton);
  y += 48;
  // A row of its own: beside the rating it had too little room to show its choice.
  caption(editPanel, y, "Colour label");
  colorButton = std::make_shared<ui::PopUpButton>(fnd::Rect(kMargin, y + 16, 100, 24));
  for (const char* name : {"None", "Blue", "Red", "Green", "Grey", "Yellow", "Orange"}) colorButton->addItemWithTitle(name);
  colorButton->sizeToFit();
  colorButton->setToolTip("Colour label");
  colorButton->setAction([this] { updateColor(); });
  editPanel->addSubview(colorButton);
  detailViews_.push_back(colorButton);
  y += 48;
  caption(editPanel, y, "Login");
  loginField = field(y + 16);
  loginField->setAction([this] { updateLogin(); });
  y += 48;
  caption(editPanel, y, "Password");
  passwordField = std::make_shared<ui::TextField>(fnd::Rect(kMargin, y + 16, kFieldWidth - 64, 24), ui::TextField::Style::Secure);
  passwordField->setDelegate(this);
  passwordField->setAction([this] { updatePassword(); });
  editPanel->addSubview(passwordField);
  detailViews_.push_back(passwordField);
  passwordButton = std::make_shared<PushButton>(fnd::Rect(kMargin + kFieldWidth - 58, y + 16, 58, 24));
  passwordButton->setTitle("Copy");
  passwordButton->setToolTip("Copy the password");
  passwordButton->setAction([this] { copyPassword(); });
  editPanel->addSubview(passwordButton);
  detailViews_.push_back(passwordButton);
  noSelectionLabelEdit = std::make_shared<TextLabel>(fnd::Rect(kMargin, 120, kFieldWidth, 20));
  noSelectionLabelEdit->setAlignment(ui::TextAlignment::Center);
  noSelectionLabelEdit->setTextColor(ui::Color::white(0.45));
  noSelectionLabelEdit->setStringValue("No bookmark selected");
  editPanel->addSubview(noSelectionLabelEdit);

  // Info tab.
  y = 4;
  favicon = std::make_shared<ImageBox>(fnd::Rect(kMargin, y + 2, 16, 16));
  infoPanel->addSubview(favicon);
  titleInfo = std::make_shared<TextLabel>(fnd::Rect(kMargin + 22, y, kFieldWidth - 22, 36));
  titleInfo->setWraps(true);
  ui::Font bold;
  bold.bold = true;
  titleInfo->setFont(bold);
  infoPanel->addSubview(titleInfo);
  y += 40;
  urlInfo = label(infoPanel, y, 32);
  urlInfo->setFont(small);
  y += 36;
  indexField = label(infoPanel, y);
  indexField->setFont(small);
  y += 24;
  caption(infoPanel, y, "Folder");
  folderField = label(infoPanel, y + 16);
  folderField->setFrame(fnd::Rect(kMargin, y + 16, kFieldWidth - 54, 18));
  folderButton = std::make_shared<PushButton>(fnd::Rect(kMargin + kFieldWidth - 48, y + 14, 48, 22));
  folderButton->setTitle("Show");
  folderButton->setToolTip("Show the folder");
  folderButton->setAction([] { fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder); });
  infoPanel->addSubview(folderButton);
  y += 40;
  caption(infoPanel, y, "Tags");
  tagsInfoField = label(infoPanel, y + 16, 34);
  y += 54;
  caption(infoPanel, y, "Notes");
  notesInfo = label(infoPanel, y + 16, 52);
  y += 72;
  caption(infoPanel, y, "Added");
  addedDate = label(infoPanel, y + 16);
  y += 38;
  caption(infoPanel, y, "Updated");
  lastUpdated = label(infoPanel, y + 16);
  y += 38;
  caption(infoPanel, y, "Last visited");
  lastVisited = label(infoPanel, y + 16);
  y += 38;
  caption(infoPanel, y, "Times visited");
  timesVisited = label(infoPanel, y + 16);
  y += 38;
  caption(infoPanel, y, "Imported from");
  importedFrom = label(infoPanel, y + 16);
  y += 38;
  caption(infoPanel, y, "Imported on");
  importedDate = label(infoPanel, y + 16);
  noSelectionLabelInfo = std::make_shared<TextLabel>(fnd::Rect(kMargin, 120, kFieldWidth, 20));
  noSelectionLabelInfo->setAlignment(ui::TextAlignment::Center);
  noSelectionLabelInfo->setTextColor(ui::Color::white(0.45));
  noSelectionLabelInfo->setStringValue("No bookmark selected");
  infoPanel->addSubview(noSelectionLabelInfo);
  detailViews_.push_back(favicon);
  detailViews_.push_back(titleInfo);

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
  center.addObserver(this, [this, endedWithReturn](const fnd::Notification&) {
    endedWithReturn(*title, &EditorController::updateTitle);
  }, BRWUpdateCurrentBookmarkTitleNotification);
  center.addObserver(this, [this, endedWithReturn](const fnd::Notification&) {
    endedWithReturn(*url, &EditorController::updateURL);
  }, BRWUpdateCurrentBookmarkURLNotification);
  center.addObserver(this, [this](const fnd::Notification&) { clearInspectorFieldsAndToggle(); },
                     BRWClearInspectorViewNotification);
  folderButton->setHidden(true);
  clearInspectorFieldsAndToggle();
}

void EditorController::selectTab(int index) {
  KESTO_ASSERT_MAIN_THREAD();
  segmentedControl->setSelectedSegment(index);
  infoPanel->setHidden(index != 0);
  editPanel->setHidden(index != 1);
}

void EditorController::updateFavoriteImage(bool favorite) {
  favoriteButton->setImageNamed(favorite ? "bookmark_favorite_selected" : "bookmark_favorite");
}

void EditorController::updateColorButton(const std::string& color) {
  const auto& names = colorNames();
  auto it = std::find(names.begin() + 1, names.end(), color);
  colorButton->selectItemAtIndex(it == names.end() ? 0 : static_cast<int>(it - names.begin()));
}

void EditorController::gotoFolder() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(SelectFoldersViewNotification);
  // The folder of the bookmark shown last, even when nothing is shown any more. Selected in the
  // sidebar, so that its row, the path bar and every later refresh agree on the list shown.
  if (currentFolderID.empty() || !foldersController) return;
  foldersController->selectFolderWithID(currentFolderID);
}

void EditorController::clearInspectorFields() {
  for (auto* l : {&indexField, &notesInfo, &titleInfo, &urlInfo, &addedDate, &lastUpdated, &importedDate,
                  &importedFrom, &timesVisited, &lastVisited, &folderField, &tagsInfoField})
    (*l)->setStringValue("");
  for (ui::TextControl* f : {static_cast<ui::TextControl*>(notes.get()), static_cast<ui::TextControl*>(title.get()),
                             static_cast<ui::TextControl*>(url.get()), static_cast<ui::TextControl*>(loginField.get()),
                             static_cast<ui::TextControl*>(passwordField.get())}) {
    f->setStringValue("");
    f->setEnabled(false);
  }
  rating->setDoubleValue(0);
  rating->setEnabled(false);
  tags->setTokens({});
  tags->setEnabled(false);
  folderButton->setEnabled(false);
  folderButton->setHidden(true);
  favicon->setImage(ui::Image());
  passwordButton->setEnabled(false);
  favoriteButton->setEnabled(false);
  colorButton->setEnabled(false);
  updateFavoriteImage(false);
  updateColorButton("default");
}

void EditorController::toggleFields(bool show) {
  for (const auto& v : detailViews_) v->setHidden(!show);
  for (const auto& c : captions) c->setHidden(!show);
  noSelectionLabelEdit->setHidden(show);
  noSelectionLabelInfo->setHidden(show);
}

void EditorController::clearInspectorFieldsAndToggle() {
  clearInspectorFields();
  toggleFields(false);
}

void EditorController::updateView() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!kestoData) return;
  auto current = kestoData->currentBookmark();
  const auto& several = kestoData->currentBookmarks();
  if (!current && several.size() < 2) {
    clearInspectorFieldsAndToggle();
    return;
  }
  if (!current) {
    clearInspectorFields();
    toggleFields(true);
    for (auto* c : {static_cast<ui::WidgetHostView*>(colorButton.get()), static_cast<ui::WidgetHostView*>(notes.get()),
                    static_cast<ui::WidgetHostView*>(tags.get()), static_cast<ui::WidgetHostView*>(rating.get())})
      c->setEnabled(true);
    titleInfo->setStringValue(std::to_string(several.size()) + " bookmarks selected");
    auto first = several.front() ? several.front()->rating().value_or(0) : 0;
    bool same = std::all_of(several.begin(), several.end(),
                            [&](const auto& b) { return b && b->rating().value_or(0) == first; });
    if (same) rating->setDoubleValue(first);
    return;
  }
  toggleFields(true);
  const auto& list = kestoData->bookmarks();
  auto it = std::find(list.begin(), list.end(), current);
  long index = it == list.end() ? 0 : static_cast<long>(it - list.begin()) + 1;
  indexField->setStringValue("Index: " + std::to_string(index));
  for (auto* c : {static_cast<ui::WidgetHostView*>(rating.get()), static_cast<ui::WidgetHostView*>(notes.get()),
                  static_cast<ui::WidgetHostView*>(tags.get()), static_cast<ui::WidgetHostView*>(loginField.get()),
                  static_cast<ui::WidgetHostView*>(passwordField.get()), static_cast<ui::WidgetHostView*>(colorButton.get()),
                  static_cast<ui::WidgetHostView*>(title.get()), static_cast<ui::WidgetHostView*>(url.get())})
    c->setEnabled(true);
  passwordButton->setEnabled(true);
  favoriteButton->setEnabled(true);
  notes->setStringValue(current->notes().value_or(""));
  rating->setDoubleValue(current->rating().value_or(0));
  auto names = sortedTagNames(*current);
  tags->setTokens(names);
  addedDate->setStringValue(dateText(current->addedDate()));
  lastVisited->setStringValue(dateText(current->lastOpened()));
  lastUpdated->setStringValue(dateText(current->updatedDate()));
  importedDate->setStringValue(dateText(current->importDate()));
  timesVisited->setStringValue(std::to_string(current->timesOpened()));
  title->setStringValue(current->title().value_or(""));
  url->setStringValue(current->url().value_or(""));
  importedFrom->setStringValue(current->importedFrom().value_or(""));
  auto folder = current->folder();
  std::string folderName = folder ? folder->name() : std::string();
  if (!folderName.empty()) folderField->setStringValue(folder->completeFolderPath());
  else if (current->isPinboard()) folderField->setStringValue("Pinboard");
  else if (current->isDelicious()) folderField->setStringValue("Delicious");
  else folderField->setStringValue("");
  currentFolderID = folder ? folder->folderID() : std::string();
  folderButton->setEnabled(true);
  folderButton->setHidden(false);
  auto icon = current->favicon();
  favicon->setImage(icon ? ui::Image::fromData(*icon) : ui::Image::named("default_favicon"));
  loginField->setStringValue(current->login().value_or(""));
  auto password = current->password();
  passwordField->setStringValue(password ? Base64::decodeToString(*password).value_or("") : "");
  updateFavoriteImage(current->isFavorite() >= 1);
  updateColorButton(current->color().value_or(""));
  tagsInfoField->setStringValue(joined(names));
  urlInfo->setStringValue(current->url().value_or(""));
  titleInfo->setStringValue(current->title().value_or(""));
  notesInfo->setStringValue(current->notes().value_or(""));
}

// ---- edits ----

namespace {
// After an edit: the sidebar's lists, the list's cells and both tabs show the new values.
void editDone(EditorController& editor) {
  ViewUpdater::updateSourceLists();
  ViewUpdater::updateBookmarks();
  editor.updateView();
}
}  // namespace

void EditorController::updateNotes() {
  if (!kestoData) return;
  std::string text = notes->stringValue();
  if (auto current = kestoData->currentBookmark()) {
    if (current->notes().value_or("") != text) {
      current->setNotes(text);
      current->saveBookmark();
    }
  } else {
    // Several at once: the text is added under the notes each already has.
    for (const auto& b : bulkTargets(kestoData)) {
      if (!b) continue;
      auto old = b->notes();
      b->setNotes(old ? *old + "\n\n" + text : text);
      b->saveBookmark();
    }
  }
  editDone(*this);
}

void EditorController::updateRating() {
  double value = rating->doubleValue();
  for (const auto& b : bulkTargets(kestoData)) {
    if (!b) continue;
    b->setRating(value);
    b->saveBookmark();
  }
  editDone(*this);
}

void EditorController::updateColor() {
  int index = colorButton->indexOfSelectedItem();
  const auto& names = colorNames();
  std::string color = index >= 0 && index < static_cast<int>(names.size()) ? names[static_cast<std::size_t>(index)] : "";
  std::vector<std::shared_ptr<Bookmark>> targets;
  if (kestoData && kestoData->currentBookmark()) targets = {kestoData->currentBookmark()};
  else if (kestoData) targets = kestoData->currentBookmarks();
  for (const auto& b : targets) {
    if (!b) continue;
    b->setColor(color);
    b->updateColorImage();
    b->saveBookmark();
  }
  editDone(*this);
}

void EditorController::updateFavorite() {
  if (auto b = kestoData ? kestoData->currentBookmark() : nullptr) {
    bool favorite = b->isFavorite() < 1;
    updateFavoriteImage(favorite);
    b->setIsFavorite(favorite ? 1 : 0);
    b->updateFavoriteImage();
    b->saveBookmark();
  }
  editDone(*this);
}

void EditorController::updateTitle() {
  if (auto b = kestoData ? kestoData->currentBookmark() : nullptr) {
    // Compared as stored: a text the store cleans would otherwise be saved again at every edit.
    const std::string text = stored::title(title->stringValue());
    if (b->title().value_or("") != text) {
      b->setTitle(text);
      b->saveBookmark();
    }
  }
  editDone(*this);
}

void EditorController::updateURL() {
  if (auto b = kestoData ? kestoData->currentBookmark() : nullptr) {
    const std::string text = stored::address(url->stringValue());
    if (b->url().value_or("") != text) {
      b->setUrl(text);
      // The list shows the site from the base address: it must follow the new address.
      b->setBaseURL(brightwren::stringWithFirstURLComponent(text));
      b->saveBookmark();
    }
  }
  editDone(*this);
}

void EditorController::updateLogin() {
  if (auto b = kestoData ? kestoData->currentBookmark() : nullptr) {
    if (b->login().value_or("") != loginField->stringValue()) {
      b->setLogin(loginField->stringValue());
      b->saveBookmark();
    }
  }
  editDone(*this);
}

void EditorController::updatePassword() {
  if (auto b = kestoData ? kestoData->currentBookmark() : nullptr) {
    std::string text = passwordField->stringValue();
    // No text stores no password at all.
    std::optional<std::string> stored = text.empty() ? std::nullopt : std::optional(Base64::encodeString(text));
    if (b->password() != stored) {
      b->setPassword(stored);
      b->saveBookmark();
    }
  }
  editDone(*this);
}

void EditorController::copyPassword() {
  auto& pasteboard = ui::Pasteboard::general();
  pasteboard.clearContents();
  pasteboard.setString(passwordField->stringValue());
}

void EditorController::updateTags() {
  if (!kestoData) return;
  auto targets = bulkTargets(kestoData);
  if (targets.empty()) return;
  std::vector<Tag::Ref> collected = Tag::tagsNamed(tags->tokens());
  const bool single = kestoData->currentBookmark() != nullptr;
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
  if (single && deletedAny) kestoData->currentlySelectedTags().clear();
  Tag::saveContext();
  ViewUpdater::updateTags();
  editDone(*this);
}

std::vector<std::string> EditorController::completionsForSubstring(const std::string& substring, int fieldTag) const {
  std::vector<std::string> out;
  if (fieldTag > 0) {
    if (!kestoData) return out;
    auto match = store::Predicate::parse("self contains[cd] %@", {fnd::Value(substring)});
    for (const auto& folder : kestoData->allFolders()) {
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
  if (&control == title.get()) updateTitle();
  else if (&control == url.get()) updateURL();
  else if (&control == notes.get()) {
    // Several selected: leaving the empty field adds nothing to their notes.
    if ((kestoData && kestoData->currentBookmark()) || !notes->stringValue().empty()) updateNotes();
  }
  else if (&control == loginField.get()) updateLogin();
  else if (&control == passwordField.get()) updatePassword();
  else if (&control == tags.get()) {
    // Only when the tokens differ from the stored tags: leaving the field is no edit.
    auto current = kestoData ? kestoData->currentBookmark() : nullptr;
    if (!current || sortedTagNames(*current) != [&] {
          auto t = tags->tokens();
          std::sort(t.begin(), t.end());
          return t;
        }())
      updateTags();
  }
}

}  // namespace kesto
