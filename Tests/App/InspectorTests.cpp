// The inspector: what it shows for no, one and several selected bookmarks, and its edits,
// each saved at once and undoable.
#include "AppFixture.h"
#include "Harness/FocusedKeys.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/PopUpButton.h"
#include "Views/KSTTokenField.h"
#include "Views/KestoTitleTextView.h"

#include <QApplication>
#include <QFontMetrics>

#include "App/EditorController.h"
#include "Model/Base64.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/LevelIndicator.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/TokenField.h"
#include "Platform/UI/Window.h"
#include "Sidebar/FoldersController.h"
#include "Views/IndexPath.h"
#include "Views/PushButton.h"
#include "Views/TileCollectionView.h"
#include "Views/TextLabel.h"

#include <algorithm>

namespace kesto::test {
namespace {

class InspectorTest : public AppTest {
 protected:
  EditorController& editor() { return dynamic_cast<EditorController&>(ui->inspectorController()); }
  // As the list selects: the inspector shows only what is selected there.
  void show(const Bookmark::Ref& b) {
    dm().setSelectedBookmarks({b});
    dm().setCurrentBookmark(b);
    dm().setCurrentBookmarks({});
    ViewUpdater::updateInspector();
  }
  void showSeveral(const std::vector<Bookmark::Ref>& list) {
    dm().setSelectedBookmarks(list);
    dm().setCurrentBookmark(nullptr);
    dm().setCurrentBookmarks(list);
    ViewUpdater::updateInspector();
  }
  std::vector<std::string> tagNames(const Bookmark::Ref& b) {
    std::vector<std::string> out;
    for (const auto& t : b->tags()) out.push_back(t->name());
    std::sort(out.begin(), out.end());
    return out;
  }
  // As a click in the list selects it: the list's selection, then the inspector.
  void select(const Bookmark::Ref& b) {
    auto& list = *controller().views().collectionView;
    list.deselectAllItems();
    const auto& shown = dm().bookmarks();
    auto at = std::find(shown.begin(), shown.end(), b) - shown.begin();
    list.selectItemsAtIndexPaths({IndexPath::forItem(at, 0)}, false);
    controller().didChangeSelection();
  }
  // The field takes the keyboard focus, its edit under way.
  void edit(ui::TextControl& field) {
    ASSERT_TRUE(runUntil([&] {
      ui->window().makeFirstResponder(&field);
      return field.isEditing();
    }));
  }
  static std::shared_ptr<store::Context> context() { return WrenDataManager::sharedInstance().managedObjectContext(); }
  // Saved: the main context holds no change the store lacks.
  static bool saved() { return !context()->hasChanges() && !WrenEntity::lastSaveFailed(); }
  Tag::Ref makeTag(const std::string& name) {
    auto t = Tag::initEntity();
    t->setName(name);
    Tag::saveContext();
    return t;
  }
};

TEST_F(InspectorTest, ShowsNothingOneOrSeveral) {
  auto a = add("http://a.example/page", "A");
  auto b = add("http://b.example/", "B");
  a->setRating(3.0);
  a->setColor("purple");
  a->setImportedFrom("Firefox");
  a->setPassword(Base64::encodeString("sécret"));
  a->setNotes("n");
  a->addTag(makeTag("zeta"));
  a->addTag(makeTag("alpha"));
  a->saveBookmark();
  b->setRating(3.0);
  b->saveBookmark();
  build(2);
  auto& e = editor();
  EXPECT_TRUE(e.views().title->isHidden());
  EXPECT_FALSE(e.views().noSelectionLabelEdit->isHidden());

  show(a);
  EXPECT_FALSE(e.views().title->isHidden());
  EXPECT_TRUE(e.views().noSelectionLabelEdit->isHidden());
  EXPECT_EQ(e.views().title->stringValue(), "A");
  EXPECT_EQ(e.views().url->stringValue(), "http://a.example/page");
  EXPECT_EQ(e.views().rating->doubleValue(), 3.0);
  EXPECT_EQ(e.views().tags->tokens(), (std::vector<std::string>{"alpha", "zeta"}));
  EXPECT_EQ(e.views().tagsInfoField->stringValue(), "alpha, zeta");
  EXPECT_EQ(e.views().colorButton->indexOfSelectedItem(), 0);  // not one of the six colours
  EXPECT_EQ(e.views().passwordField->stringValue(), "sécret");
  EXPECT_EQ(e.views().importedFrom->stringValue(), "Firefox");
  EXPECT_NE(e.views().indexField->stringValue(), "Index: 0");

  // Another bookmark leaves nothing of the first behind.
  show(b);
  EXPECT_EQ(e.views().importedFrom->stringValue(), "");
  EXPECT_EQ(e.views().passwordField->stringValue(), "");
  EXPECT_TRUE(e.views().tags->tokens().empty());
  // What it lacks is said beside the caption, dimmed, and never stored as its value.
  EXPECT_EQ(e.views().importedFrom->displayedString(), "Not imported");
  EXPECT_EQ(e.views().tagsInfoField->displayedString(), "No tags");
  EXPECT_EQ(e.views().lastVisited->displayedString(), "Never");
  EXPECT_EQ(e.views().tagsInfoField->stringValue(), "");

  // Outside the current list its index is 0.
  auto outside = add("http://c.example/", "C");
  show(outside);
  EXPECT_EQ(e.views().indexField->stringValue(), "Index: 0");

  // Several: a shared rating shows, differing ratings show none.
  showSeveral({a, b});
  EXPECT_EQ(e.views().rating->doubleValue(), 3.0);
  EXPECT_TRUE(e.views().notes->isEnabled());
  EXPECT_FALSE(e.views().loginField->isEnabled());
  b->setRating(4.0);
  showSeveral({a, b});
  EXPECT_EQ(e.views().rating->doubleValue(), 0.0);
  // Several have no one value to lack.
  EXPECT_EQ(e.views().tagsInfoField->displayedString(), "");
  EXPECT_EQ(e.views().lastVisited->displayedString(), "");

  ViewUpdater::clearInspector();
  EXPECT_TRUE(e.views().title->isHidden());
}

TEST_F(InspectorTest, TheColourPopUpShowsEveryChoiceWhole) {
  build(0);
  auto& popUp = *editor().views().colorButton;
  // Measured in the font the pop-up draws with; the arrow takes about 20 more.
  QFontMetrics metrics(QApplication::font());
  for (const auto& title : popUp.itemTitles())
    EXPECT_GT(popUp.frame().size.width, metrics.horizontalAdvance(QString::fromStdString(title)) + 20)
        << title << " is cut off";
  // Within the inspector at its least width.
  EXPECT_LE(popUp.frame().maxX(), 210);
}

TEST_F(InspectorTest, TheTagsAreTheApplicationsLightRoundedTokenField) {
  build(0);
  auto* tokens = dynamic_cast<KestoRoundedTokenField*>(editor().views().tags.get());
  ASSERT_NE(tokens, nullptr);
  EXPECT_DOUBLE_EQ(tokens->borderWidth(), 1.2) << "styled as it wakes";
  EXPECT_DOUBLE_EQ(tokens->cornerRadius(), 2.0);
}

TEST_F(InspectorTest, ReturnInTheTitleAndAddressViewsSavesTheEditAndOpensNothing) {
  auto a = add("http://a.example/", "Old");
  build(1);
  show(a);
  auto& e = editor();
  ASSERT_NE(dynamic_cast<KestoTitleTextView*>(e.views().title.get()), nullptr);
  int launches = 0;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>&) { return ++launches, true; });
  const auto returnKey = ui::Event::key(ui::KeyCode::Return, 0, "\r");
  e.views().title->setStringValue("Typed title");
  e.views().title->keyDown(returnKey);
  EXPECT_EQ(a->title().value_or(""), "Typed title");
  EXPECT_EQ(a->titleUpdated(), 1) << "a typed title is settled: no page fetch replaces it";
  EXPECT_TRUE(runUntil([&] { return e.views().title->isEditable(); }, 30)) << "ready for the next edit";
  e.views().url->setStringValue("https://typed.example/");
  e.views().url->keyDown(ui::Event::key(ui::KeyCode::Return, ui::ModifierFlag::Shift, "\r"));
  EXPECT_EQ(a->url().value_or(""), "https://typed.example/");
  EXPECT_EQ(e.views().url->stringValue(), "https://typed.example/") << "no line break went into the address";
  EXPECT_EQ(a->timesOpened(), 0);
  EXPECT_EQ(launches, 0) << "Return ends the edit and opens nothing";
  sys::Workspace::setLauncher(nullptr);
}

