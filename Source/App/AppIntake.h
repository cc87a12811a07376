#pragma once

#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class BookmarksController;
class DataManager;
class PreferencesController;
class SharedFolderArchive;

// What comes in from outside the window: "kesto:" URLs, texts handed over by a later launch or
// dropped on the window, and shared-folder archives opened with the program. Main thread only.
class AppIntake {
 public:
  struct Wiring {
    DataManager* data = nullptr;
    PreferencesController* preferences = nullptr;
    BookmarksController* bookmarksController = nullptr;
    // Whether the library window has started, so a new bookmark may go to the folder shown.
    std::function<bool()> applicationIsActive;
  };

  AppIntake();
  ~AppIntake();
  AppIntake(const AppIntake&) = delete;
  AppIntake& operator=(const AppIntake&) = delete;

  void wire(Wiring wiring) { wiring_ = std::move(wiring); }

  // Told once the bookmarks a text added are saved (true) or could not be (false; they stay
  // pending in the library). True at once when the text added nothing.
  using Saved = std::function<void(bool saved)>;

  void getUrl(const std::string& urlText);
  // The add-text door: the text is split on white space, then taken as addUrlFromBrowserExtension
  // takes it.
  void addPinUrlFromString(const std::string& text);
  bool openFile(const std::string& path);
  bool openFiles(const std::vector<std::string>& paths);
  // The archive waiting to be imported, if any.
  void importSharedFolderFromDoubleClick();
  // The text waiting to be added, if any: one bookmark per address line, made at once as one
  // undoable change; one save on the next turn of the event loop, then one refresh of the list
  // and of the other views on the turns after, so no turn waits long.
  // With `onlyMissing`, an address the library holds is skipped whatever the duplicates
  // preference says.
  void addUrlFromBrowserExtension(Saved saved = {}, bool onlyMissing = false);
  void handleArguments(const std::vector<std::string>& arguments, Saved saved = {});
  const std::string& urlToBeAdded() const { return urlToBeAdded_; }
  void setUrlToBeAdded(const std::string& text) { urlToBeAdded_ = text; }

 private:
  Wiring wiring_;
  std::string urlToBeAdded_;
  std::string fileToBeImported_;
  std::unique_ptr<SharedFolderArchive> archive_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
