#include "Model/Unused/Records/RecordKit.h"

#include "Model/Unused/Records/RecordContext.h"
#include "Model/Unused/Records/RecordKitState.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"

#include <map>

namespace kesto {

using namespace recordkit;

namespace recordkit::detail {

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: contexts may outlive static teardown
  return *r;
}

const void* contextClassObserver() {
  static const char tag = 0;
  return &tag;
}

}  // namespace recordkit::detail

namespace {


// The set-up shared by the SQLite, auto-migrating and in-memory forms.
template <typename Make>
void setupWith(Make make) {
  if (RK_defaultStoreCoordinator()) return;
  CoordinatorRef coordinator = make();
  RK_setDefaultStoreCoordinator(coordinator);
  RK_initializeDefaultContextWithCoordinator(coordinator);
}

}  // namespace

void RecordKit::setupCoreDataStack() { setupCoreDataStackWithStoreNamed(defaultStoreName()); }

void RecordKit::setupAutoMigratingCoreDataStack() {
  setupCoreDataStackWithAutoMigratingSqliteStoreNamed(defaultStoreName());
}

void RecordKit::setupCoreDataStackWithStoreNamed(const std::string& storeName) {
  setupWith([&] { return RK_coordinatorWithSqliteStoreNamed(storeName); });
}

void RecordKit::setupCoreDataStackWithAutoMigratingSqliteStoreNamed(const std::string& storeName) {
  setupWith([&] { return RK_coordinatorWithAutoMigratingSqliteStoreNamed(storeName); });
}

void RecordKit::setupCoreDataStackWithInMemoryStore() {
  setupWith([] { return RK_coordinatorWithInMemoryStore(); });
}

void RecordKit::setupCoreDataStackWithiCloudContainer(const std::string& containerID,
                                                      const std::string& localStoreName) {
  // The application's identity stands in for the bundle identifier as the content name.
  setupCoreDataStackWithiCloudContainer(containerID, fnd::StandardPaths::applicationName(), localStoreName, {});
}

void RecordKit::setupCoreDataStackWithiCloudContainer(const std::string& containerID,
                                                      const std::string& contentNameKey,
                                                      const std::string& localStoreName,
                                                      const std::string& cloudStorePathComponent,
                                                      std::function<void()> completion) {
  CoordinatorRef coordinator = RK_coordinatorWithiCloudContainerID(containerID, contentNameKey, localStoreName,
                                                                   cloudStorePathComponent, std::move(completion));
  RK_setDefaultStoreCoordinator(coordinator);
  RK_initializeDefaultContextWithCoordinator(coordinator);
}

std::string RecordKit::storeNameForBundleName(const std::string& bundleName) {
  std::string name = bundleName.empty() ? std::string(kRecordKitFallbackStoreName) : bundleName;
  const std::string suffix = "sqlite";
  if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    return name;
  return name + "." + suffix;
}

std::string RecordKit::defaultStoreName() {
  return storeNameForBundleName(fnd::StandardPaths::applicationName());
}

void RecordKit::setDefaultModelNamed(const std::string& modelName) {
  RK_setDefaultManagedObjectModel(RK_managedObjectModelNamed(modelName));
}

void RecordKit::setDefaultModelFromClass(const std::string& className) {
  std::vector<std::shared_ptr<const store::Model>> holding;
  for (const auto& m : store::Model::allNamedModels()) {
    if (!m) continue;
    for (const auto& e : m->entities())
      if (e->className() == className) {
        holding.push_back(m);
        break;
      }
  }
  if (holding.empty()) {
    RK_setDefaultManagedObjectModel(nullptr);
    return;
  }
  if (holding.size() == 1) {
    RK_setDefaultManagedObjectModel(holding.front());
    return;
  }
  auto merged = store::Model::merged(holding);
  fnd::Error error;
  if (!merged->finish(&error)) {
    handleErrors(&error);
    RK_setDefaultManagedObjectModel(nullptr);
    return;
  }
  RK_setDefaultManagedObjectModel(merged);
}

void RecordKit::cleanUp() {
  cleanUpErrorHanding();
  cleanUpStack();
}

void RecordKit::cleanUpErrorHanding() {
  std::lock_guard lock(detail::registry().mutex);
  detail::registry().errorTarget.reset();
  detail::registry().errorAction = nullptr;
}

void RecordKit::cleanUpStack() {
  RK_cleanUp();
  RK_setDefaultManagedObjectModel(nullptr);
  std::lock_guard lock(detail::registry().mutex);
  // Straight to the fields: the setters would auto-create or fill the store again.
  detail::registry().coordinator.reset();
  detail::registry().store.reset();
}

std::string RecordKit::currentStack() {
  ModelRef model;
  CoordinatorRef coordinator;
  {
    std::lock_guard lock(detail::registry().mutex);
    model = detail::registry().model;
    coordinator = detail::registry().coordinator;
  }
  fnd::Dictionary hashes;
  if (model)
    for (const auto& [name, hash] : model->entityVersionHashesByName()) hashes[name] = hash;
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(coordinator.get()));
  std::string coordinatorText = coordinator ? "<Coordinator: " + std::string(address) + ">" : "(null)";
  PersistentStoreRef store = RK_defaultPersistentStore();
  ContextRef context = RK_defaultContext();
  std::string text = "Current Default Core Data Stack: ---- \n";
  text += "Model:           " + (model ? fnd::Value(hashes).description() : std::string("(null)")) + "\n";
  text += "Coordinator:     " + coordinatorText + "\n";
  text += "Store:           " + (store ? store->description() : std::string("(null)")) + "\n";
  text += "Default Context: " + RK_description(context) + "\n";
  text += "Context Chain:   \n" + RK_parentChain(context) + "\n";
  return text;
}

