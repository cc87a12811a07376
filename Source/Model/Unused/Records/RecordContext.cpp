#include "Model/Unused/Records/RecordContext.h"

#include "Model/Unused/Records/RecordKitState.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/SaveNotification.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace kesto::recordkit {

namespace {

fnd::NotificationCenter& center() { return fnd::NotificationCenter::defaultCenter(); }

// The context a notification names as its sender, kept alive for the handler.
ContextRef contextOf(const fnd::Notification& n) {
  auto* c = n.objectAs<store::Context>();
  if (!c) return nullptr;
  return c->shared_from_this();
}

std::vector<store::ObjectIDRef> idsOf(const fnd::Value& list) {
  std::vector<store::ObjectIDRef> ids;
  for (const auto& v : list.array())
    if (auto id = v.objectAs<const store::ObjectID>()) ids.push_back(id);
  return ids;
}

// Per-thread contexts, as a thread's dictionary would hold them.
thread_local ContextRef threadContext;

void completeOnMain(const RecordSaveCompletion& completion, bool ok, std::optional<fnd::Error> error) {
  if (!completion) return;
  fnd::DispatchQueue::main().async(
      [completion, ok, error = std::move(error)] { completion(ok, error ? &*error : nullptr); });
}

// Registrations made for contexts. The notification centre knows observers and senders only by
// address, so registrations of a context that has gone are removed before new ones are made:
// otherwise they would pile up, and a new context at the same address would inherit them.
struct Observation {
  const void* observer;
  std::weak_ptr<void> observerRef;  // empty for the context class itself
  bool trackObserver;
  fnd::NotificationName name;
  const void* sender;  // null: any sender
  std::weak_ptr<void> senderRef;
};

std::mutex ledgerMutex;
std::vector<Observation>& ledger() {
  static auto* list = new std::vector<Observation>;
  return *list;
}

void sweepLedger() {
  auto& list = ledger();
  for (auto it = list.begin(); it != list.end();) {
    if ((it->trackObserver && it->observerRef.expired()) || (it->sender && it->senderRef.expired())) {
      center().removeObserver(it->observer, it->name, it->sender);
      it = list.erase(it);
    } else {
      ++it;
    }
  }
}

void observe(const void* observer, std::weak_ptr<void> observerRef, fnd::NotificationCenter::Handler handler,
             fnd::NotificationName name, const std::shared_ptr<void>& sender) {
  std::lock_guard lock(ledgerMutex);
  sweepLedger();
  bool track = !observerRef.expired();
  ledger().push_back({observer, std::move(observerRef), track, name, sender.get(), sender});
  center().addObserver(observer, std::move(handler), name, sender.get());
}

void forget(const void* observer, fnd::NotificationName name, const void* sender) {
  std::lock_guard lock(ledgerMutex);
  auto& list = ledger();
  std::erase_if(list, [&](const Observation& o) { return o.observer == observer && o.name == name && o.sender == sender; });
  center().removeObserver(observer, name, sender);
}

}  // namespace

store::SaveNotification saveNotificationFrom(const fnd::Notification& n) {
  store::SaveNotification s;
  s.context = n.objectAs<store::Context>();
  auto get = [&](const char* key) {
    auto it = n.userInfo.find(key);
    return it == n.userInfo.end() ? std::vector<store::ObjectIDRef>{} : idsOf(it->second);
  };
  s.insertedIDs = get(store::kInsertedObjectsKey);
  s.updatedIDs = get(store::kUpdatedObjectsKey);
  s.deletedIDs = get(store::kDeletedObjectsKey);
  return s;
}

// --- Default and root saving contexts ---------------------------------------------------------

ContextRef RK_defaultContext() { return detail::readLocked(&detail::Registry::defaultContext); }

ContextRef RK_rootSavingContext() { return detail::readLocked(&detail::Registry::rootSavingContext); }

void RK_setRootSavingContext(const ContextRef& context) {
  ContextRef old;
  {
    std::lock_guard lock(detail::registry().mutex);
    old = detail::registry().rootSavingContext;
    detail::registry().rootSavingContext = context;
  }
  if (old) {
    center().removeObserver(old.get());
    forget(detail::contextClassObserver(), store::kContextDidSaveNotification, old.get());
  }
  if (!context) return;
  RK_obtainPermanentIDsBeforeSaving(context);
  context->setMergePolicy(store::MergePolicy::PropertyObjectTrump);
  RK_setWorkingName(context, "BACKGROUND SAVING (ROOT)");
}

