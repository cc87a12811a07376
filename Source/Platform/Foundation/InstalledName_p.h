#pragma once

// Private to the platform layer: a name the application installs over what the system says.

#include <mutex>
#include <string>

namespace kesto::fnd {

// A process-wide identifier (the current locale, the local time zone) that, once set, stands in
// for the system's; empty: the system's holds. Read and written from any thread.
class InstalledName {
 public:
  std::string get() const {
    std::lock_guard lock(mutex_);
    return name_;
  }
  void set(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
  }

 private:
  mutable std::mutex mutex_;
  std::string name_;
};

}  // namespace kesto::fnd
