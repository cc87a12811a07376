#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace kesto::test {

// Switches the C library's locale (every category) for the life of the guard and puts the one
// before back when it ends, also when an assertion stops the test. Qt and ICU keep the locale
// they read at start: this changes only what the C library's functions do.
class LocaleGuard {
 public:
  explicit LocaleGuard(const char* name) {
    if (const char* before = std::setlocale(LC_ALL, nullptr)) before_ = before;
    available_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleGuard() { std::setlocale(LC_ALL, before_.c_str()); }
  LocaleGuard(const LocaleGuard&) = delete;
  LocaleGuard& operator=(const LocaleGuard&) = delete;

  // False when the machine has no such locale (the C library's then stays as it was).
  bool available() const { return available_; }

 private:
  std::string before_ = "C";
  bool available_ = false;
};

}  // namespace kesto::test

// Skips the rest of the test when `guard` could not switch to its locale.
#define KESTO_SKIP_WITHOUT_LOCALE(guard) \
  if (!(guard).available()) GTEST_SKIP() << "this machine has no such locale"
