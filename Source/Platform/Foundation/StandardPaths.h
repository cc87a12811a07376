#pragma once

#include <string>

namespace kesto::fnd {

// The folders the system keeps its files in, on the XDG layout. Every call reads the
// environment afresh, so a changed HOME or XDG variable (each test has its own) takes effect at
// once. Folders that belong to the application are created on demand, with intermediates and
// mode 0700; the shared base folders are only named, never created.
class StandardPaths {
 public:
  // The executable's name, which is also the name of the application's folders: "kesto".
  static std::string applicationName();

  // $HOME (else the password database's home folder).
  static std::string homeDirectory();
  // The login name of the user.
  static std::string userName();

  // Application Support: $XDG_DATA_HOME, else ~/.local/share.
  static std::string applicationSupportDirectory();
  // Application Support/kesto, created (0700). The store lives here as "data.sqlite".
  // Answers an empty string when the folder cannot be made.
  static std::string applicationDirectory();

  // $XDG_CONFIG_HOME, else ~/.config.
  static std::string configDirectory();
  // $XDG_CONFIG_HOME/kesto, created (0700): user defaults and other settings.
  static std::string applicationConfigDirectory();

  // Caches: $XDG_CACHE_HOME, else ~/.cache.
  static std::string cachesDirectory();
  // Caches/kesto, created (0700); empty when it cannot be made.
  static std::string applicationCachesDirectory();

  // Logs: $XDG_STATE_HOME/kesto/logs (else ~/.local/state/kesto/logs), created (0700), as is
  // the kesto folder that holds it.
  static std::string logsDirectory();

  // Documents: $XDG_DOCUMENTS_DIR, else the user-dirs.dirs entry, else ~/Documents.
  static std::string documentsDirectory();

  // Temporary files: $TMPDIR, else /tmp. Never ends in "/".
  static std::string temporaryDirectory();

  // `base` + "/" + `component`, without doubling the slash.
  static std::string appendingPathComponent(const std::string& base, const std::string& component);
};

}  // namespace kesto::fnd
