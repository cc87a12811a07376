#include "RecordTestSupport.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/ManagedObject.h"

#include <atomic>
#include <thread>

namespace kesto::test::records {
namespace {

using namespace kesto::recordkit;

using RecordSaveTest = RecordStackTest;

ObjectRef insertNote(const ContextRef& context, int id) {
  ObjectRef note;
  context->performAndWait([&] {
    note = RK_createInContext("Note", context);
    note->setValueForKey("noteID", id);
  });
  return note;
}

TEST_F(RecordSaveTest, StackContextsHaveTheirKindsAndNames) {
  ContextRef main = RK_defaultContext();
  ContextRef root = RK_rootSavingContext();
  ASSERT_TRUE(root);
  EXPECT_EQ(main->concurrencyType(), store::ConcurrencyType::MainQueue);
  EXPECT_EQ(root->concurrencyType(), store::ConcurrencyType::PrivateQueue);
  EXPECT_EQ(main->parent(), root);
  EXPECT_EQ(root->mergePolicy(), store::MergePolicy::PropertyObjectTrump);
  EXPECT_EQ(RK_workingName(main), "DEFAULT");
  EXPECT_EQ(RK_workingName(root), "BACKGROUND SAVING (ROOT)");
  EXPECT_EQ(RK_workingName(RK_context()), "UNNAMED");
  EXPECT_EQ(RK_context()->parent(), main);
  EXPECT_EQ(RK_contextWithoutParent()->parent(), nullptr);
  EXPECT_EQ(RK_contextWithStoreCoordinator(nullptr), nullptr);
  EXPECT_EQ(RK_newMainQueueContext()->concurrencyType(), store::ConcurrencyType::MainQueue);

  // A second set-up keeps the stack as it is.
  auto coordinator = RK_defaultStoreCoordinator();
  RecordKit::setupCoreDataStackWithInMemoryStore();
  RecordKit::setupCoreDataStackWithStoreNamed("Other.sqlite");
  EXPECT_EQ(RK_defaultStoreCoordinator(), coordinator);
  EXPECT_EQ(RK_defaultContext(), main);

  std::string chain = RK_parentChain(main);
  EXPECT_EQ(chain.substr(0, 10), "\n- DEFAULT");
  EXPECT_NE(chain.find(" (*)\n- BACKGROUND SAVING (ROOT) ("), std::string::npos);
  EXPECT_NE(RK_description(main).find("): *** DEFAULT ***> on *** MAIN THREAD ***"), std::string::npos);
  std::string stack = RecordKit::currentStack();
  EXPECT_EQ(stack.rfind("Current Default Core Data Stack: ---- \nModel:           {", 0), 0u) << stack;
  EXPECT_NE(stack.find("Default Context: <Context ("), std::string::npos);
  EXPECT_NE(stack.find("Store:           <PersistentStore: InMemory"), std::string::npos);
}

TEST_F(RecordSaveTest, OptionBitsDecideHowFarASaveGoes) {
  ContextRef child = RK_context();
  insertNote(child, 1);
  // Only itself: the changes reach the default context, which stays unsaved.
  RK_saveOnlySelfAndWait(child);
  EXPECT_FALSE(child->hasChanges());
  EXPECT_TRUE(RK_defaultContext()->hasChanges());
  EXPECT_EQ(storedCount("Note"), 0);

  // The default context always continues to the root and the store.
  std::atomic<int> calls{0};
  bool success = false;
  RK_saveOnlySelfWithCompletion(RK_defaultContext(), [&](bool ok, const fnd::Error* error) {
    success = ok && !error;
    ++calls;
  });
  ASSERT_TRUE(runUntil([&] { return calls > 0; }));
  EXPECT_TRUE(success);
  EXPECT_EQ(storedCount("Note"), 1);
  EXPECT_FALSE(RK_rootSavingContext()->hasChanges());

  // Bit 1 carries a child's save all the way.
  ContextRef other = RK_context();
  insertNote(other, 2);
  RK_saveToPersistentStoreAndWait(other);
  EXPECT_EQ(storedCount("Note"), 2);
  spin(0.05);
  EXPECT_EQ(calls, 1);
}

TEST_F(RecordSaveTest, ContextWithoutChangesReportsFailureWithoutAnError) {
  ContextRef clean = RK_context();
  int completions = 0, errorCallbacks = 0, successBlocks = 0;
  bool errorWasNull = false;
  RK_saveWithOptions(clean, 0, [&](bool ok, const fnd::Error* error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, nullptr);
    ++completions;
  });
  RK_saveWithErrorCallback(clean, [&](const fnd::Error* error) {
    errorWasNull = error == nullptr;
    ++errorCallbacks;
  });
  RK_saveInBackgroundCompletion(clean, [&] { ++successBlocks; });
  // Completions come later, on the main queue.
  EXPECT_EQ(completions, 0);
  ASSERT_TRUE(runUntil([&] { return completions == 1 && errorCallbacks == 1; }));
  spin(0.05);
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(errorWasNull);
  EXPECT_EQ(successBlocks, 0);
}

TEST_F(RecordSaveTest, FailedSaveGoesToTheErrorHandlerAndTheCompletion) {
  std::vector<long> handled;
  auto target = std::make_shared<int>(0);
  RecordKit::setErrorHandlerTarget(target, [&](const std::shared_ptr<void>& t, const fnd::Error& e) {
    EXPECT_EQ(t, target);
    handled.push_back(e.code());
  });
  // Nothing reaches the handler for no error.
  RecordKit::handleErrors(nullptr);
  EXPECT_TRUE(handled.empty());

  // A context that has lost its store cannot save.
  ContextRef child = RK_context();
  insertNote(child, 1);
  RK_saveOnlySelfAndWait(child);
  ASSERT_TRUE(RK_defaultStoreCoordinator()->removeStore());
  int failures = 0;
  RK_saveNestedContextsErrorHandler(
      RK_defaultContext(), [&](const fnd::Error* error) { failures += error ? 1 : 100; }, [&] { failures += 1000; });
  ASSERT_TRUE(runUntil([&] { return failures > 0; }));
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(handled.empty());

  RecordKit::cleanUpErrorHanding();
  EXPECT_EQ(RecordKit::errorHandlerTarget(), nullptr);
  EXPECT_FALSE(RecordKit::errorHandlerAction());
}

TEST_F(RecordSaveTest, BlockSavesReachTheStoreAndTheDefaultContext) {
  RecordKit::saveWithBlockAndWait([](const ContextRef& local) {
    EXPECT_EQ(local->parent(), RK_rootSavingContext());
    insertNote(local, 1);
  });
  EXPECT_EQ(storedCount("Note"), 1);
  EXPECT_EQ(RK_findAll("Note").size(), 1u);

  bool done = false;
  RecordKit::saveWithBlock([](const ContextRef& local) { insertNote(local, 2); },
                           [&](bool ok, const fnd::Error*) { done = ok; });
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(storedCount("Note"), 2);
  ASSERT_TRUE(runUntil([&] { return RK_findAll("Note").size() == 2u; }));

  std::atomic<bool> background{false};
  RecordKit::saveInBackgroundWithBlock([](const ContextRef& local) { insertNote(local, 3); },
                                       [&] { background = true; });
  ASSERT_TRUE(runUntil([&] { return background.load(); }));
  EXPECT_EQ(storedCount("Note"), 3);

  RecordKit::saveUsingCurrentThreadContextWithBlockAndWait([](const ContextRef& local) {
    EXPECT_EQ(local, RK_defaultContext());
    insertNote(local, 4);
  });
  EXPECT_EQ(storedCount("Note"), 4);

  bool completed = false;
  RecordKit::saveInBackgroundUsingCurrentContextWithBlock([](const ContextRef& local) { insertNote(local, 5); },
                                                          [&] { completed = true; }, nullptr);
  ASSERT_TRUE(runUntil([&] { return completed; }));
  EXPECT_EQ(storedCount("Note"), 5);
}

TEST_F(RecordSaveTest, EachThreadHasItsOwnContext) {
  EXPECT_EQ(RK_contextForCurrentThread(), RK_defaultContext());
  ContextRef a1, a2, b;
  std::thread([&] {
    a1 = RK_contextForCurrentThread();
    a2 = RK_contextForCurrentThread();
  }).join();
  std::thread([&] { b = RK_contextForCurrentThread(); }).join();
  ASSERT_TRUE(a1);
  EXPECT_EQ(a1, a2);
  EXPECT_NE(a1, b);
  EXPECT_EQ(a1->parent(), RK_defaultContext());
  EXPECT_EQ(a1->concurrencyType(), store::ConcurrencyType::PrivateQueue);
}

TEST_F(RecordSaveTest, PermanentIDsAreObtainedBeforeSaving) {
  ContextRef child = RK_contextWithParent(RK_defaultContext());
  ObjectRef note = insertNote(child, 1);
  EXPECT_TRUE(note->objectID()->isTemporaryID());
  RK_saveOnlySelfAndWait(child);
  EXPECT_FALSE(note->objectID()->isTemporaryID());
  // A plain child does not ask for them.
  ContextRef plain = RK_context();
  ObjectRef other = insertNote(plain, 2);
  RK_saveOnlySelfAndWait(plain);
  EXPECT_TRUE(other->objectID()->isTemporaryID());
}

TEST_F(RecordSaveTest, ObservedSavesAreMergedIntoTheObserver) {
  auto coordinator = RK_defaultStoreCoordinator();
  ContextRef writer = RK_contextWithStoreCoordinator(coordinator);
  ContextRef reader = RK_contextWithStoreCoordinator(coordinator);
  ObjectRef note = insertNote(writer, 1);
  writer->performAndWait([&] { writer->save(); });
  ObjectRef seen;
  reader->performAndWait([&] { seen = reader->existingObjectWithID(note->objectID()); });
  ASSERT_TRUE(seen);
  RK_observeContext(reader, writer);
  writer->performAndWait([&] {
    note->setValueForKey("title", "changed");
    writer->save();
  });
  reader->performAndWait([&] { EXPECT_EQ(seen->valueForKey("title"), fnd::Value("changed")); });
  RK_stopObservingContext(reader, writer);
  writer->performAndWait([&] {
    note->setValueForKey("title", "again");
    writer->save();
  });
  reader->performAndWait([&] { EXPECT_EQ(seen->valueForKey("title"), fnd::Value("changed")); });
}

TEST_F(RecordSaveTest, SavesOnOtherThreadsAreMergedOnTheMainThread) {
  auto coordinator = RK_defaultStoreCoordinator();
  ContextRef writer = RK_contextWithStoreCoordinator(coordinator);
  ObjectRef note = insertNote(writer, 1);
  writer->performAndWait([&] { writer->save(); });
  ContextRef main = RK_newMainQueueContext();
  main->setCoordinator(coordinator);
  ObjectRef seen = main->existingObjectWithID(note->objectID());
  ASSERT_TRUE(seen);
  RK_observeContextOnMainThread(main, writer);
  std::atomic<bool> saved{false};
  std::thread worker([&] {
    writer->performAndWait([&] {
      note->setValueForKey("title", "from a worker");
      writer->save();
    });
    // The merge has happened on the main thread by the time the save returns.
    saved = true;
  });
  ASSERT_TRUE(runUntil([&] { return saved.load(); }));
  worker.join();
  EXPECT_EQ(seen->valueForKey("title"), fnd::Value("from a worker"));
}

TEST_F(RecordSaveTest, CloudChangeImportsAreMergedAndAnnouncedWhenEnabled) {
  auto coordinator = RK_defaultStoreCoordinator();
  ContextRef context = RK_context();
  RK_observeiCloudChangesInCoordinator(context, coordinator);  // disabled: not observed
  RecordKit::setICloudEnabled(true);
  ContextRef observer = RK_context();
  RK_observeiCloudChangesInCoordinator(observer, coordinator);
  std::vector<const void*> merged;
  fnd::Dictionary info;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &merged,
      [&](const fnd::Notification& n) {
        merged.push_back(n.object);
        info = n.userInfo;
      },
      kRecordKitDidMergeChangesFromiCloudNotification);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kDidImportUbiquitousContentChangesNotification,
                                                                coordinator.get(), {{"marker", 1}});
  ASSERT_TRUE(runUntil([&] { return !merged.empty(); }));
  spin(0.05);
  EXPECT_EQ(merged, std::vector<const void*>{observer.get()});
  EXPECT_EQ(info["marker"], fnd::Value(1));
  RK_stopObservingiCloudChangesInCoordinator(observer, coordinator);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kDidImportUbiquitousContentChangesNotification,
                                                                coordinator.get());
  spin(0.05);
  EXPECT_EQ(merged.size(), 1u);
  fnd::NotificationCenter::defaultCenter().removeObserver(&merged);
}

TEST_F(RecordSaveTest, CleanUpReleasesTheStackAndANewSetUpStartsAfresh) {
  auto coordinator = RK_defaultStoreCoordinator();
  RecordKit::cleanUp();
  EXPECT_EQ(RK_defaultContext(), nullptr);
  EXPECT_EQ(RK_rootSavingContext(), nullptr);
  EXPECT_EQ(RK_defaultPersistentStore(), nullptr);
  RecordKit::setShouldAutoCreateManagedObjectModel(false);
  EXPECT_EQ(RK_defaultManagedObjectModel(), nullptr);
  RK_setDefaultManagedObjectModel(makeNotesModel());
  RecordKit::setupCoreDataStackWithInMemoryStore();
  EXPECT_NE(RK_defaultStoreCoordinator(), coordinator);
  ASSERT_TRUE(RK_defaultContext());
  EXPECT_EQ(storedCount("Note"), 0);
}

}  // namespace
}  // namespace kesto::test::records