void RK_setDefaultContext(const ContextRef& context) {
  ContextRef old = RK_defaultContext();
  if (old) center().removeObserver(old.get());
  CoordinatorRef coordinator;
  fnd::ObserverToken setupObserver;
  {
    std::lock_guard lock(detail::registry().mutex);
    // Read as it stands: replacing a context must never create a coordinator and its file.
    coordinator = detail::registry().coordinator;
    setupObserver = detail::registry().iCloudSetupObserver;
    detail::registry().iCloudSetupObserver = {};
  }
  if (setupObserver) center().removeObserver(setupObserver);
  if (RecordKit::isICloudEnabled() && old) RK_stopObservingiCloudChangesInCoordinator(old, coordinator);
  ContextRef root;
  {
    std::lock_guard lock(detail::registry().mutex);
    detail::registry().defaultContext = context;
    root = detail::registry().rootSavingContext;
  }
  if (!context) return;
  RK_setWorkingName(context, "DEFAULT");
  if (root) {
    forget(detail::contextClassObserver(), store::kContextDidSaveNotification, root.get());
    observe(detail::contextClassObserver(), {}, rootContextChanged, store::kContextDidSaveNotification, root);
  }
  RK_obtainPermanentIDsBeforeSaving(context);
  if (RecordKit::isICloudEnabled()) {
    RK_observeiCloudChangesInCoordinator(context, coordinator);
  } else {
    std::weak_ptr<store::Coordinator> weakCoordinator = coordinator;
    auto token = center().addObserverForName(
        kRecordKitPSCDidCompleteiCloudSetupNotification, nullptr, &fnd::DispatchQueue::main(),
        [weakCoordinator](const fnd::Notification&) {
          if (ContextRef current = RK_defaultContext())
            RK_observeiCloudChangesInCoordinator(current, weakCoordinator.lock());
        });
    std::lock_guard lock(detail::registry().mutex);
    detail::registry().iCloudSetupObserver = token;
  }
}

void RK_initializeDefaultContextWithCoordinator(const CoordinatorRef& coordinator) {
  if (RK_defaultContext()) return;
  ContextRef root = RK_contextWithStoreCoordinator(coordinator);
  RK_setRootSavingContext(root);
  ContextRef main = RK_newMainQueueContext();
  RK_setDefaultContext(main);
  main->setParent(root);
}

void RK_resetDefaultContext() {
  fnd::DispatchQueue::main().async([] {
    if (ContextRef c = RK_defaultContext()) c->reset();
  });
}

void RK_cleanUp() {
  RK_setDefaultContext(nullptr);
  RK_setRootSavingContext(nullptr);
}

void rootContextChanged(const fnd::Notification& notification) {
  auto save = std::make_shared<store::SaveNotification>(saveNotificationFrom(notification));
  auto merge = [save] {
    if (ContextRef c = RK_defaultContext()) c->mergeChangesFromSave(*save);
  };
  if (fnd::RunLoop::isMainThread())
    merge();
  else
    fnd::DispatchQueue::main().async(merge);
}

// --- Factories --------------------------------------------------------------------------------

ContextRef RK_contextWithParent(const ContextRef& parent) {
  ContextRef c = store::Context::make(store::ConcurrencyType::PrivateQueue);
  if (parent) c->setParent(parent);
  RK_obtainPermanentIDsBeforeSaving(c);
  return c;
}

ContextRef RK_context() {
  ContextRef c = store::Context::make(store::ConcurrencyType::PrivateQueue);
  if (ContextRef parent = RK_defaultContext()) c->setParent(parent);
  return c;
}

ContextRef RK_contextWithoutParent() { return store::Context::make(store::ConcurrencyType::PrivateQueue); }

ContextRef RK_newMainQueueContext() { return store::Context::make(store::ConcurrencyType::MainQueue); }

ContextRef RK_contextWithStoreCoordinator(const CoordinatorRef& coordinator) {
  if (!coordinator) return nullptr;
  ContextRef c = store::Context::make(store::ConcurrencyType::PrivateQueue);
  c->performAndWait([&] { c->setCoordinator(coordinator); });
  return c;
}

// --- Permanent IDs, names, descriptions -------------------------------------------------------

