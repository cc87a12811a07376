#pragma once

// What a test helper looked up by a key (a bookmark by identifier, a row by its identifier, a
// button by its title). It is tested and compared as the pointer it holds is; reaching through a
// missing one with -> or * fails the test that looked, naming what was missing, where a null
// pointer would end the whole test program and the tests after it would not run.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace kesto::test {

// Thrown out of the test body; GoogleTest reports it as that test's failure and goes on.
struct Missing : std::runtime_error {
  explicit Missing(const std::string& what) : std::runtime_error("not found: " + what) {}
};

template <typename Pointer>
class Found {
 public:
  Found(Pointer found, std::string what) : found_(std::move(found)), what_(std::move(what)) {}

  explicit operator bool() const { return static_cast<bool>(found_); }
  operator Pointer() const { return found_; }
  // The raw pointer, null when missing, as a smart pointer's get() answers.
  auto* get() const { return found_ ? &*found_ : nullptr; }

  auto& operator*() const {
    if (!found_) throw Missing(what_);
    return *found_;
  }
  auto* operator->() const { return &**this; }

  friend bool operator==(const Found& a, std::nullptr_t) { return !a.found_; }
  friend bool operator!=(const Found& a, std::nullptr_t) { return static_cast<bool>(a.found_); }
  friend bool operator==(const Found& a, const Pointer& b) { return a.found_ == b; }
  friend bool operator!=(const Found& a, const Pointer& b) { return a.found_ != b; }

 private:
  Pointer found_;
  std::string what_;
};

// The found value itself, where a test goes on only with it: fails the test when missing.
template <typename Value>
Value present(Value found, const std::string& what) {
  if (!found) throw Missing(what);
  return found;
}

}  // namespace kesto::test
