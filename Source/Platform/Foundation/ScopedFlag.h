#pragma once

namespace kesto::fnd {

// Raises a flag for as long as it lives and then gives it back the value it had, so scopes that
// raise the same flag may nest.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = was_; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
  bool was_;
};

}  // namespace kesto::fnd
