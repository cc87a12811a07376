#pragma once

#include <string>
#include <sys/stat.h>

// The permission bits of a file or folder, 0 when it cannot be read.
inline unsigned modeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}
