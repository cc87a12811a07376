#pragma once

#include "Model/Unused/Records/RecordKit.h"
#include "Model/Unused/Records/RecordTypes.h"
#include "Model/ModelNotifications.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Store/StoreForward.h"

#include <memory>
#include <string>

// Context operations of the record stack: the default and root saving contexts, context
// factories, working names, per-thread contexts, observing other contexts' saves, and saves
// that continue up the parent chain.
namespace kesto::recordkit {

// The user-info key that holds a context's working name.
inline constexpr const char* kWorkingNameKey = "kNSManagedObjectContextWorkingName";

// Save option bits.
enum RecordSaveOptions : unsigned {
  RecordSaveParentContexts = 1,  // continue through the parent contexts
  RecordSaveSynchronously = 2,   // run on the context's queue and wait
};

// The default (main-queue) and root saving (private-queue) contexts.
ContextRef RK_defaultContext();
void RK_setDefaultContext(const ContextRef& context);
ContextRef RK_rootSavingContext();
void RK_setRootSavingContext(const ContextRef& context);
// Makes the root saving context on `coordinator` and the default context as its child, once.
void RK_initializeDefaultContextWithCoordinator(const CoordinatorRef& coordinator);
// Resets the default context, later, on the main queue.
void RK_resetDefaultContext();
void RK_cleanUp();
// Brings a root saving context's save into the default context, on the main thread.
void rootContextChanged(const fnd::Notification& notification);

// Context factories.
ContextRef RK_contextWithParent(const ContextRef& parent);  // private queue, permanent IDs on save
ContextRef RK_context();                                     // private queue, child of the default
ContextRef RK_contextWithoutParent();
ContextRef RK_newMainQueueContext();
ContextRef RK_contextWithStoreCoordinator(const CoordinatorRef& coordinator);  // null for null

// Gives inserted objects permanent IDs just before each save of `context`.
void RK_obtainPermanentIDsBeforeSaving(const ContextRef& context);
void RK_contextWillSave(const fnd::Notification& notification);

void RK_setWorkingName(const ContextRef& context, const std::string& name);
// "UNNAMED" when none was set.
std::string RK_workingName(const ContextRef& context);
std::string RK_description(const ContextRef& context);
std::string RK_parentChain(const ContextRef& context);

// The default context on the main thread; elsewhere one child of the default context per thread.
ContextRef RK_contextForCurrentThread();
void RK_resetContextForCurrentThread();

// Observing other contexts' saves.
void RK_observeContext(const ContextRef& receiver, const ContextRef& other);
void RK_observeContextOnMainThread(const ContextRef& receiver, const ContextRef& other);
void RK_stopObservingContext(const ContextRef& receiver, const ContextRef& other);
void RK_mergeChangesFromNotification(const ContextRef& receiver, const fnd::Notification& notification);
// Merges on the main thread and waits until it is done.
void RK_mergeChangesOnMainThread(const ContextRef& receiver, const fnd::Notification& notification);
void RK_observeiCloudChangesInCoordinator(const ContextRef& receiver, const CoordinatorRef& coordinator);
void RK_stopObservingiCloudChangesInCoordinator(const ContextRef& receiver, const CoordinatorRef& coordinator);
void RK_mergeChangesFromiCloud(const ContextRef& receiver, const fnd::Notification& notification);
// The save described by a did-save notification's user info.
store::SaveNotification saveNotificationFrom(const fnd::Notification& notification);

// Saves. Completions run on the main queue; a context without changes reports (false, null).
void RK_saveWithOptions(const ContextRef& context, unsigned options, RecordSaveCompletion completion = {});
void RK_saveOnlySelfWithCompletion(const ContextRef& context, RecordSaveCompletion completion);
void RK_saveOnlySelfAndWait(const ContextRef& context);
void RK_saveToPersistentStoreWithCompletion(const ContextRef& context, RecordSaveCompletion completion);
void RK_saveToPersistentStoreAndWait(const ContextRef& context);
void RK_save(const ContextRef& context);
void RK_saveWithErrorCallback(const ContextRef& context, RecordErrorHandler callback);
void RK_saveInBackgroundCompletion(const ContextRef& context, std::function<void()> completion);
void RK_saveInBackgroundErrorHandler(const ContextRef& context, RecordErrorHandler handler);
void RK_saveInBackgroundErrorHandler(const ContextRef& context, RecordErrorHandler handler,
                                     std::function<void()> completion);
void RK_saveNestedContexts(const ContextRef& context);
void RK_saveNestedContextsErrorHandler(const ContextRef& context, RecordErrorHandler handler);
void RK_saveNestedContextsErrorHandler(const ContextRef& context, RecordErrorHandler handler,
                                       std::function<void()> completion);

}  // namespace kesto::recordkit
