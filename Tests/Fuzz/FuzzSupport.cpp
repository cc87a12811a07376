#include "FuzzSupport.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kesto::fuzz {

const std::string& scratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kesto-fuzz-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (!made) std::abort();
    return std::string(made);
  }();
  return folder;
}

std::string writeScratchFile(const char* name, std::string_view bytes) {
  std::string path = scratchFolder() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace kesto::fuzz