void RK_obtainPermanentIDsBeforeSaving(const ContextRef& context) {
  if (!context) return;
  forget(context.get(), store::kContextWillSaveNotification, context.get());
  observe(context.get(), context, RK_contextWillSave, store::kContextWillSaveNotification, context);
}

void RK_contextWillSave(const fnd::Notification& notification) {
  ContextRef context = contextOf(notification);
  if (!context) return;
  auto inserted = context->insertedObjects();
  if (inserted.empty()) return;
  fnd::Error error;
  if (!context->obtainPermanentIDs(inserted, &error)) RecordKit::handleErrors(&error);
}

void RK_setWorkingName(const ContextRef& context, const std::string& name) {
  if (!context) return;
  context->userInfo()[kWorkingNameKey] = name;
  context->setName(name);
}

std::string RK_workingName(const ContextRef& context) {
  if (!context) return "UNNAMED";
  auto& info = context->userInfo();
  auto it = info.find(kWorkingNameKey);
  if (it == info.end() || !it->second.isString()) return "UNNAMED";
  return it->second.string();
}

namespace {
std::string addressOf(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}
}  // namespace

std::string RK_description(const ContextRef& context) {
  std::string thread = fnd::RunLoop::isMainThread() ? "*** MAIN THREAD ***" : "*** BACKGROUND THREAD ***";
  return "<Context (" + addressOf(context.get()) + "): *** " + RK_workingName(context) + " ***> on " + thread;
}

std::string RK_parentChain(const ContextRef& context) {
  std::string text = "\n";
  for (ContextRef c = context; c; c = c->parent())
    text += "- " + RK_workingName(c) + " (" + addressOf(c.get()) + ") " + (c == context ? "(*)" : "") + "\n";
  return text;
}

// --- Per-thread contexts ----------------------------------------------------------------------

ContextRef RK_contextForCurrentThread() {
  if (fnd::RunLoop::isMainThread()) return RK_defaultContext();
  if (!threadContext) threadContext = RK_contextWithParent(RK_defaultContext());
  return threadContext;
}

void RK_resetContextForCurrentThread() {
  if (ContextRef c = RK_contextForCurrentThread()) c->reset();
}

// --- Observing --------------------------------------------------------------------------------

namespace {

using MergeFunction = void (*)(const ContextRef&, const fnd::Notification&);

// The receiver is held weakly: observing must not keep a context alive.
void observeSaves(const ContextRef& receiver, const ContextRef& other, MergeFunction merge) {
  if (!receiver || !other) return;
  std::weak_ptr<store::Context> weak = receiver;
  observe(
      receiver.get(), receiver,
      [weak, merge](const fnd::Notification& n) {
        if (ContextRef r = weak.lock()) merge(r, n);
      },
      store::kContextDidSaveNotification, other);
}

}  // namespace

void RK_observeContext(const ContextRef& receiver, const ContextRef& other) {
  observeSaves(receiver, other, RK_mergeChangesFromNotification);
}

void RK_observeContextOnMainThread(const ContextRef& receiver, const ContextRef& other) {
  observeSaves(receiver, other, RK_mergeChangesOnMainThread);
}

void RK_stopObservingContext(const ContextRef& receiver, const ContextRef& other) {
  if (!receiver || !other) return;
  forget(receiver.get(), store::kContextDidSaveNotification, other.get());
}

void RK_mergeChangesFromNotification(const ContextRef& receiver, const fnd::Notification& notification) {
  if (!receiver) return;
  receiver->mergeChangesFromSave(saveNotificationFrom(notification));
}

void RK_mergeChangesOnMainThread(const ContextRef& receiver, const fnd::Notification& notification) {
  if (fnd::RunLoop::isMainThread()) {
    RK_mergeChangesFromNotification(receiver, notification);
    return;
  }
  fnd::DispatchQueue::main().sync([&] { RK_mergeChangesFromNotification(receiver, notification); });
}

void RK_observeiCloudChangesInCoordinator(const ContextRef& receiver, const CoordinatorRef& coordinator) {
  if (!receiver || !RecordKit::isICloudEnabled()) return;
  std::weak_ptr<store::Context> weak = receiver;
  observe(
      receiver.get(), receiver,
      [weak](const fnd::Notification& n) {
        if (ContextRef r = weak.lock()) RK_mergeChangesFromiCloud(r, n);
      },
      kDidImportUbiquitousContentChangesNotification, coordinator);
}