bool RecordKit::isICloudEnabled() { return detail::readLocked(&detail::Registry::iCloudEnabled); }
void RecordKit::setICloudEnabled(bool enabled) { detail::writeLocked(&detail::Registry::iCloudEnabled, enabled); }
bool RecordKit::shouldAutoCreateManagedObjectModel() { return detail::readLocked(&detail::Registry::autoCreateModel); }
void RecordKit::setShouldAutoCreateManagedObjectModel(bool value) {
  detail::writeLocked(&detail::Registry::autoCreateModel, value);
}
bool RecordKit::shouldAutoCreateDefaultPersistentStoreCoordinator() {
  return detail::readLocked(&detail::Registry::autoCreateCoordinator);
}
void RecordKit::setShouldAutoCreateDefaultPersistentStoreCoordinator(bool value) {
  detail::writeLocked(&detail::Registry::autoCreateCoordinator, value);
}
bool RecordKit::shouldDeleteStoreOnModelMismatch() {
  return detail::readLocked(&detail::Registry::deleteStoreOnModelMismatch);
}
void RecordKit::setShouldDeleteStoreOnModelMismatch(bool value) {
  detail::writeLocked(&detail::Registry::deleteStoreOnModelMismatch, value);
}

void RecordKit::handleErrors(const fnd::Error* error) {
  if (!error) return;
  std::shared_ptr<void> target;
  RecordErrorAction action;
  {
    std::lock_guard lock(detail::registry().mutex);
    target = detail::registry().errorTarget;
    action = detail::registry().errorAction;
  }
  if (target && action)
    action(target, *error);
  else
    defaultErrorHandler(*error);
}

void RecordKit::defaultErrorHandler(const fnd::Error& error) {
  // Looks through the details and leaves no trace: the layer reports only to a registered
  // handler.
  std::size_t seen = 0;
  for (const auto& [key, value] : error.userInfo()) {
    ++seen;
    if (value.isArray()) seen += value.array().size();
  }
  (void)seen;
}

std::shared_ptr<void> RecordKit::errorHandlerTarget() { return detail::readLocked(&detail::Registry::errorTarget); }

RecordErrorAction RecordKit::errorHandlerAction() { return detail::readLocked(&detail::Registry::errorAction); }

void RecordKit::setErrorHandlerTarget(std::shared_ptr<void> target, RecordErrorAction action) {
  std::lock_guard lock(detail::registry().mutex);
  detail::registry().errorTarget = std::move(target);
  detail::registry().errorAction = std::move(action);
}

// --- Saves with a block ----------------------------------------------------------------------

void RecordKit::saveWithBlock(RecordBlock block) { saveWithBlock(std::move(block), nullptr); }

void RecordKit::saveWithBlock(RecordBlock block, RecordSaveCompletion completion) {
  ContextRef local = RK_contextWithParent(RK_rootSavingContext());
  local->perform([local, block = std::move(block), completion = std::move(completion)] {
    if (block) block(local);
    RK_saveWithOptions(local, RecordSaveParentContexts, completion);
  });
}

void RecordKit::saveWithBlockAndWait(RecordBlock block) {
  ContextRef local = RK_contextWithParent(RK_rootSavingContext());
  local->performAndWait([&] {
    if (block) block(local);
    RK_saveWithOptions(local, RecordSaveParentContexts | RecordSaveSynchronously);
  });
}

void RecordKit::saveUsingCurrentThreadContextWithBlock(RecordBlock block, RecordSaveCompletion completion) {
  ContextRef local = RK_contextForCurrentThread();
  if (!local) return;
  local->perform([local, block = std::move(block), completion = std::move(completion)] {
    if (block) block(local);
    RK_saveWithOptions(local, RecordSaveParentContexts, completion);
  });
}

void RecordKit::saveUsingCurrentThreadContextWithBlockAndWait(RecordBlock block) {
  ContextRef local = RK_contextForCurrentThread();
  if (!local) return;
  local->performAndWait([&] {
    if (block) block(local);
    RK_saveWithOptions(local, RecordSaveParentContexts | RecordSaveSynchronously);
  });
}

void RecordKit::saveInBackgroundWithBlock(RecordBlock block) { saveWithBlock(std::move(block), nullptr); }

void RecordKit::saveInBackgroundWithBlock(RecordBlock block, std::function<void()> completion) {
  ContextRef local = RK_contextWithParent(RK_defaultContext());
  local->perform([local, block = std::move(block), completion = std::move(completion)] {
    if (block) block(local);
    RK_saveToPersistentStoreAndWait(local);
    if (completion) completion();
  });
}

void RecordKit::saveInBackgroundUsingCurrentContextWithBlock(RecordBlock block, std::function<void()> completion,
                                                             RecordErrorHandler errorHandler) {
  ContextRef local = RK_contextForCurrentThread();
  if (!local) return;
  local->perform([local, block = std::move(block), completion = std::move(completion),
                  errorHandler = std::move(errorHandler)] {
    if (block) block(local);
    RK_saveToPersistentStoreWithCompletion(local, [completion, errorHandler](bool ok, const fnd::Error* error) {
      if (ok) {
        if (completion) completion();
      } else if (errorHandler) {
        errorHandler(error);
      }
    });
  });
}

}  // namespace kesto
