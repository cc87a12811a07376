#pragma once

#include "Platform/UI/Action.h"
#include "Sidebar/SmartListController.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

namespace ui {
class Label;
class Menu;
class SearchField;
class Window;
}  // namespace ui
class Tag;

// The tags list: every tag in use with the number of bookmarks carrying it. Selecting tags shows
// the bookmarks with any (or, with showALLTags, all) of them; the selection is kept across runs
// as row positions. A row is renamed in place and deleted with the Delete key (also on the
// connected bookmark services); the search field finds bookmarks whose tags contain any of its
// words. Main thread only.
class TagsController : public SmartListController, public ui::ActionResponder {
 public:
  static constexpr const char* kContainerID = "tagsContainerItem";
  static constexpr const char* kSelectedTagsKey = "CurrentlySelectedTags";
  // Terms of one tag search, at most.
  static constexpr size_t kMaxSearchTerms = 10;
  static constexpr long kSearchLimit = 100;

  TagsController();
  ~TagsController() override;

  void awakeFromNib() override;
  void setWindow(ui::Window* window) { window_ = window; }

  // Refresh: back to the tag selection (the rows are rebuilt on the reset notification).
  void updateView() override;
  // Rebuilds the rows, when the list shows; choosing it resets it again.
  void resetView();
  void loadItems() override;
  void selectTagsFromDefaults();
  // The tags carrying at least one bookmark, by name without regard to case.
  static std::vector<std::shared_ptr<Tag>> tagsInUse();
  void updateSelection() override;

  // Renames the tag named `from`; onto the name of another tag, the two become one. The carrying
  // bookmarks get new versions so the change syncs. A blank name is refused. Answers whether the
  // store kept the change.
  bool renameTag(const std::string& from, const std::string& to);
  // Asks, then deletes the tag of the selected row 0.5 seconds later.
  void removeSelectedTag();
  // Deletes every tag named `name`; the bookmarks carrying it get new versions, and the
  // connected services are asked to delete it too. Answers whether the store kept the change.
  bool doRemoveTag(const std::string& name);
  // The search field's action.
  void search();
  void searchFor(const std::string& text);

  std::shared_ptr<ui::SearchField> searchField() const { return searchField_; }
  std::shared_ptr<ui::Label> usedTagsLabel() const { return usedTagsLabel_; }
  const std::vector<SourceListItemRef>& tagItems() const { return items_; }
  const std::vector<std::shared_ptr<Tag>>& usedTags() const { return usedTags_; }
  std::shared_ptr<ui::Menu> menuForItem(SourceListItem* item);

  // Source-list answers that differ from the smart lists'.
  unsigned implementedSourceListDelegateMethods() const override;
  bool sourceListShouldEditItem(SourceList& list, SourceListItemPtr item) override;
  void sourceListSetObjectValueForItem(SourceList& list, const fnd::Value& value, SourceListItemPtr item) override;
  void sourceListDeleteKeyPressedOnRows(const fnd::Notification& notification) override;
  bool sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) override;

 protected:
  // The context menu's commands: rename and delete the selected tag.
  void addActions(ui::ActionSet& set) override;

 private:
  void showUsedTags(const std::vector<std::string>& names);
  void showError(const std::string& message);

  ui::Window* window_ = nullptr;
  std::shared_ptr<ui::View> searchView_;
  std::shared_ptr<ui::SearchField> searchField_;
  std::shared_ptr<ui::Label> usedTagsLabel_;
  std::vector<std::shared_ptr<Tag>> usedTags_;
  std::shared_ptr<ui::Menu> contextMenu_;
};

}  // namespace kesto
