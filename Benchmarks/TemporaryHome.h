#pragma once

// A fresh HOME with its XDG folders for a benchmark process, removed with everything in it when
// the object goes, so repeated runs leave nothing behind.

#include "Platform/Foundation/FileManager.h"

#include <cstdlib>
#include <string>

namespace kesto::bench {

class TemporaryHome {
 public:
  explicit TemporaryHome(const std::string& prefix) : path_(fnd::FileManager::createTemporaryDirectory(prefix)) {
    setenv("HOME", path_.c_str(), 1);
    for (const char* var : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
      setenv(var, (path_ + "/" + var).c_str(), 1);
  }
  ~TemporaryHome() { fnd::FileManager::removeItem(path_); }
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kesto::bench
