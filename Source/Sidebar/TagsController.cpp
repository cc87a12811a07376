#include "Sidebar/TagsController.h"
#include "Views/BRWColoredView.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Service.h"
#include "Model/BookmarkServiceClient.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/View.h"
#include "Sidebar/CountLabel.h"
#include "Sidebar/ListLifetime.h"
#include "Sidebar/SidebarCommands.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/ViewManager.h"
#include "Views/ImageNamed.h"
#include "Views/SourceList.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

constexpr double kTagSearchHeight = 30, kLabelHeight = 18;

const std::vector<SmartListController::Entry>& noEntries() {
  static const std::vector<SmartListController::Entry> none;
  return none;
}


bool tagsListShown() {
  // No value means the folders list, as everywhere else.
  return fnd::UserDefaults::standard().stringForKey(SelectedView).value_or(SelectedLibraryView) == SelectedTagsView;
}

// The key under which "ANY tags.name =[cd] name" counts a bookmark.
std::string foldedName(const std::string& name) {
  return fnd::fold(name, fnd::CaseInsensitiveSearch | fnd::DiacriticInsensitiveSearch);
}

Tag::List tagsNamed(const std::string& name) {
  return Tag::fetchEntitiesWhereProperty("name", name).value_or(Tag::List{});
}

std::vector<Bookmark::Ref> bookmarksOf(const Tag& tag) {
  std::vector<Bookmark::Ref> out;
  for (const auto& o : tag.toMany(tag_rel::bookmarks))
    if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) out.push_back(std::move(b));
  return out;
}

}  // namespace

// The rows are the tags in use, built by loadItems: no fixed entries.
TagsController::TagsController()
    : SmartListController(noEntries(), {BRWUpdateTagsViewNotification, BRWUpdateFoldersViewNotification},
                          SelectedTagsView) {
  KESTO_ASSERT_MAIN_THREAD();
  const auto size = view_->frame().size;
  const double w = size.width, h = size.height;
  // The tags pane's own strip over the list: a coloured view in the sidebar's light grey.
  auto strip = std::make_shared<BRWColoredView>(fnd::Rect(0, h - kTagSearchHeight - kLabelHeight, w, kTagSearchHeight + kLabelHeight));
  strip->setColor("lightGray");
  strip->awakeFromNib();
  searchView_ = strip;
  searchView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::MinYMargin);
  searchField_ = std::make_shared<ui::SearchField>(fnd::Rect(6, kLabelHeight + 4, w - 12, 22));
  searchField_->setPlaceholderString("Find tags");
  searchField_->setToolTip("Bookmarks whose tags contain any of the words");
  searchField_->setAutoresizingMask(ui::View::WidthSizable);
  searchField_->setAction([this] { search(); });
  searchView_->addSubview(searchField_);
  usedTagsLabel_ = makeCountLabel(fnd::Rect(8, 1, w - 16, kLabelHeight - 2));
  usedTagsLabel_->setAutoresizingMask(ui::View::WidthSizable);
  searchView_->addSubview(usedTagsLabel_);
  view_->addSubview(searchView_);
  list_->setFrame(fnd::Rect(0, 0, w, h - kTagSearchHeight - kLabelHeight));
  list_->setAllowsMultipleSelection(true);
}

TagsController::~TagsController() { endListController(this, lifetime_, list_.get()); }

void TagsController::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  const bool first = !observing_;
  SmartListController::awakeFromNib();
  if (first)
    fnd::NotificationCenter::defaultCenter().addObserver(this, [this](const fnd::Notification&) { resetView(); },
                                                         BRWResetTagsViewNotification);
  list_->setNextResponder(this);
  setNextResponder(view_.get());
}

void TagsController::updateView() {
  if (!tagsListShown() || !kestoData_) return;
  kestoData_->prepareForTagView();
  selectTagsFromDefaults();
  kestoData_->loadBookmarks();
}

void TagsController::resetView() {
  // Every tag is read and counted: on a large library that was most of the start, for a list
  // that was not on screen.
  if (tagsListShown()) loadItems();
}

