#include "SyncConvergence.h"
#include "SyncEngineFixture.h"

#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/SyncTombstones.h"
#include "Synchronize/Synchronizer.h"

#include "Model/ViewUpdater.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/SyncedFolder.h"

#include <chrono>
#include <ctime>
#include <map>

namespace kesto::test {
namespace {

// A transport that records what the engine asks and answers as the test says.
struct FakeSource : SyncDataSource {
  struct Log {
    int loads = 0;
    std::vector<std::string> sent;
  };
  std::shared_ptr<Log> log;
  std::function<void(Synchronizer&)> onLoad;
  std::function<void(Synchronizer&, const std::string&)> onSend;
  void load() override {
    ++log->loads;
    if (onLoad) onLoad(*delegate_);
  }
  void send(const std::string& xml) override {
    log->sent.push_back(xml);
    if (onSend) onSend(*delegate_, xml);
  }
};

class SynchronizerTest : public SyncEngineTest {
 protected:
  void SetUp() override {
    SyncEngineTest::SetUp();
    log = std::make_shared<FakeSource::Log>();
    startEngine("fake");
    engine->registerSource("fake", "[Fake]", [this] {
      auto s = std::make_unique<FakeSource>();
      s->log = log;
      s->onLoad = onLoad;
      s->onSend = onSend;
      return s;
    });
  }
  void TearDown() override {
    engineAlive.reset();
    stopEngine();
    SyncEngineTest::TearDown();
  }
  // The copy arrives a little later, when the engine is still there: a run that ended another
  // way may end the test first, and the delay would outlive it.
  std::function<void(Synchronizer&)> deliver(std::string xml) {
    return [xml, alive = std::weak_ptr<int>(engineAlive)](Synchronizer& s) {
      fnd::DispatchQueue::main().after(0.1, [&s, xml, alive] {
        if (alive.lock()) s.retrievedXML(xml);
      });
    };
  }
  std::shared_ptr<int> engineAlive = std::make_shared<int>(0);
  static void confirm(Synchronizer& s, const std::string&) { s.sentSyncData(true); }

