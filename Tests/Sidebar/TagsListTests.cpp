#include "SidebarListFixture.h"

#include "Model/RecordedServiceCalls.h"
#include "Model/Service.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Menu.h"
#include "Sidebar/SidebarCommands.h"
#include "Sidebar/TagsController.h"

namespace kesto::test {
namespace {

class TagsListTest : public SidebarListTest {
 protected:
  void SetUp() override {
    SidebarListTest::SetUp();
    show(SelectedTagsView, ViewManager::Tags);
  }
  void TearDown() override {
    registerBookmarkServiceClientFactory(nullptr);
    SidebarListTest::TearDown();
  }

  Bookmark::Ref tagged(const std::string& title, const std::vector<std::string>& tags) {
    auto b = Bookmark::addBookmarkWithURL("http://tags.example/" + title, tags);
    b->setTitle(title);
    return b;
  }

  void wire() {
    loadLibrary();
    tags.setDataManager(&dm);
    tags.awakeFromNib();
    // As the switcher does when the tab is chosen.
    ViewUpdater::resetTags();
    ViewUpdater::updateTags();
  }

  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (const auto& i : tags.tagItems()) out.push_back(i->title() + "=" + std::to_string(i->badgeValue().value_or(-1)));
    return out;
  }

  // Selects the rows as a click does and waits for the list to act on them, after its selection
  // delay.
  void selectRows(std::vector<std::string> names) {
    std::vector<ui::OutlineItem> items;
    for (const auto& i : tags.tagItems())
      if (std::find(names.begin(), names.end(), i->title()) != names.end()) items.push_back(i.get());
    brightwren::setSelectedItems(*tags.sourceList(), items);
    ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  }

  static std::vector<std::string> tagNames(const Bookmark& b) {
    std::vector<std::string> out;
    for (const auto& t : b.tags()) out.push_back(t->name());
    return sorted(out);
  }

  TagsController tags;
};

TEST_F(TagsListTest, RowsAndBadgesCountEveryCaseOfANameOnce) {
  auto a = tagged("a", {"Work"});
  auto b = tagged("b", {"Work", "work"});
  tagged("c", {"work", "home", "Ähnlich", "apple", "Zebra"});
  b->setTrashed(1);  // trashed bookmarks count too
  Tag::initEntity()->setName("unused");
  save();
  wire();
  EXPECT_EQ(rows(), (std::vector<std::string>{"apple=1", "home=1", "Work=3", "work=3", "Zebra=1", "Ähnlich=1"}));
  // The same tags in the same order as the store's own "in use" fetch.
  std::vector<std::string> mine, stores;
  for (const auto& t : TagsController::tagsInUse()) mine.push_back(t->name());
  for (const auto& t : Tag::allTags()) stores.push_back(t->name());
  EXPECT_EQ(mine, stores);
  EXPECT_EQ(tags.containerItem()->identifier(), "tagsContainerItem");
}

TEST_F(TagsListTest, RowsAreBuiltOnlyWhileTheListShows) {
  tagged("a", {"Work"});
  save();
  // A start on the folders list: the reset leaves the rows alone.
  show(SelectedLibraryView, ViewManager::Folders);
  wire();
  EXPECT_TRUE(rows().empty());
  // Choosing the tab resets the list again, now shown.
  show(SelectedTagsView, ViewManager::Tags);
  ViewUpdater::resetTags();
  EXPECT_EQ(rows(), (std::vector<std::string>{"Work=1"}));
  // Hidden again: the rows it has stay as they were.
  tagged("b", {"home"});
  save();
  show(SelectedLibraryView, ViewManager::Folders);
  ViewUpdater::resetTags();
  EXPECT_EQ(rows(), (std::vector<std::string>{"Work=1"}));
}

TEST_F(TagsListTest, BadgesLeaveOutBookmarksOfLockedFoldersAsTheListDoes) {
  tagged("open", {"Work"});
  auto hidden = tagged("locked", {"Work", "secret"});
  hidden->setBlocked(1);
  save();
  wire();
  // "secret" is in use, but all its bookmarks are locked away: it shows no count.
  EXPECT_EQ(rows(), (std::vector<std::string>{"secret=-1", "Work=1"}));
  selectRows({"Work"});
  ASSERT_EQ(dm.bookmarks().size(), 1u);
  EXPECT_EQ(dm.bookmarks()[0]->title().value_or(""), "open");
}

TEST_F(TagsListTest, SelectionLoadsAnyOrAllAndIsKeptAsPositions) {
  tagged("red only", {"red"});
  tagged("red and blue", {"red", "blue"});
  tagged("blue only", {"blue"});
  tagged("green", {"green"});
  save();
  wire();
  selectRows({"red", "blue"});
  EXPECT_EQ(listed(), (std::vector<std::string>{"blue only", "red and blue", "red only"}));
  EXPECT_EQ(tags.usedTagsLabel()->stringValue(), "blue, red");
  auto stored = fnd::UserDefaults::standard().arrayForKey(TagsController::kSelectedTagsKey);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 2u);
  EXPECT_EQ((*stored)[0].intValue(), 0);
  EXPECT_EQ((*stored)[1].intValue(), 2);

