#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class Window;

// The save dialog, on the desktop's own file dialog where the platform theme offers one. The
// chosen name always ends in an allowed extension (the first is added when it has none of them,
// unless other types are allowed). Copies share one panel; a shown panel lives until answered.
// An installed DialogResponder answers instead of a person.
class SavePanel {
 public:
  SavePanel();
  virtual ~SavePanel();
  SavePanel(const SavePanel&);
  SavePanel& operator=(const SavePanel&);

  const std::string& title() const;
  void setTitle(const std::string& title);
  const std::string& message() const;
  void setMessage(const std::string& message);
  // The accept button's title.
  const std::string& prompt() const;
  void setPrompt(const std::string& prompt);
  // The folder the panel opens in (absolute path; empty for the desktop's choice).
  const std::string& directory() const;
  void setDirectory(const std::string& path);
  // The suggested file name.
  const std::string& nameFieldStringValue() const;
  void setNameFieldStringValue(const std::string& name);
  // Extensions without the dot ("html"); empty allows every file.
  const std::vector<std::string>& allowedFileTypes() const;
  void setAllowedFileTypes(std::vector<std::string> types);
  bool allowsOtherFileTypes() const;
  void setAllowsOtherFileTypes(bool allows);
  bool canCreateDirectories() const;
  void setCanCreateDirectories(bool can);

  // Application-modal, blocking: ModalResponse::OK or ModalResponse::Cancel.
  int runModal();
  // Window-modal over `window` (application-modal when null); returns at once.
  void beginSheetModalForWindow(Window* window, std::function<void(int)> completion);
  // The chosen file after OK (absolute path); empty otherwise.
  std::string path() const;
  // The toolkit's dialog while shown (the UI layer and its tests).
  void* nativeHandle() const;

  // The path a save takes for a chosen one: the extension rule above.
  std::string pathWithAllowedExtension(const std::string& chosen) const;

  struct State;

 protected:
  explicit SavePanel(bool open);
  std::shared_ptr<State> d_;
};

// The open dialog: files, folders or both, one or several. Only existing files of an allowed
// type (and folders, when they may be chosen) are taken; a choice left empty is a Cancel. A
// folder named with an allowed extension ("x.kesto") is a package, chosen like a file.
class OpenPanel : public SavePanel {
 public:
  OpenPanel();

  bool canChooseFiles() const;
  void setCanChooseFiles(bool can);
  bool canChooseDirectories() const;
  void setCanChooseDirectories(bool can);
  bool allowsMultipleSelection() const;
  void setAllowsMultipleSelection(bool allows);
  // Files without any extension count as an allowed type (off by default).
  bool allowsFilesWithoutExtension() const;
  void setAllowsFilesWithoutExtension(bool allows);

  // The chosen paths after OK.
  std::vector<std::string> paths() const;
  // What the panel takes of a choice: the rules above.
  std::vector<std::string> acceptablePaths(const std::vector<std::string>& chosen) const;
};

}  // namespace kesto::ui