  std::shared_ptr<FakeSource::Log> log;
  std::function<void(Synchronizer&)> onLoad;
  std::function<void(Synchronizer&, const std::string&)> onSend = confirm;
};

TEST_F(SynchronizerTest, EmptyRemoteUploadsTheLibrary) {
  auto f = folder("F1", "One");
  bookmark("B1", "http://a.example/", "A", f);
  save();
  onLoad = deliver(kEmptyLibraryMarker);
  ASSERT_TRUE(runSync());
  ASSERT_EQ(log->sent.size(), 1u);
  auto doc = SyncFile::read(log->sent[0], true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-LOCAL");
  ASSERT_EQ(doc->bookmarks.size(), 1u);
  EXPECT_FALSE(engine->isRunning());
  EXPECT_FALSE(Synchronizer::isExclusiveJobRunning());
}

// The merge runs over a connection of its own: what the user left unsaved when the run began
// is stored first and goes out, the objects the interface holds show the merged rows when the
// run ends, and the main thread is free while the file is merged.
TEST_F(SynchronizerTest, TheMergeRunsBesideTheMainContextAndTheInterfaceSeesItsRows) {
  auto f = folder("F1", "One");
  auto held = bookmark("B1", "http://a.example/", "old", f);
  bookmark("B2", "http://b.example/", "mine", f);
  save();
  find("B2")->setTitle("edited, not saved");
  std::string peer = "<kesto-sync-file><kesto-id>kesto-PEER</kesto-id><bookmarks><bookmark><id>B1</id><version>5</version>"
                     "<url>http://a.example/</url><title>merged</title><folders><folder-id>F1</folder-id></folders></bookmark>";
  for (int i = 0; i < 3000; ++i)
    peer += "<bookmark><id>N" + std::to_string(i) + "</id><version>1</version><url>http://n" + std::to_string(i) +
            ".example/</url><title>new</title><folders><folder-id>F1</folder-id></folders></bookmark>";
  peer += "</bookmarks></kesto-sync-file>";
  onLoad = deliver(peer);
  // A heartbeat on the main loop: the run must never hold it for long. What is measured is the
  // main thread's own processor time between beats, which neither a loaded machine nor a
  // stopped program adds to, only work done there.
  auto mainThreadSeconds = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  };
  double last = mainThreadSeconds();
  double longest = 0;
  fnd::Lifetime beating;
  std::function<void()> beat;
  beat = [&, alive = beating.watch()] {
    longest = std::max(longest, mainThreadSeconds() - last);
    last = mainThreadSeconds();
    // A beat still queued when the test ends finds the heart stopped and touches nothing.
    fnd::DispatchQueue::main().after(0.005, [&beat, alive] {
      if (alive) beat();
    });
  };
  beat();
  ASSERT_TRUE(runSync());
  beating.end();
  EXPECT_LT(longest, 0.5);
  EXPECT_EQ(held->title().value_or(""), "merged");
  EXPECT_TRUE(find("N2999"));
  ASSERT_EQ(log->sent.size(), 1u);
  auto doc = SyncFile::read(log->sent[0], true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->bookmarks.size(), 3002u);
  bool edited = false;
  for (const auto& b : doc->bookmarks) edited = edited || (b.uniqueID.string() == "B2" && b.title.string() == "edited, not saved");
  EXPECT_TRUE(edited);
}

TEST_F(SynchronizerTest, OwnFileIsNotMergedButStillSent) {
  save();
  ASSERT_TRUE(syncsettings::noteOwnUpload("UP-LAST"));
  onLoad = deliver(
      "<?xml version=\"1.0\"?><kesto-sync-file><kesto-id upload=\"UP-LAST\">kesto-LOCAL</kesto-id><bookmarks><bookmark><id>GHOST</id>"
      "<version>9</version><url>http://g/</url><title>g</title><folders><folder-id>F1</folder-id></folders></bookmark>"
      "</bookmarks></kesto-sync-file>");
  ASSERT_TRUE(runSync());
  EXPECT_FALSE(find("GHOST"));
  EXPECT_EQ(log->sent.size(), 1u);
}

// A sync file with one bookmark, as a library with identifier `id` writes it (with the mark of
// its upload when `mark` is not empty).
std::string fileOf(const std::string& id, const std::string& mark, const std::string& bookmarkID) {
  return "<?xml version=\"1.0\"?><kesto-sync-file><kesto-id" + (mark.empty() ? "" : " upload=\"" + mark + "\"") + ">" +
         id + "</kesto-id><bookmarks><bookmark><id>" + bookmarkID + "</id><version>1</version><url>http://" + bookmarkID +
         ".example/</url><title>t</title><folders><folder-id>F1</folder-id></folders></bookmark></bookmarks>"
         "</kesto-sync-file>";
}

// A file carrying this library's identifier is its own last upload only with the mark of one of
// its uploads (a confirmed one or not): one a copy of the library wrote (the identifier, another
// mark) or an older program (no mark) is merged, and this library takes an identifier of its
// own, which the next files carry.
TEST_F(SynchronizerTest, AFileWithThisLibrarysIdentifierIsItsOwnOnlyWithTheMarkOfAnUploadOfIt) {
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  onLoad = deliver(kEmptyLibraryMarker);
  onSend = [](Synchronizer& s, const std::string&) { s.sentSyncData(false, "the folder went away"); };
  EXPECT_FALSE(runSync());
  onSend = confirm;
  ASSERT_EQ(log->sent.size(), 1u);
  auto unconfirmed = SyncFile::read(log->sent.back(), true);
  ASSERT_TRUE(unconfirmed && unconfirmed->uploadID);
  EXPECT_EQ(unconfirmed->kestoID, "kesto-LOCAL");
  onLoad = deliver(fileOf("kesto-LOCAL", *unconfirmed->uploadID, "GHOST"));
  ASSERT_TRUE(runSync());
  EXPECT_FALSE(find("GHOST"));
  auto own = SyncFile::read(log->sent.back(), true);
  ASSERT_TRUE(own && own->uploadID);
  EXPECT_NE(own->uploadID, unconfirmed->uploadID);
  onLoad = deliver(fileOf("kesto-LOCAL", *own->uploadID, "GHOST"));
  ASSERT_TRUE(runSync());
  EXPECT_FALSE(find("GHOST"));
  EXPECT_EQ(syncsettings::libraryIdentifier(), "kesto-LOCAL");

  // The copy's upload: merged, and this library takes a new identifier, in its store and setting.
  onLoad = deliver(fileOf("kesto-LOCAL", "MARK-OF-THE-COPY", "THEIRS"));
  ASSERT_TRUE(runSync());
  EXPECT_TRUE(find("THEIRS"));
  auto renewed = SyncFile::read(log->sent.back(), true);
  ASSERT_TRUE(renewed && renewed->kestoID);
  const std::string identifier = *renewed->kestoID;
  EXPECT_NE(identifier, "kesto-LOCAL");
  EXPECT_EQ(identifier.rfind("kesto-", 0), 0u);
  EXPECT_EQ(syncsettings::libraryIdentifier(), identifier);
  EXPECT_EQ(syncsettings::stringDefault(Synchronizer::kKestoIDKey), identifier);
  // Its marks under the old identifier are forgotten with it.
  EXPECT_EQ(syncsettings::ownUploads(), std::vector<std::string>{*renewed->uploadID});

  // From now on the copy's files are another library's (no new identifier again) and its own
  // file under the new identifier is its own.
  onLoad = deliver(fileOf("kesto-LOCAL", "MARK-OF-THE-COPY-2", "THEIRS-2"));
  ASSERT_TRUE(runSync());
  EXPECT_TRUE(find("THEIRS-2"));
  EXPECT_EQ(syncsettings::libraryIdentifier(), identifier);
  onLoad = deliver(fileOf(identifier, *SyncFile::read(log->sent.back(), true)->uploadID, "GHOST"));
  ASSERT_TRUE(runSync());
  EXPECT_FALSE(find("GHOST"));
  EXPECT_EQ(syncsettings::libraryIdentifier(), identifier);

  // A file of an older program under this identifier, without a mark: merged, a new identifier.
  onLoad = deliver(fileOf(identifier, "", "OLDER"));
  ASSERT_TRUE(runSync());
  EXPECT_TRUE(find("OLDER"));
  EXPECT_NE(syncsettings::libraryIdentifier(), identifier);
  EXPECT_FALSE(engine->isRunning());
}

// Only the latest uploads are remembered, oldest first out.
TEST_F(SynchronizerTest, TheMarksOfTheLatestUploadsAreKept) {
  save();
  for (std::size_t i = 0; i < syncsettings::kOwnUploadsKept + 2; ++i)
    ASSERT_TRUE(syncsettings::noteOwnUpload("U" + std::to_string(i)));
  const auto marks = syncsettings::ownUploads();
  ASSERT_EQ(marks.size(), syncsettings::kOwnUploadsKept);
  EXPECT_EQ(marks.front(), "U2");
  EXPECT_EQ(marks.back(), "U" + std::to_string(syncsettings::kOwnUploadsKept + 1));
  EXPECT_FALSE(syncsettings::noteOwnUpload("with space"));
  SyncDocument own;
  own.kestoID = "kesto-LOCAL";
  own.uploadID = "U5";
  EXPECT_TRUE(Synchronizer::isOwnFile(own, "kesto-LOCAL", marks));
  EXPECT_FALSE(Synchronizer::isOwnFile(own, "kesto-OTHER", marks));
  EXPECT_FALSE(Synchronizer::isOwnFile(own, "", marks));
  own.uploadID = "U0";
  EXPECT_FALSE(Synchronizer::isOwnFile(own, "kesto-LOCAL", marks));
}

TEST_F(SynchronizerTest, UnreadableDownloadEndsTheRunWithoutSending) {
  SyncTombstones::record("B-OLD", 1, "b");
  for (std::string bad : {std::string("<kesto-sync-file><bookmarks>"), std::string("<html><body>503</body></html>"),
                          std::string()}) {
    onLoad = deliver(bad);
    EXPECT_FALSE(runSync()) << bad;
  }
  EXPECT_TRUE(log->sent.empty());
  EXPECT_TRUE(alerts->sawTitle("Sync failed"));
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
}

TEST_F(SynchronizerTest, TransportAbortEndsTheRunWithAMessage) {
  onLoad = [](Synchronizer& s) { s.abortSyncWithError(""); };
  EXPECT_FALSE(runSync());
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().title, "Connection error");
  EXPECT_EQ(alerts->shown.back().message, "Could not connect to the server");
  // A late delivery after the end changes nothing and sends nothing.
  engine->retrievedXML(kEmptyLibraryMarker);
  spin(0.2);
  EXPECT_TRUE(log->sent.empty());
}

TEST_F(SynchronizerTest, SilentTransportTimesOut) {
  engine->setTimeouts(0.3, 0.3);
  onLoad = nullptr;  // never answers
  EXPECT_FALSE(runSync());
  onLoad = deliver(kEmptyLibraryMarker);
  onSend = nullptr;  // never confirms the upload
  SyncTombstones::record("B-OLD", 1, "b");
  EXPECT_FALSE(runSync());
  EXPECT_EQ(log->sent.size(), 1u);
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
}

TEST_F(SynchronizerTest, TombstonesLeaveOnlyAfterAConfirmedUploadAndNinetyDays) {
  fixClock(1700000000);
  SyncTombstones::record("B-OLD", 3, "b");
  onLoad = deliver(kEmptyLibraryMarker);
  onSend = [](Synchronizer& s, const std::string&) { s.sentSyncData(false, "disk full"); };
  EXPECT_FALSE(runSync());
  ASSERT_FALSE(log->sent.empty());
  EXPECT_NE(log->sent.back().find("B-OLD"), std::string::npos);
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
  EXPECT_TRUE(alerts->sawTitle("Sync failed"));

  onSend = confirm;
  ASSERT_TRUE(runSync());
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);  // young: still travels

