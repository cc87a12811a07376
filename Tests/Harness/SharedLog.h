#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace kesto::test {

// Lines added from any thread, kept in the order they came.
class SharedLog {
 public:
  void add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::string> snapshot() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace kesto::test
