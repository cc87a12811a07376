#include "Synchronize/WeblocImport.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StandardPaths.h"

#include <filesystem>
#include <system_error>

namespace kesto {

std::string WeblocImport::defaultResourceFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path().parent_path() / "share" / "kesto").string();
}

std::optional<std::string> WeblocImport::testMethodThatWorks() const {
  const std::string path = fnd::StandardPaths::appendingPathComponent(resourceFolder_, kResourceName);
  auto bytes = fnd::FileManager::readFile(path, kMaxResourceBytes);
  if (!bytes) return std::nullopt;
  auto plist = fnd::PropertyList::read(std::string_view(*bytes));
  if (!plist || !plist->isDictionary()) return std::nullopt;
  auto url = (*plist)["URL"].stringIfString();
  if (!url) return std::nullopt;
  fnd::logInfo(*url);
  return url;
}

}  // namespace kesto