  fixClock(1700000000 + 91.0 * 24 * 3600);
  ASSERT_TRUE(runSync());
  ASSERT_FALSE(log->sent.empty());
  EXPECT_NE(log->sent.back().find("B-OLD"), std::string::npos);
  EXPECT_TRUE(SyncTombstones::tombstones().empty());
}

TEST_F(SynchronizerTest, RemoteTombstonesArePassedOn) {
  auto f = folder("F1", "One");
  bookmark("B1", "http://a.example/", "A", f, 2);
  save();
  onLoad = deliver(
      "<kesto-sync-file><kesto-id>kesto-PEER</kesto-id><deletions><deleted-object><object-id>B1</object-id>"
      "<object-type>b</object-type><object-version>2</object-version></deleted-object></deletions></kesto-sync-file>");
  ASSERT_TRUE(runSync());
  EXPECT_FALSE(find("B1"));
  ASSERT_FALSE(log->sent.empty());
  EXPECT_NE(log->sent.back().find("<object-id>B1</object-id>"), std::string::npos);
  ASSERT_EQ(SyncTombstones::tombstones().size(), 1u);
}

// A merge the library could not store must not go out: the next run would take the uploaded
// file for its own and never merge the peer's changes again.
TEST_F(SynchronizerTest, AMergeThatCannotBeStoredIsNotSent) {
  auto f = folder("F1", "One");
  bookmark("B1", "http://a.example/", "A", f);
  save();
  SyncTombstones::record("B-OLD", 1, "b");
  ASSERT_NO_FATAL_FAILURE(refuseNewBookmarks());
  onLoad = deliver(
      "<kesto-sync-file><kesto-id>kesto-PEER</kesto-id><bookmarks><bookmark><id>B-NEW</id><version>1</version>"
      "<url>http://new.example/</url><title>new</title><folders><folder-id>F1</folder-id></folders></bookmark>"
      "</bookmarks></kesto-sync-file>");
  EXPECT_FALSE(runSync());
  EXPECT_TRUE(log->sent.empty());
  EXPECT_TRUE(alerts->sawTitle("Sync failed"));
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
}

