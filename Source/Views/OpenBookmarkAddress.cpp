#include "Views/OpenBookmarkAddress.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/System/Workspace.h"
#include "Support/AlertPresenter.h"

namespace kesto {

void openBookmarkAddress(const std::string& url, std::function<void()> handedOver) {
  using sys::Workspace;
  // Addresses come from peers and archives too; a long one is cut for the question.
  std::string shown = url;
  if (shown.size() > 200) {
    shown.resize(200);
    shown += "…";
  }
  switch (Workspace::policyForURL(url)) {
    case Workspace::OpenPolicy::Browser:
      if (Workspace::openURL(url) && handedOver) handedOver();
      return;
    case Workspace::OpenPolicy::Refused:
      AlertPresenter::alert("Kesto does not open this address",
                            "“" + shown + "” names a program, a desktop entry or a file on another computer. "
                            "Kesto opens web pages and documents, never programs.");
      return;
    case Workspace::OpenPolicy::AskFirst: {
      const std::string scheme = Workspace::schemeOf(url);
      AlertPresenter::ask("Open a “" + scheme + ":” address?",
                          "“" + shown + "” is not a web page. Opening it hands it to the program your desktop "
                          "chooses for “" + scheme + ":” addresses.",
                          // Cancel first: Return, the default, must not start anything.
                          {"Cancel", "Open"}, [url, handedOver = std::move(handedOver)](int answer) {
                            if (answer == 1 && Workspace::openURL(url) && handedOver) handedOver();
                          });
      return;
    }
  }
}

void tellBrowserDidNotStart(const std::string& browserIdentifier, const std::string& knownName) {
  const auto browser = sys::Workspace::browserForIdentifier(browserIdentifier);
  // The name the user clicked, else the desktop's.
  std::string name = !knownName.empty() ? knownName : browser ? browser->name : "";
  if (name.empty()) {
    name = browserIdentifier;
    if (name.ends_with(".desktop")) name.resize(name.size() - 8);
  }
  const std::string why = browser ? "Its program could not be started." : name + " is not installed.";
  // Never inside the click, key or menu callback that tried it.
  fnd::DispatchQueue::main().async([name, why] {
    AlertPresenter::alert(name + " did not start", "The page was not opened. " + why);
  });
}

}  // namespace kesto
