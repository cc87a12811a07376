#pragma once

#include <optional>
#include <string>

namespace kesto {

// Reads the program's own web-location resource ("file.webloc", a property list whose "URL" is
// an address) and logs that address. Nothing in the application uses it.
class WeblocImport {
 public:
  static constexpr const char* kResourceName = "file.webloc";
  // At most this much of the resource is read: a web location is a few hundred bytes.
  static constexpr std::size_t kMaxResourceBytes = 64 * 1024;

  // The folder the resource is read from: by default the program's data folder
  // (<prefix>/share/kesto beside the executable's bin folder).
  const std::string& resourceFolder() const { return resourceFolder_; }
  void setResourceFolder(std::string folder) { resourceFolder_ = std::move(folder); }
  static std::string defaultResourceFolder();

  // Reads the resource and logs its "URL"; answers that address, or nothing when the resource
  // cannot be read or holds no address.
  std::optional<std::string> testMethodThatWorks() const;

 private:
  std::string resourceFolder_ = defaultResourceFolder();
};

}  // namespace kesto