TEST_F(SynchronizerTest, StartsAreRefusedWhileAnyJobRuns) {
  onLoad = nullptr;
  engine->setTimeouts(5, 5);
  engine->syncFromButton();
  EXPECT_TRUE(engine->isRunning());
  EXPECT_FALSE(Synchronizer::beginExclusiveJob());  // a share or import must wait
  engine->syncFromButton();
  EXPECT_EQ(log->loads, 1);
  engine->retrievedXML(kEmptyLibraryMarker);
  ASSERT_TRUE(runUntil([&] { return !engine->isRunning(); }, 10));
  // An archive import holds the gate: no sync starts.
  ASSERT_TRUE(Synchronizer::beginExclusiveJob());
  engine->syncFromButton();
  EXPECT_EQ(log->loads, 1);
  Synchronizer::endExclusiveJob();
}

TEST_F(SynchronizerTest, DispatchByMethodAndSettings) {
  engine->awakeFromNib();
  onLoad = deliver(kEmptyLibraryMarker);
  std::size_t before = ended.size();
  fnd::NotificationCenter::defaultCenter().postNotificationName(Synchronizer::kStartSyncNotification);
  ASSERT_TRUE(runUntil([&] { return ended.size() > before; }, 10));
  EXPECT_EQ(log->loads, 1);
  engine->setIsBusy(true);  // a transport reports a transfer: notification starts are ignored
  fnd::NotificationCenter::defaultCenter().postNotificationName(Synchronizer::kStartSyncNotification);
  EXPECT_EQ(log->loads, 1);
  engine->setIsBusy(false);

  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString("", Synchronizer::kCurrentSyncMethodKey);
  engine->syncFromButton();
  EXPECT_EQ(host->wizards, 1);
  defaults.setString("skyfolder", Synchronizer::kCurrentSyncMethodKey);
  engine->registerSource("skyfolder", "[Skyfolder]", [] { return std::unique_ptr<SyncDataSource>(); });
  defaults.setBool(false, "syncUsingSkyfolder");
  engine->syncFromButton();
  EXPECT_EQ(host->wizards, 2);
  fnd::NotificationCenter::defaultCenter().postNotificationName(Synchronizer::kStartSyncNotification);
  EXPECT_EQ(host->wizards, 2);  // a notification start ends silently
  defaults.setString("nonsense", Synchronizer::kCurrentSyncMethodKey);
  engine->sync();
  ASSERT_FALSE(host->canQuit.empty());
  EXPECT_TRUE(host->canQuit.back());
  EXPECT_FALSE(engine->isRunning());
  EXPECT_EQ(host->wizards, 2);
  engine->syncFromButton();
  EXPECT_EQ(host->wizards, 3);  // the button with a method this program does not know: the wizard
}