Tag::List TagsController::tagsInUse() {
  // Every tag read once and tested in memory: the store's "bookmarks.@count > 0" with its sort
  // costs ten times as much on a large library. Same rows, same order.
  auto all = Tag::fetchEntities().value_or(Tag::List{});
  std::erase_if(all, [](const Tag::Ref& t) { return t->toManyCount(tag_rel::bookmarks) == 0; });
  std::vector<std::pair<std::string, Tag::Ref>> named;
  named.reserve(all.size());
  for (auto& t : all) named.emplace_back(t->name(), std::move(t));
  std::stable_sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    return fnd::caseInsensitiveCompare(a.first, b.first) == fnd::ComparisonResult::Ascending;
  });
  Tag::List out;
  out.reserve(named.size());
  for (auto& [name, t] : named) out.push_back(std::move(t));
  return out;
}

void TagsController::loadItems() {
  KESTO_ASSERT_MAIN_THREAD();
  sourceListItems_.clear();
  items_.clear();
  usedTags_.clear();
  container_ = SourceListItem::itemWithTitle("", kContainerID);
  const auto tags = tagsInUse();
  // A badge counts the bookmarks carrying a tag of that name in any case or accent (trashed ones
  // too), each bookmark once; those of locked folders stay out, as they do from the list.
  std::vector<std::string> names, keys;
  names.reserve(tags.size());
  keys.reserve(tags.size());
  std::unordered_map<std::string, std::vector<const Tag*>> groups;
  groups.reserve(tags.size());
  for (const auto& tag : tags) {
    names.push_back(tag->name());
    keys.push_back(foldedName(names.back()));
    groups[keys.back()].push_back(tag.get());
  }
  std::unordered_map<std::string, std::int64_t> counts;
  for (const auto& [key, members] : groups) {
    std::unordered_set<const store::ManagedObject*> carriers;
    for (const Tag* t : members)
      for (const auto& b : t->toMany(tag_rel::bookmarks))
        if (b && b->value(bookmark_attr::blocked).intValue() < 1) carriers.insert(b.get());
    counts[key] = static_cast<std::int64_t>(carriers.size());
  }
  const ui::Image icon = imageNamed("sourcelist_tags");
  items_.reserve(tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    auto item = SourceListItem::itemWithTitle(names[i], names[i], icon);
    if (const auto count = counts[keys[i]]; count > 0) item->setBadgeValue(count);
    items_.push_back(std::move(item));
  }
  container_->setChildren(items_);
  sourceListItems_.push_back(container_);
  list_->reloadData();
  list_->expandItem(container_.get());
}

void TagsController::selectTagsFromDefaults() {
  auto stored = fnd::UserDefaults::standard().arrayForKey(kSelectedTagsKey);
  if (!stored) return;
  std::vector<ui::OutlineItem> chosen;
  for (const auto& v : *stored) {
    if (!v.isNumber()) return;
    const auto position = v.intValue();
    // A position the list no longer has abandons the whole restore.
    if (position < 0 || position >= static_cast<std::int64_t>(items_.size())) return;
    chosen.push_back(items_[static_cast<size_t>(position)].get());
  }
  brightwren::setSelectedItems(*list_, chosen);
}

void TagsController::updateSelection() {
  if (!kestoData_) return;
  auto& selected = kestoData_->currentlySelectedTags();
  const auto before = selected;
  selected.clear();
  fnd::Array positions;
  std::vector<std::string> names;
  bool missing = false;
  list_->selectedRowIndexes().forEach([&](std::int64_t row) {
    auto* item = sourcelistitems::itemFrom(list_->itemAtRow(static_cast<long>(row)));
    if (!item || item->identifier() == kContainerID) return true;
    auto tag = Tag::fetchEntityWhereProperty("name", item->title());
    if (!tag) {
      // The row outlived its tag (rows are rebuilt only on a reset).
      fnd::logFormat(fnd::LogFlag::Error, "Exception during Tag Selection: no tag named %s", item->title().c_str());
      missing = true;
      return false;
    }
    positions.emplace_back(row - 1);
    names.push_back(tag->name());
    return true;
  });
  if (missing) return;
  if (ViewManager::sharedInstance().currentView() != ViewManager::Tags) return;
  fnd::UserDefaults::standard().setObject(fnd::Value(std::move(positions)), kSelectedTagsKey);
  kestoData_->setLoadingFromTags(true);
  // Other tags chosen: their list is not the results, so a library search ends before it loads.
  if (names != before) ViewUpdater::clearSearchField();
  selected = names;
  kestoData_->resetFetchLimitAndOffset();
  kestoData_->loadBookmarks();
  showUsedTags(names);
}