TEST_F(InspectorTest, TabAndShiftTabEndTheTitleAndAddressEditAsInTheOtherFields) {
  auto a = add("http://a.example/", "Old");
  build(1);
  show(a);
  auto& e = editor();
  auto& window = ui->window();
  e.views().title->setStringValue("");
  ASSERT_TRUE(runUntil([&] {
    window.makeFirstResponder(e.views().title.get());
    return e.views().title->isEditing();
  }));
  type("Tabbed");
  press(Qt::Key_Tab, "\t");
  EXPECT_EQ(a->title().value_or(""), "Tabbed");
  EXPECT_EQ(window.firstResponder(), e.views().url.get()) << "the focus moved on to the address";
  e.views().url->setStringValue("");
  type("x");
  press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
  EXPECT_EQ(a->url().value_or(""), "x");
  EXPECT_EQ(window.firstResponder(), e.views().title.get()) << "the focus moved back to the title";
  EXPECT_EQ(e.views().title->stringValue(), "Tabbed") << "no tab went into the title";
}

TEST_F(InspectorTest, EditsAreSavedAtOnceAndUndoable) {
  auto a = add("http://a.example/", "Old");
  build(1);
  show(a);
  auto& e = editor();
  spin(0.05);  // the group of the add closes with its turn of the loop

  e.views().title->setStringValue("New title");
  e.views().title->sendAction();
  EXPECT_EQ(a->title().value_or(""), "New title");
  EXPECT_TRUE(saved());

  // The address edit takes the base address along.
  e.views().url->setStringValue("https://other.example/deep/path?q=1");
  e.views().url->sendAction();
  EXPECT_EQ(a->url().value_or(""), "https://other.example/deep/path?q=1");
  EXPECT_EQ(a->baseURL().value_or(""), brightwren::stringWithFirstURLComponent("https://other.example/deep/path?q=1"));
  EXPECT_NE(a->baseURL().value_or(""), "a.example");
  EXPECT_TRUE(saved());
  spin(0.05);

  auto* undo = context()->undoManager();
  ASSERT_TRUE(undo);
  ASSERT_TRUE(undo->canUndo());
  undo->undo();
  EXPECT_EQ(a->url().value_or(""), "http://a.example/");
  undo->redo();
  EXPECT_EQ(a->url().value_or(""), "https://other.example/deep/path?q=1");
  // An undo reads the library again and empties the list's selection, and the inspector with
  // it: the bookmark is chosen again.
  spin(0.05);
  show(a);

  // What the inspector stores is cleaned like every door's, and the site follows the clean form.
  auto version = a->version();
  e.views().url->setStringValue("https://exa\xE2\x80\xAE" "mple.org/gpj.exe\n");
  e.views().url->sendAction();
  EXPECT_EQ(a->url().value_or(""), "https://example.org/gpj.exe");
  EXPECT_EQ(a->baseURL().value_or(""), brightwren::stringWithFirstURLComponent("https://example.org/gpj.exe"));
  // The field still shows what was typed: leaving it stores nothing new.
  version = a->version();
  e.controlTextDidEndEditing(*e.views().url);
  EXPECT_EQ(a->version(), version);

  // Leaving a field stores it like Return; leaving it unchanged stores nothing.
  version = a->version();
  e.controlTextDidEndEditing(*e.views().title);
  EXPECT_EQ(a->version(), version);
  e.views().loginField->setStringValue("me");
  e.controlTextDidEndEditing(*e.views().loginField);
  EXPECT_EQ(a->login().value_or(""), "me");

  // Password: Base64 of the text; an empty field removes it. Copy takes the clear text.
  e.views().passwordField->setStringValue("pw ü");
  e.views().passwordField->sendAction();
  EXPECT_EQ(Base64::decodeToString(a->password().value_or("")).value_or(""), "pw ü");
  e.copyPassword();
  EXPECT_EQ(ui::Pasteboard::general().stringForType(ui::PasteboardType::String).value_or(""), "pw ü");
  e.views().passwordField->setStringValue("");
  e.views().passwordField->sendAction();
  EXPECT_FALSE(a->password());

  // Colour and favourite.
  e.views().colorButton->selectItemAtIndex(2);
  e.updateColor();
  EXPECT_EQ(a->color().value_or(""), "red");
  e.views().favoriteButton->performClick();
  EXPECT_EQ(a->isFavorite(), 1);
  e.views().favoriteButton->performClick();
  EXPECT_EQ(a->isFavorite(), 0);
  EXPECT_TRUE(saved());
}