TEST_F(SynchronizerTest, AQuitWaitsForTheRun) {
  onLoad = deliver(kEmptyLibraryMarker);
  onSend = nullptr;
  engine->syncFromButton();
  ASSERT_TRUE(runUntil([&] { return !log->sent.empty(); }, 10));
  EXPECT_FALSE(engine->requestQuit());
  EXPECT_EQ(host->terminations, 0);
  engine->sentSyncData(true);
  EXPECT_EQ(host->terminations, 1);
  ASSERT_FALSE(host->canQuit.empty());
  EXPECT_TRUE(host->canQuit.back());
  EXPECT_TRUE(engine->requestQuit());
}

TEST_F(SynchronizerTest, AQuitIsGrantedWhenTheRunEndsAndTheMissingTransportIsReported) {
  host->mustQuit = true;
  onLoad = [](Synchronizer& s) { s.abortSyncWithError("offline"); };
  EXPECT_FALSE(runSync());
  EXPECT_EQ(host->terminations, 1);
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message, "offline");
  host->mustQuit = false;
  engine->registerSource("fake", "[Fake]", [] { return std::unique_ptr<SyncDataSource>(); });
  EXPECT_FALSE(runSync());
  EXPECT_FALSE(engine->isRunning());
  EXPECT_TRUE(alerts->sawTitle("Sync failed"));
}

