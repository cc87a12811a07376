#include "FuzzSupport.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kesto::fuzz {
namespace {

void walk(const fnd::XmlNode& node, int depth, int& budget, const std::function<void(const fnd::XmlNode&)>& touch) {
  if (!node || depth > 256 || --budget < 0) return;
  touch(node);
  for (fnd::XmlNode child = node.firstChild(); child; child = child.nextSibling())
    walk(child, depth + 1, budget, touch);
}

}  // namespace

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

void walkTree(const fnd::XmlNode& root, const std::function<void(const fnd::XmlNode&)>& touch) {
  int budget = 5000;
  walk(root, 0, budget, touch);
}

}  // namespace kesto::fuzz