  prefs->allTags = true;
  dm.loadBookmarks();
  EXPECT_EQ(listed(), (std::vector<std::string>{"red and blue"}));

  // A later start selects the same positions again.
  TagsController again;
  again.setDataManager(&dm);
  again.awakeFromNib();
  ViewUpdater::resetTags();
  ViewUpdater::updateTags();
  ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  EXPECT_EQ(again.sourceList()->numberOfSelectedRows(), 2);
  EXPECT_EQ(sorted(dm.currentlySelectedTags()), (std::vector<std::string>{"blue", "red"}));

  // A stored position past the list abandons the restore.
  fnd::UserDefaults::standard().setObject(fnd::Value(fnd::Array{fnd::Value(0), fnd::Value(9)}),
                                          TagsController::kSelectedTagsKey);
  TagsController stale;
  stale.setDataManager(&dm);
  stale.awakeFromNib();
  stale.loadItems();
  stale.selectTagsFromDefaults();
  EXPECT_EQ(stale.sourceList()->numberOfSelectedRows(), 0);
}

TEST_F(TagsListTest, NoStoredListMeansTheFoldersAndLeavesTagModeAlone) {
  tagged("x", {"x"});
  save();
  wire();
  dm.prepareFolderView();
  fnd::UserDefaults::standard().removeObject(SelectedView);
  ViewUpdater::updateSourceLists();
  EXPECT_FALSE(dm.loadingFromTags());
}

TEST_F(TagsListTest, SelectionIsNotStoredWhileAnotherListIsShown) {
  tagged("x", {"x"});
  save();
  wire();
  ViewManager::sharedInstance().setCurrentView(ViewManager::History);
  selectRows({"x"});
  EXPECT_FALSE(fnd::UserDefaults::standard().hasValueForKey(TagsController::kSelectedTagsKey));
}