void TagsController::showUsedTags(const std::vector<std::string>& names) {
  usedTagsLabel_->setStringValue(fnd::join(names, ", "));
  usedTagsLabel_->setToolTip(fnd::join(names, ", "));
}

// ---- Rename and delete -----------------------------------------------------------------------

bool TagsController::renameTag(const std::string& from, const std::string& to) {
  KESTO_ASSERT_MAIN_THREAD();
  const std::string name = fnd::trimWhitespaceAndNewlines(to);
  if (name.empty() || name == from) return false;
  auto renamed = tagsNamed(from);
  if (renamed.empty()) return false;
  auto target = Tag::fetchEntityWhereProperty("name", name);
  std::vector<Bookmark::Ref> touched;
  std::unordered_set<const Bookmark*> seen;
  for (auto& tag : renamed) {
    for (auto& b : bookmarksOf(*tag)) {
      if (seen.insert(b.get()).second) touched.push_back(b);
      // Onto an existing name the bookmarks move to that tag: one tag per name.
      if (target && target != tag) {
        b->removeTag(tag);
        b->addTag(target);
      }
    }
    if (target && target != tag)
      tag->deleteEntity();
    else if (!target)
      tag->setName(name);
    if (!target) target = tag;
  }
  for (auto& b : touched) b->setVersion(b->version() + 1);
  if (!WrenEntity::saveContext()) {
    showError("The tag could not be renamed");
    return false;
  }
  // Each bookmark carries its tags to its services.
  for (auto& b : touched)
    if (b->isDelicious() || b->isPinboard()) b->saveBookmark();
  ViewUpdater::updateSourceLists();
  return true;
}

void TagsController::removeSelectedTag() {
  KESTO_ASSERT_MAIN_THREAD();
  auto* item = sourcelistitems::itemFrom(list_->itemAtRow(list_->selectedRow()));
  if (!item || item->identifier() == kContainerID) return;
  // The confirmed name is the one deleted, whatever is selected when the deletion runs.
  const std::string name = item->identifier();
  ui::Alert alert;
  alert.setMessageText("Delete this tag?");
  alert.setInformativeText("Do you really want to delete this tag?");
  alert.addButtonWithTitle("Delete");
  alert.addButtonWithTitle("Cancel");
  alert.beginSheetModalForWindow(window_ ? window_ : list_->window(), lifetime_.whileAlive([this, name](int code) {
    if (code != ui::AlertFirstButtonReturn) return;
    fnd::RunLoop::main().performAfterDelay(0.5, lifetime_.whileAlive([this, name] { doRemoveTag(name); }), this);
  }));
}

bool TagsController::doRemoveTag(const std::string& name) {
  auto tags = tagsNamed(name);
  bool kept = true;
  if (!tags.empty()) {
    std::vector<Bookmark::Ref> carriers;
    std::unordered_set<const Bookmark*> seen;
    for (auto& tag : tags) {
      for (auto& b : bookmarksOf(*tag))
        if (seen.insert(b.get()).second) carriers.push_back(b);
      tag->deleteEntity();
    }
    kept = WrenEntity::saveContext();
    if (!kept) showError("The tag could not be deleted");
    // New versions carry the change to the other machines and the services.
    else
      for (auto& b : carriers) b->saveBookmark();
  }
  for (const char* service : {Service::kPinboard, Service::kDelicious})
    if (Service::serviceNamed(service))
      if (auto client = makeBookmarkServiceClient(service)) client->deleteTag(name);
  ViewUpdater::updateSidebar();
  return kept;
}

void TagsController::showError(const std::string& message) {
  ui::Alert alert;
  alert.setMessageText(message);
  alert.setInformativeText("Kesto could not write to its library. The change is not kept.");
  alert.addButtonWithTitle("OK");
  // Without a modal loop: a rename fails inside the name editor's commit.
  alert.beginSheetModalForWindow(nullptr, nullptr);
}

