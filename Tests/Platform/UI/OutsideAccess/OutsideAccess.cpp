// Compiled as code above the UI layer would be, one way in at a time (see CMakeLists.txt); the
// compiler must refuse each.

#if defined(INCLUDE_ImplAccess)
#include "Platform/UI/ImplAccess_p.h"
#elif defined(INCLUDE_TestAccess)
#include "Platform/UI/TestAccess_p.h"
#endif

#include "Platform/UI/Image.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/OutlineView.h"

using namespace kesto::ui;

#if defined(CALL_IMPL_OF_Image)
const void* reach(const Image& image) { return image.impl(); }
#elif defined(CALL_IMPL_OF_MenuItem)
const void* reach(const MenuItem& item) { return item.impl(); }
#elif defined(CALL_IMPL_OF_Menu)
const void* reach(const Menu& menu) { return menu.impl(); }
#elif defined(CALL_IMPL_OF_OutlineView)
const void* reach(const OutlineView& view) { return view.impl(); }
#endif