void RK_stopObservingiCloudChangesInCoordinator(const ContextRef& receiver, const CoordinatorRef& coordinator) {
  if (!receiver || !RecordKit::isICloudEnabled()) return;
  forget(receiver.get(), kDidImportUbiquitousContentChangesNotification, coordinator.get());
}

void RK_mergeChangesFromiCloud(const ContextRef& receiver, const fnd::Notification& notification) {
  if (!receiver) return;
  auto copy = std::make_shared<fnd::Notification>(notification);
  receiver->perform([receiver, copy] {
    RK_mergeChangesFromNotification(receiver, *copy);
    center().postNotificationName(kRecordKitDidMergeChangesFromiCloudNotification, receiver.get(), copy->userInfo);
  });
}

// --- Saves ------------------------------------------------------------------------------------

void RK_saveWithOptions(const ContextRef& context, unsigned options, RecordSaveCompletion completion) {
  if (!context || !context->hasChanges()) {
    completeOnMain(completion, false, std::nullopt);
    return;
  }
  auto block = [context, options, completion] {
    fnd::Error error;
    if (context->save(&error)) {
      ContextRef parent = context->parent();
      if (parent && (context == RK_defaultContext() || (options & RecordSaveParentContexts)))
        RK_saveWithOptions(parent, options, completion);
      else
        completeOnMain(completion, true, std::nullopt);
    } else {
      RecordKit::handleErrors(&error);
      completeOnMain(completion, false, error);
    }
  };
  if (options & RecordSaveSynchronously)
    context->performAndWait(block);
  else
    context->perform(block);
}

void RK_saveOnlySelfWithCompletion(const ContextRef& context, RecordSaveCompletion completion) {
  RK_saveWithOptions(context, 0, std::move(completion));
}

void RK_saveOnlySelfAndWait(const ContextRef& context) { RK_saveWithOptions(context, RecordSaveSynchronously); }

void RK_saveToPersistentStoreWithCompletion(const ContextRef& context, RecordSaveCompletion completion) {
  RK_saveWithOptions(context, RecordSaveParentContexts, std::move(completion));
}

void RK_saveToPersistentStoreAndWait(const ContextRef& context) {
  RK_saveWithOptions(context, RecordSaveParentContexts | RecordSaveSynchronously);
}

void RK_save(const ContextRef& context) { RK_saveToPersistentStoreAndWait(context); }

void RK_saveWithErrorCallback(const ContextRef& context, RecordErrorHandler callback) {
  RK_saveWithOptions(context, RecordSaveParentContexts | RecordSaveSynchronously,
                     [callback](bool ok, const fnd::Error* error) {
                       if (!ok && callback) callback(error);
                     });
}

namespace {
RecordSaveCompletion splitCompletion(RecordErrorHandler handler, std::function<void()> completion) {
  return [handler, completion](bool ok, const fnd::Error* error) {
    if (ok) {
      if (completion) completion();
    } else if (handler) {
      handler(error);
    }
  };
}
}  // namespace

void RK_saveInBackgroundCompletion(const ContextRef& context, std::function<void()> completion) {
  RK_saveWithOptions(context, 0, splitCompletion(nullptr, std::move(completion)));
}

void RK_saveInBackgroundErrorHandler(const ContextRef& context, RecordErrorHandler handler) {
  RK_saveWithOptions(context, 0, splitCompletion(std::move(handler), nullptr));
}

void RK_saveInBackgroundErrorHandler(const ContextRef& context, RecordErrorHandler handler,
                                     std::function<void()> completion) {
  RK_saveWithOptions(context, 0, splitCompletion(std::move(handler), std::move(completion)));
}

void RK_saveNestedContexts(const ContextRef& context) { RK_saveWithOptions(context, RecordSaveParentContexts); }

void RK_saveNestedContextsErrorHandler(const ContextRef& context, RecordErrorHandler handler) {
  RK_saveWithOptions(context, RecordSaveParentContexts, splitCompletion(std::move(handler), nullptr));
}

void RK_saveNestedContextsErrorHandler(const ContextRef& context, RecordErrorHandler handler,
                                       std::function<void()> completion) {
  RK_saveWithOptions(context, RecordSaveParentContexts, splitCompletion(std::move(handler), std::move(completion)));
}

}  // namespace kesto::recordkit
