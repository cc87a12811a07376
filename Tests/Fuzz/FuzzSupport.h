#pragma once

// Small helpers shared by the harnesses.

#include "Platform/Foundation/XmlDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

namespace kesto::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return size ? std::string_view(reinterpret_cast<const char*>(data), size) : std::string_view();
}

// A broken invariant is a finding: abort so libFuzzer keeps the input and the replay fails.
#define KESTO_FUZZ_CHECK(cond)                                                  \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

// A private folder of this process for harnesses whose reader takes a path.
const std::string& scratchFolder();
// Writes the bytes to a file in the scratch folder and answers its path.
std::string writeScratchFile(const char* name, std::string_view bytes);

// Hands `touch` every node of the tree below `root` the way readers walk it, bounded (5,000
// nodes, 256 levels) so a deep or wide tree cannot take long.
void walkTree(const fnd::XmlNode& root, const std::function<void(const fnd::XmlNode&)>& touch);

}  // namespace kesto::fuzz