// Several libraries, one after the other in this process, each with its own store, identifier
// and tombstones, syncing through one synced folder. Every test starts from fresh stores.
class SyncedFolderLibrariesTest : public SynchronizerTest {
 protected:
  void SetUp() override {
    SynchronizerTest::SetUp();
    shared = makeTempDir("shared");
    auto& defaults = fnd::UserDefaults::standard();
    defaults.setString(shared, sys::SyncedFolder::kDefaultsKey);
    defaults.setString(ICloudDataSource::kMethod, Synchronizer::kCurrentSyncMethodKey);
  }
  void TearDown() override {
    SynchronizerTest::TearDown();
    libraries.close();
  }
  void use(const std::string& library) {
    main = libraries.use(library);
    ASSERT_TRUE(main);
  }
  std::vector<std::string> titles() {
    std::vector<std::string> out;
    for (const auto& b : Bookmark::fetchEntities().value_or(Bookmark::List{}))
      if (b->trashed() == 0) out.push_back(b->title().value_or(""));
    std::sort(out.begin(), out.end());
    return out;
  }
  // A local deletion as the library records it.
  void deleteLocally(const std::string& id) {
    auto b = find(id);
    ASSERT_TRUE(b);
    SyncTombstones::record(id, b->version(), "b");
    b->deleteBookmark();
    save();
  }


  void edit(const std::string& id, const std::string& title) {
    auto b = find(id);
    ASSERT_TRUE(b);
    b->setTitle(title);
    b->setVersion(b->version() + 1);
    b->setUpdatedDate(fnd::Date::now());
    save();
  }

  // Library A with two bookmarks in one folder, synced once.
  void seedLibraryA() {
  use("A");
  auto f = folder("F1", "Shared");
  bookmark("B1", "http://one.example/", "one", f);
  bookmark("B2", "http://two.example/", "two", f);
  save();
  ASSERT_TRUE(runSync());
  }

  std::string shared;
  SyncLibraries libraries;
};

TEST_F(SyncedFolderLibrariesTest, TwoLibrariesConvergeAndADeletionStaysDeleted) {
  ASSERT_NO_FATAL_FAILURE(seedLibraryA());
  const auto payload = shared + "/Documents/kesto_sync.zip";
  EXPECT_EQ(runProgram({"unzip", "-t", payload}).status, 0);

  use("B");
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), (std::vector<std::string>{"one", "two"}));
  edit("B1", "one by B");
  ASSERT_TRUE(runSync());

  use("A");
  deleteLocally("B2");
  bookmark("B3", "http://three.example/", "three", Folder::existingFolderWithFolderID("F1"));
  save();
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), (std::vector<std::string>{"one by B", "three"}));

  use("B");
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), (std::vector<std::string>{"one by B", "three"}));
  ASSERT_TRUE(runSync());
  use("A");
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), (std::vector<std::string>{"one by B", "three"}));
  // Only the payload is left in the folder: no temporary files.
  auto listing = fnd::FileManager::contentsOfDirectory(shared + "/Documents");
  ASSERT_TRUE(listing);
  EXPECT_EQ(*listing, std::vector<std::string>{"kesto_sync.zip"});
}