TEST_F(InspectorTest, RatingFromAClickOnAStar) {
  auto a = add("http://a.example/", "A");
  build(1);
  show(a);
  auto& stars = *editor().views().rating;
  auto fourth = stars.rectOfStar(3);
  stars.userClickedAt(fourth.midX());
  EXPECT_EQ(a->rating().value_or(0), 4.0);
  EXPECT_TRUE(saved());
  // Several selected take the same value.
  auto b = add("http://b.example/", "B");
  showSeveral({a, b});
  stars.userClickedAt(stars.rectOfStar(1).midX());
  EXPECT_EQ(a->rating().value_or(0), 2.0);
  EXPECT_EQ(b->rating().value_or(0), 2.0);
}

TEST_F(InspectorTest, TagsReplaceAddAndDeleteUnusedOnes) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  auto c = add("http://c.example/", "C");
  a->addTag(makeTag("work"));
  a->saveBookmark();
  build(3);
  auto& e = editor();
  show(a);
  dm().currentlySelectedTags() = {"work"};

  // Exact names: "Work" is a tag of its own beside "work", which loses its last use and goes.
  e.views().tags->setTokens({"Work", "news"});
  e.views().tags->sendAction();
  EXPECT_EQ(tagNames(a), (std::vector<std::string>{"Work", "news"}));
  EXPECT_FALSE(Tag::fetchEntityWhereProperty("name", fnd::Value(std::string("work"))));
  EXPECT_TRUE(dm().currentlySelectedTags().empty());
  EXPECT_TRUE(saved());

  // Several selected: tags are added to each, none removed.
  b->addTag(makeTag("t2"));
  b->saveBookmark();
  showSeveral({b, c});
  e.views().tags->setTokens({"t1"});
  e.views().tags->sendAction();
  EXPECT_EQ(tagNames(b), (std::vector<std::string>{"t1", "t2"}));
  EXPECT_EQ(tagNames(c), std::vector<std::string>{"t1"});

  // Undo takes the last tag edit back.
  spin(0.05);
  context()->undoManager()->undo();
  EXPECT_EQ(tagNames(c), std::vector<std::string>{});
}

