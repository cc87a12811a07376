// Compiled as code above the store would be, one way in at a time (see CMakeLists.txt); the
// compiler must refuse each.

#if defined(INCLUDE_StoreInternal)
#include "Platform/Store/StoreInternal.h"
#elif defined(INCLUDE_TestAccess)
#include "Platform/Store/TestAccess_p.h"
#endif

#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

using namespace kesto::store;

#if defined(CALL_IMPL_OF_Coordinator)
const void* reach(Coordinator& coordinator) { return &coordinator.impl(); }
#elif defined(CALL_IMPL_OF_Context)
const void* reach(Context& context) { return &context.impl(); }
#endif
