#pragma once

// One entry point per harness. Under libFuzzer (KESTO_FUZZ_STANDALONE) each harness is its own
// executable and the macro opens LLVMFuzzerTestOneInput; in the regression build every harness
// is linked into one test executable and registers itself by name, so the corpora replay in CI.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kesto::fuzz {

using EntryPoint = int (*)(const std::uint8_t* data, std::size_t size);

struct Target {
  std::string name;
  EntryPoint entry;
};

bool registerTarget(const char* name, EntryPoint entry);
const std::vector<Target>& targets();

}  // namespace kesto::fuzz

#ifdef KESTO_FUZZ_STANDALONE
#define KESTO_FUZZ_TARGET(Name) extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#else
#define KESTO_FUZZ_TARGET(Name)                                                                \
  static int fuzz##Name(const std::uint8_t* data, std::size_t size);                           \
  [[maybe_unused]] static const bool kRegistered##Name = ::kesto::fuzz::registerTarget(#Name, &fuzz##Name); \
  static int fuzz##Name(const std::uint8_t* data, std::size_t size)
#endif