TEST_F(InspectorTest, TagCompletionsArePrefixesAndFolderCompletionsAnywhere) {
  auto a = add("http://a.example/", "A");
  for (const char* n : {"News", "network", "Cnet", "névé"}) {
    a->addTag(makeTag(n));
  }
  a->saveBookmark();
  auto home = addFolder("Home");
  auto cnet = addFolder("Cnet", home->folderID());
  build(1);
  auto& e = editor();
  auto tags = e.completionsForSubstring("ne", 0);
  std::sort(tags.begin(), tags.end());
  EXPECT_EQ(tags, (std::vector<std::string>{"News", "network", "névé"}));
  auto folders = e.completionsForSubstring("ne", 1);
  EXPECT_NE(std::find(folders.begin(), folders.end(), "Home/Cnet"), folders.end());
  EXPECT_EQ(std::find(folders.begin(), folders.end(), "Home"), folders.end());
}

TEST_F(InspectorTest, BulkNotesGoUnderTheNotesEachHas) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  a->setNotes("a");
  a->saveBookmark();
  build(2);
  showSeveral({a, b});
  auto& e = editor();
  // Leaving the empty field adds nothing.
  e.controlTextDidEndEditing(*e.views().notes);
  EXPECT_EQ(a->notes().value_or(""), "a");
  e.views().notes->setStringValue("x");
  e.views().notes->sendAction();
  EXPECT_EQ(a->notes().value_or(""), "a\n\nx");
  EXPECT_EQ(b->notes().value_or(""), "x");
}