TEST_F(SyncedFolderLibrariesTest, ALibraryThatMissedAGenerationDoesNotResurrect) {
  ASSERT_NO_FATAL_FAILURE(seedLibraryA());
  use("C");
  ASSERT_TRUE(runSync());  // C has both, then goes away for a while
  use("B");
  ASSERT_TRUE(runSync());
  use("A");
  deleteLocally("B2");
  ASSERT_TRUE(runSync());  // the tombstone goes out...
  use("B");
  ASSERT_TRUE(runSync());  // ...B applies it and uploads over A's file, passing it on
  use("C");
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), std::vector<std::string>{"one"});
  use("A");
  ASSERT_TRUE(runSync());
  EXPECT_EQ(titles(), std::vector<std::string>{"one"});
}

// A trashes B1 as the list does (a new version, the updated date kept) while B deletes B2 for
// good; both sync at once and B's upload, made from the file A had not yet replaced, lands last.
// B's unchanged copy of B1 must not undo A's trashing, and B2 stays deleted everywhere.
TEST_F(SyncedFolderLibrariesTest, AnEditOutlivesAnUploadThatOverwroteItUnseen) {
  ASSERT_NO_FATAL_FAILURE(seedLibraryA());
  use("B");
  ASSERT_TRUE(runSync());
  const auto payload = shared + "/Documents/kesto_sync.zip";
  const auto seenByBoth = readFile(payload);

  use("A");
  auto b1 = find("B1");
  ASSERT_TRUE(b1);
  b1->setTrashed(1);
  b1->setVersion(b1->version() + 1);
  save();
  ASSERT_TRUE(runSync());
  use("B");
  deleteLocally("B2");
  // B loaded its own last file before A's upload replaced it: nothing merged, its library sent.
  writeFile(payload, seenByBoth);
  ASSERT_TRUE(runSync());

  for (int pass = 0; pass < 2; ++pass)
    for (const char* library : {"A", "B"}) {
      use(library);
      ASSERT_TRUE(runSync());
      auto kept = find("B1");
      ASSERT_TRUE(kept) << library;
      EXPECT_EQ(kept->trashed(), 1) << library;
      EXPECT_EQ(kept->version(), 2) << library;
      EXPECT_FALSE(find("B2")) << library;
    }
}

// B tags a bookmark "red" and C tags it "blue" within one second, both at version 2: after
// everyone has synced twice, all three libraries hold the same tag.
TEST_F(SyncedFolderLibrariesTest, TwoEditsInOneSecondEndTheSameEverywhere) {
  fixClock(1700000000);
  ASSERT_NO_FATAL_FAILURE(seedLibraryA());
  for (const char* library : {"B", "C"}) {
    use(library);
    ASSERT_TRUE(runSync());
  }
  auto tag = [&](const char* library, const char* name, double at) {
    use(library);
    fixClock(at);
    auto b = find("B1");
    ASSERT_TRUE(b);
    auto t = Tag::initEntity();
    t->setName(name);
    b->addTag(t);
    b->setVersion(b->version() + 1);
    b->setUpdatedDate(fnd::Date::now());
    save();
  };
  ASSERT_NO_FATAL_FAILURE(tag("B", "red", 1700000100.2));
  ASSERT_NO_FATAL_FAILURE(tag("C", "blue", 1700000100.8));
  std::map<std::string, std::string> tags;
  for (int pass = 0; pass < 2; ++pass)
    for (const char* library : {"B", "C", "A"}) {
      use(library);
      ASSERT_TRUE(runSync());
      tags[library] = find("B1")->tagsAsString();
    }
  EXPECT_EQ(tags["A"], tags["B"]);
  EXPECT_EQ(tags["A"], tags["C"]);
  EXPECT_EQ(find("B1")->version(), 2);
}