// ---- Search ----------------------------------------------------------------------------------

void TagsController::search() { searchFor(searchField_->stringValue()); }

void TagsController::searchFor(const std::string& input) {
  KESTO_ASSERT_MAIN_THREAD();
  if (ViewManager::sharedInstance().currentView() != ViewManager::Tags || !kestoData_) return;
  usedTagsLabel_->setStringValue("");
  const std::string text = fnd::replaceAll(brightwren::stringByRemovingLeadingAndTrailingSpaces(input), ",", " ");
  auto& bookmarks = kestoData_->bookmarks();
  if (text.empty()) {
    // Back to the tag selection.
    bookmarks.clear();
    kestoData_->loadBookmarks();
    return;
  }
  if (fnd::utf16Length(text) < 2) return;
  usedTags_.clear();
  bookmarks.clear();
  // Separators one after another give empty terms, which match nothing.
  const auto terms = fnd::split(text, " ");
  if (terms.size() > kMaxSearchTerms) {
    ViewUpdater::updateBookmarks();
    return;
  }
  std::string format = "(";
  fnd::Array arguments;
  std::unordered_set<const Tag*> found;
  for (size_t i = 0; i < terms.size(); ++i) {
    if (i) format += " OR ";
    format += "(ANY tags.name contains[cd] %@)";
    arguments.emplace_back(terms[i]);
    auto matching = Tag::fetchEntitiesWithPredicate(store::Predicate::parse("name contains[cd] %@", {fnd::Value(terms[i])}))
                        .value_or(Tag::List{});
    for (auto& t : matching)
      if (found.insert(t.get()).second) usedTags_.push_back(t);
  }
  // Locked bookmarks stay out of every list but the trash.
  format += ") AND (trashed == 0) AND (blocked < 1)";
  auto sorts = kestoData_->folderSortDescriptors();
  auto result = Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse(format, arguments), &sorts, kSearchLimit, 0)
                    .value_or(Bookmark::List{});
  bookmarks.assign(result.begin(), result.end());
  std::vector<std::string> names;
  for (const auto& t : usedTags_) names.push_back(t->name());
  showUsedTags(names);
  ViewUpdater::updateBookmarks();
}

// ---- Source-list answers and menu ------------------------------------------------------------

unsigned TagsController::implementedSourceListDelegateMethods() const {
  using M = SourceListDelegate;
  return SmartListController::implementedSourceListDelegateMethods() | M::DeleteKeyPressedOnRows | M::MenuForEvent;
}

bool TagsController::sourceListShouldEditItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return i && i->identifier() != kContainerID;
}

void TagsController::sourceListSetObjectValueForItem(SourceList&, const fnd::Value& value, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (!i || !value.isString() || i->identifier() == kContainerID) return;
  const std::string from = i->identifier();
  if (!renameTag(from, value.string())) return;
  const std::string name = fnd::trimWhitespaceAndNewlines(value.string());
  i->setTitle(name);
  i->setIdentifier(name);
}

void TagsController::sourceListDeleteKeyPressedOnRows(const fnd::Notification&) { removeSelectedTag(); }

std::shared_ptr<ui::Menu> TagsController::menuForItem(SourceListItem* item) {
  auto menu = std::make_shared<ui::Menu>();
  if (!item || item->identifier() == kContainerID) return menu;
  menu->addItemWithTitle("Rename Tag", cmd::renameTag)->setTarget(this);
  menu->addItemWithTitle("Delete Tag", cmd::deleteTag)->setTarget(this);
  return menu;
}

bool TagsController::sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (!i || i->identifier() == kContainerID) return false;
  if (!list.isRowSelected(list.rowForItem(i))) selectOnly(i);
  contextMenu_ = menuForItem(i);
  ui::Menu::popUpContextMenu(contextMenu_, event, list);
  return true;
}

void TagsController::addActions(ui::ActionSet& set) {
  set.add(cmd::renameTag, [this] {
    if (list_->selectedRow() >= 0) list_->editRow(list_->selectedRow());
  });
  set.add(cmd::deleteTag, [this] { removeSelectedTag(); });
}

}  // namespace kesto
