#include "Views/IndexPath.h"

#include <cstdio>

namespace kesto {

std::string IndexPath::debugDescription() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "<IndexPath: %p; section = %lld; item = %lld>", (const void*)this,
                (long long)section, (long long)item);
  return buf;
}

}  // namespace kesto