// A library folder copied to a second computer, with settings of its own: both sides add a
// bookmark and sync twice each, in turn, and both end with every bookmark; no upload overwrites
// the other side's unmerged.
TEST_F(SyncedFolderLibrariesTest, ACopiedLibraryFolderSyncsWithTheOriginal) {
  ASSERT_NO_FATAL_FAILURE(seedLibraryA());
  libraries.copyFolder("A", "B");
  use("A");
  const std::string identifier = syncsettings::libraryIdentifier();
  use("B");
  ASSERT_EQ(syncsettings::libraryIdentifier(), identifier);
  const auto folderF1 = [] { return Folder::existingFolderWithFolderID("F1"); };
  bookmark("B-BY-B", "http://b.example/", "by B", folderF1());
  save();
  use("A");
  bookmark("B-BY-A", "http://a.example/", "by A", folderF1());
  save();
  const std::vector<std::string> all{"by A", "by B", "one", "two"};
  for (int round = 0; round < 2; ++round)
    for (const char* library : {"A", "B"}) {
      use(library);
      ASSERT_TRUE(runSync()) << library << " round " << round;
    }
  for (const char* library : {"A", "B"}) {
    use(library);
    EXPECT_EQ(titles(), all) << library;
  }
  // One of them took an identifier of its own.
  use("A");
  const std::string a = syncsettings::libraryIdentifier();
  use("B");
  EXPECT_NE(a, syncsettings::libraryIdentifier());
}

TEST_F(SyncedFolderLibrariesTest, EveryFailurePathEndsTheRunAndAnUnreadableFileIsKeptAside) {
  use("A");
  save();
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(shared + "/gone", sys::SyncedFolder::kDefaultsKey);
  EXPECT_FALSE(runSync());
  defaults.removeObject(sys::SyncedFolder::kDefaultsKey);
  EXPECT_FALSE(runSync());
  defaults.setString(shared, sys::SyncedFolder::kDefaultsKey);
  ASSERT_TRUE(fnd::FileManager::createDirectory(shared + "/Documents", true));
  writeFile(shared + "/Documents/kesto_sync.zip", "not a zip");
  // An unreadable file is never lost: kept under a dated name beside the payload, the user told,
  // this library uploaded in its place; the next run reads that.
  EXPECT_TRUE(runSync());
  const std::string kept = keptAsideIn(shared + "/Documents");
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(readFile(shared + "/Documents/" + kept), "not a zip");
  EXPECT_NE(readFile(shared + "/Documents/kesto_sync.zip"), "not a zip");
  EXPECT_FALSE(engine->isBusy());
  EXPECT_FALSE(engine->isRunning());
  ASSERT_EQ(alerts->shown.size(), 3u);
  EXPECT_EQ(alerts->shown.back().title, "Sync file kept aside");
  EXPECT_TRUE(runSync());
  EXPECT_EQ(alerts->shown.size(), 3u);
}


TEST_F(SynchronizerTest, OnlyAMergeThatChangedSomethingRefreshesTheLists) {
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  int refreshes = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&refreshes, [&](const fnd::Notification&) { ++refreshes; },
                                                       BRWUpdateFoldersCompletelyViewNotification);
  // The library's own file as another library would send it: the same records, nothing to change.
  onLoad = deliver(kEmptyLibraryMarker);
  ASSERT_TRUE(runSync());
  ASSERT_FALSE(log->sent.empty());
  std::string same = log->sent.back();
  const auto at = same.find("kesto-LOCAL");
  ASSERT_NE(at, std::string::npos);
  same.replace(at, std::string("kesto-LOCAL").size(), "kesto-PEER");
  refreshes = 0;
  onLoad = deliver(same);
  ASSERT_TRUE(runSync());
  EXPECT_EQ(refreshes, 0);
  // A newer title from the peer changes the library: the lists are refreshed.
  const auto title = same.find("<![CDATA[A]]>");
  ASSERT_NE(title, std::string::npos);
  same.replace(title, std::string("<![CDATA[A]]>").size(), "<![CDATA[A from the peer]]>");
  const auto version = same.find("<version>1</version>");
  ASSERT_NE(version, std::string::npos);
  same.replace(version, std::string("<version>1</version>").size(), "<version>5</version>");
  onLoad = deliver(same);
  ASSERT_TRUE(runSync());
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(find("B1")->title(), "A from the peer");
  fnd::NotificationCenter::defaultCenter().removeObserver(&refreshes);
}

}  // namespace
}  // namespace kesto::test
