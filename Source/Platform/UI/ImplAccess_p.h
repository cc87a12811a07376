#pragma once

// Private to the UI layer: the one way to the state behind Image, Menu, MenuItem and
// OutlineView. Those classes befriend ImplAccess alone, so code above this layer cannot reach
// their toolkit objects; tests come in through Platform/UI/TestAccess_p.h.

#if !defined(KESTO_UI_LAYER) && !defined(KESTO_UI_TEST_ACCESS)
#error "Platform/UI/ImplAccess_p.h is private to the UI layer (tests include Platform/UI/TestAccess_p.h)"
#endif

namespace kesto::ui {

struct ImplAccess {
  // The object's Impl (defined in its _p.h); null for a null Image.
  template <class T>
  static typename T::Impl* of(const T& object) {
    return object.impl();
  }
};

}  // namespace kesto::ui