TEST_F(InspectorTest, GoToFolderSelectsTheFolderInTheSidebarSoRefreshesKeepIt) {
  auto work = addFolder("Work", Folder::kRootID);
  auto other = addFolder("Other", Folder::kRootID);
  auto a = Bookmark::addBookmarkWithURL("http://work.example/", work);
  Bookmark::addBookmarkWithURL("http://other.example/", other);
  build(2);
  spin(0.3);  // the sidebar shows its stored tab
  auto& e = editor();
  ASSERT_TRUE(ui->foldersController());
  auto& folders = *ui->foldersController();
  folders.selectFolderWithID(other->folderID());
  ASSERT_TRUE(dm().currentFolder());
  ASSERT_EQ(dm().currentFolder()->folderID(), other->folderID());

  show(a);
  EXPECT_EQ(e.currentFolderID(), work->folderID());
  EXPECT_FALSE(e.views().folderButton->isHidden());
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder);
  EXPECT_EQ(folders.selectedIdentifier(), work->folderID());
  ASSERT_TRUE(dm().currentFolder());
  EXPECT_EQ(dm().currentFolder()->folderID(), work->folderID());
  EXPECT_EQ(defaults().stringForKey("currentlySelectedFolder").value_or(""), work->folderID());
  // The next refresh shows the same folder, not the one selected before.
  folders.updateView();
  spin(0.2);
  ASSERT_TRUE(dm().currentFolder());
  EXPECT_EQ(dm().currentFolder()->folderID(), work->folderID());
  ASSERT_EQ(dm().bookmarks().size(), 1u);
  EXPECT_EQ(dm().bookmarks()[0], a);
}

TEST_F(InspectorTest, ADeletedOrEmptiedBookmarkLeavesTheInspector) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  build(2);
  auto& e = editor();
  auto select = [&](const Bookmark::Ref& bm) {
    auto& list = *controller().views().collectionView;
    list.deselectAllItems();
    const auto& shown = dm().bookmarks();
    auto at = std::find(shown.begin(), shown.end(), bm) - shown.begin();
    list.selectItemsAtIndexPaths({IndexPath::forItem(at, 0)}, false);
    controller().didChangeSelection();
  };
  select(a);
  EXPECT_EQ(e.views().title->stringValue(), "A");
  // Moved to the trash: nothing selected, nothing shown.
  controller().deleteBookmarks();
  EXPECT_FALSE(dm().currentBookmark());
  EXPECT_TRUE(e.views().title->isHidden());
  EXPECT_EQ(e.views().title->stringValue(), "");

  // Several at once, then one deleted for good from the trash list.
  a->setTrashed(1);
  b->setTrashed(1);
  ASSERT_TRUE(WrenEntity::saveContext());
  dm().bookmarks() = {a, b};
  controller().updateView();
  select(b);
  EXPECT_EQ(e.views().title->stringValue(), "B");
  controller().deleteBookmarks();
  EXPECT_FALSE(dm().currentBookmark());
  EXPECT_EQ(e.views().title->stringValue(), "");
}

TEST_F(InspectorTest, EscapeInAFieldEndsItsEditThereKeepingWhatItHolds) {
  auto a = add("http://a.example/", "Title A");
  build(1);
  select(a);
  auto& e = editor();
  for (auto [field, text] : std::initializer_list<std::pair<ui::TextControl*, const char*>>{
           {e.views().notes.get(), "Notes A"}, {e.views().loginField.get(), "me"}, {e.views().passwordField.get(), "pw"}}) {
    field->setStringValue(text);
    field->sendAction();
  }
  e.views().tags->setTokens({"alpha", "gamma"});
  e.updateTags();
  const auto version = a->version();
  std::vector<ui::TextControl*> fields = {e.views().title.get(),      e.views().url.get(),
                                          e.views().notes.get(),      e.views().loginField.get(),
                                          e.views().passwordField.get(), e.views().tags.get()};
  for (ui::TextControl* field : fields) {
    edit(*field);
    press(Qt::Key_Escape);
    EXPECT_FALSE(field->isEditing()) << field->stringValue();
    EXPECT_EQ(dm().currentBookmark(), a) << "the list behind the field kept its selection";
    EXPECT_EQ(e.views().title->stringValue(), "Title A");
    EXPECT_FALSE(e.views().title->isHidden());
    EXPECT_EQ(a->version(), version) << "Escape in an untouched " << field->stringValue() << " stored something";
  }
  EXPECT_EQ(a->notes().value_or(""), "Notes A");
  EXPECT_EQ(tagNames(a), (std::vector<std::string>{"alpha", "gamma"}));

  // Typed, then Escape: stored as it stands, as Tab stores it.
  edit(*e.views().title);
  e.views().title->selectAll();
  type("Typed");
  press(Qt::Key_Escape);
  EXPECT_EQ(a->title().value_or(""), "Typed");
  edit(*e.views().tags);
  type("beta");
  press(Qt::Key_Escape);
  EXPECT_EQ(tagNames(a), (std::vector<std::string>{"alpha", "beta", "gamma"}));
  EXPECT_EQ(dm().currentBookmark(), a);
}

