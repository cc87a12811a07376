#pragma once

// For the test suites only: the state behind the UI layer's objects, so a test can check what
// the toolkit's widgets hold or drive them directly. Production code cannot include this.

#ifndef KESTO_TEST_ACCESS
#error "Platform/UI/TestAccess_p.h is for the test suites"
#endif

#define KESTO_UI_TEST_ACCESS
#include "Platform/UI/ImplAccess_p.h"
#undef KESTO_UI_TEST_ACCESS

namespace kesto::ui {

struct TestAccess {
  template <class T>
  static typename T::Impl* impl(const T& object) {
    return ImplAccess::of(object);
  }
};

}  // namespace kesto::ui