TEST_F(TagsListTest, RenameOnlyRenamesAndMergesOntoAnExistingName) {
  auto one = tagged("one", {"alpha"});
  auto two = tagged("two", {"alpha", "beta"});
  auto three = tagged("three", {"beta"});
  auto listedOnly = tagged("listed", {"gamma"});
  save();
  wire();
  const auto v1 = one->version(), v3 = three->version();
  // Whatever the browser lists at the time gains nothing.
  dm.bookmarks().assign({listedOnly});
  ASSERT_FALSE(tags.tagItems().empty());
  auto* row = tags.tagItems()[0].get();
  ASSERT_EQ(row->title(), "alpha");
  tags.sourceListSetObjectValueForItem(*tags.sourceList(), fnd::Value("renamed"), row);
  EXPECT_EQ(row->title(), "renamed");
  EXPECT_EQ(row->identifier(), "renamed");
  EXPECT_EQ(tagNames(*one), (std::vector<std::string>{"renamed"}));
  EXPECT_EQ(tagNames(*listedOnly), (std::vector<std::string>{"gamma"}));
  EXPECT_EQ(one->version(), v1 + 1);

  // Onto another tag's name: one tag of that name, carried by both sets of bookmarks.
  EXPECT_TRUE(tags.renameTag("renamed", "beta"));
  EXPECT_EQ(Tag::fetchEntitiesWhereProperty("name", std::string("beta"))->size(), 1u);
  EXPECT_TRUE(Tag::fetchEntitiesWhereProperty("name", std::string("renamed"))->empty());
  EXPECT_EQ(tagNames(*one), (std::vector<std::string>{"beta"}));
  EXPECT_EQ(tagNames(*two), (std::vector<std::string>{"beta"}));
  EXPECT_EQ(three->version(), v3);

  // Blank names and missing tags change nothing.
  EXPECT_FALSE(tags.renameTag("beta", "  "));
  EXPECT_FALSE(tags.renameTag("nothing", "else"));
  EXPECT_EQ(tagNames(*three), (std::vector<std::string>{"beta"}));
  // The container row cannot be edited.
  EXPECT_FALSE(tags.sourceListShouldEditItem(*tags.sourceList(), tags.containerItem()));
}