TEST_F(InspectorTest, TheEditUnderWayEndsOnItsBookmarkBeforeTheInspectorShowsAnotherOrNone) {
  auto a = add("http://a.example/", "A");
  auto b = add("http://b.example/", "B");
  build(2);
  auto& e = editor();
  // A tag half-typed, then the list moves on (the preview's arrows, a click, a search ...).
  select(a);
  edit(*e.views().tags);
  type("kept");
  select(b);
  EXPECT_EQ(tagNames(a), std::vector<std::string>{"kept"});
  EXPECT_TRUE(tagNames(b).empty());
  EXPECT_TRUE(e.views().tags->tokens().empty());
  EXPECT_EQ(e.views().tags->pendingText(), "");
  // Then a full tag edit of the second one stores nothing on the first.
  edit(*e.views().tags);
  type("other");
  press(Qt::Key_Return);
  EXPECT_EQ(tagNames(b), std::vector<std::string>{"other"});
  EXPECT_EQ(tagNames(a), std::vector<std::string>{"kept"});

  for (auto* field : {static_cast<ui::TextControl*>(e.views().notes.get()),
                      static_cast<ui::TextControl*>(e.views().title.get())}) {
    select(a);
    edit(*field);
    field->setStringValue("");
    type("Typed");
    select(b);
    EXPECT_EQ(field->stringValue(), field == e.views().title.get() ? "B" : "") << "the fields show the second";
  }
  EXPECT_EQ(a->notes().value_or(""), "Typed");
  EXPECT_EQ(a->title().value_or(""), "Typed");
  EXPECT_EQ(b->notes().value_or(""), "");
  EXPECT_EQ(b->title().value_or(""), "B");

  // Shown no more (the list's Escape, a reset): stored first; clearing stores nothing itself.
  select(a);
  edit(*e.views().loginField);
  type("login");
  ViewUpdater::clearInspector();
  EXPECT_EQ(a->login().value_or(""), "login");
  EXPECT_TRUE(e.views().loginField->isHidden());
  const auto version = a->version();
  ViewUpdater::clearInspector();
  EXPECT_EQ(a->version(), version);
}

TEST_F(InspectorTest, ARefreshOfTheSameBookmarkKeepsWhatIsBeingTyped) {
  auto a = add("http://a.example/", "A");
  build(1);
  select(a);
  auto& e = editor();
  edit(*e.views().notes);
  type("Half");
  // Something else of the bookmark changed meanwhile (a page fetched): shown, the typing kept.
  a->setTitle("Fetched");
  a->saveBookmark();
  ViewUpdater::updateInspector();
  EXPECT_EQ(e.views().title->stringValue(), "Fetched");
  EXPECT_EQ(e.views().notes->stringValue(), "Half");
  EXPECT_TRUE(e.views().notes->isEditing());
  ui->window().makeFirstResponder(nullptr);
  EXPECT_EQ(a->notes().value_or(""), "Half");

  // A bookmark deleted for good while its notes are typed takes nothing, and nothing else does.
  edit(*e.views().notes);
  type(" more");
  a->deleteEntity();
  ASSERT_TRUE(WrenEntity::saveContext());
  dm().setCurrentBookmark(nullptr);
  dm().setSelectedBookmarks({});
  ViewUpdater::updateInspector();
  EXPECT_FALSE(e.views().notes->isEditing());
  EXPECT_TRUE(e.views().notes->isHidden());
}

}  // namespace
}  // namespace kesto::test