TEST_F(TagsListTest, DeleteKeyDeletesTheConfirmedTagAlsoOnTheServices) {
  auto a = tagged("a", {"doomed", "kept"});
  auto b = tagged("b", {"kept"});
  for (const char* name : {"pinboard", "delicious"}) Service::initEntity()->setName(name);
  save();
  RecordedServiceCalls calls;
  const auto& sent = calls.tags;
  wire();
  const auto va = a->version(), vb = b->version();

  // Cancelled: nothing happens.
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  selectRows({"doomed"});
  tags.removeSelectedTag();
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_NO_FATAL_FAILURE(waitPast(kConfirmedRemovalDelay));
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Delete this tag?");
  EXPECT_EQ(responder->alerts[0].buttons, (std::vector<std::string>{"Delete", "Cancel"}));
  EXPECT_EQ(tagNames(*a), (std::vector<std::string>{"doomed", "kept"}));

  // Confirmed, then another row is selected before the deletion runs: the confirmed tag goes.
  tags.removeSelectedTag();
  ASSERT_TRUE(runUntil([&] { return responder->alerts.size() == 2; }));
  selectRows({"kept"});
  ASSERT_TRUE(runUntil([&] { return !sent.empty(); }, 30));
  EXPECT_EQ(tagNames(*a), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(tagNames(*b), (std::vector<std::string>{"kept"}));
  EXPECT_GT(a->version(), va);
  EXPECT_EQ(b->version(), vb);
  EXPECT_EQ(sorted(sent), (std::vector<std::string>{"delicious doomed", "pinboard doomed"}));
  EXPECT_TRUE(Tag::fetchEntitiesWhereProperty("name", std::string("doomed"))->empty());
  EXPECT_GE(posted[SelectCurrentSidebarViewNotification], 1);
}

TEST_F(TagsListTest, AConfirmedDeletionIsDroppedWhenTheListGoesBeforeItRuns) {
  tagged("a", {"doomed"});
  save();
  wire();
  auto other = std::make_unique<TagsController>();
  other->setDataManager(&dm);
  other->awakeFromNib();
  ViewUpdater::resetTags();
  ASSERT_EQ(other->tagItems().size(), 1u);
  brightwren::setSelectedItems(*other->sourceList(), {other->tagItems()[0].get()});
  other->removeSelectedTag();
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_EQ(responder->alerts.size(), 1u);
  // Answered "Delete"; the list goes within the half second before the deletion.
  other.reset();
  ASSERT_NO_FATAL_FAILURE(waitPast(kConfirmedRemovalDelay));
  EXPECT_EQ(Tag::fetchEntitiesWhereProperty("name", std::string("doomed"))->size(), 1u);
  // Its notifications reach no one gone.
  ViewUpdater::resetTags();
  ViewUpdater::updateTags();
  EXPECT_EQ(rows(), (std::vector<std::string>{"doomed=1"}));
}

TEST_F(TagsListTest, ContextMenuOffersRenameAndDelete) {
  tagged("a", {"t"});
  save();
  wire();
  ASSERT_FALSE(tags.tagItems().empty());
  auto menu = tags.menuForItem(tags.tagItems()[0].get());
  ASSERT_EQ(menu->numberOfItems(), 2u);
  EXPECT_EQ(menu->items()[0]->title(), "Rename Tag");
  EXPECT_EQ(menu->items()[1]->title(), "Delete Tag");
  EXPECT_TRUE(tags.respondsToAction(cmd::deleteTag));
  EXPECT_EQ(tags.menuForItem(tags.containerItem())->numberOfItems(), 0u);
}

TEST_F(TagsListTest, TheMenuItemsRenameInPlaceAndAskBeforeDeleting) {
  tagged("a", {"t"});
  save();
  wire();
  ASSERT_FALSE(tags.tagItems().empty());
  auto menu = tags.menuForItem(tags.tagItems()[0].get());
  auto send = [&](std::size_t index) {
    const auto& item = menu->items()[index];
    return item->target()->performAction(item->action(), item.get());
  };
  // Nothing selected: rename has no row to edit.
  EXPECT_TRUE(send(0));
  EXPECT_FALSE(tags.sourceList()->isEditing());
  selectRows({"t"});
  EXPECT_TRUE(send(0));
  EXPECT_TRUE(tags.sourceList()->isEditing());

  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  EXPECT_TRUE(send(1));
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_NO_FATAL_FAILURE(waitPast(kConfirmedRemovalDelay));
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Delete this tag?");
  EXPECT_FALSE(tags.respondsToAction(cmd::removeFolder));
}

TEST_F(TagsListTest, SearchTermsLocksAndQuotes) {
  tagged("work page", {"workshop"});
  tagged("quoted", {"it's"});
  auto locked = tagged("locked", {"workflow"});
  locked->setBlocked(1);
  auto gone = tagged("trashed", {"work"});
  gone->setTrashed(1);
  tagged("other", {"music"});
  save();
  wire();
  dm.bookmarks().clear();

  // One character: nothing happens.
  tags.searchFor("w");
  EXPECT_TRUE(dm.bookmarks().empty());
  tags.searchFor("wo");
  EXPECT_EQ(listed(), (std::vector<std::string>{"work page"}));
  // The label names every tag found, locked ones' too.
  EXPECT_EQ(sorted(fnd::split(tags.usedTagsLabel()->stringValue(), ", ")),
            (std::vector<std::string>{"work", "workflow", "workshop"}));
  // A comma and a space give an empty middle term, which matches nothing.
  tags.searchFor("mus, it'");
  EXPECT_EQ(listed(), (std::vector<std::string>{"other", "quoted"}));

  // More than ten words: the list is emptied and redrawn as empty.
  const int redraws = posted[BRWUpdateBookmarksViewNotification];
  tags.searchFor("a1 a2 a3 a4 a5 a6 a7 a8 a9 a10 a11");
  EXPECT_TRUE(dm.bookmarks().empty());
  EXPECT_EQ(posted[BRWUpdateBookmarksViewNotification], redraws + 1);

  // Only while the tags list is shown.
  ViewManager::sharedInstance().setCurrentView(ViewManager::Folders);
  tags.searchFor("music");
  EXPECT_TRUE(dm.bookmarks().empty());
}

}  // namespace
}  // namespace kesto::test
