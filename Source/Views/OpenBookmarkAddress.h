#pragma once

#include <functional>
#include <string>

namespace kesto {

// Opens a bookmark's address as every list of the program does: a web page at once; an address
// of another scheme only once the user agreed to it by name (the question is asked through the
// shared alert presenter, Cancel first); a local program or a file on another host never, with
// an alert that says so. Main thread only; call it outside a platform callback, since it may
// show an alert. `handedOver`, when given, is called once the address has gone to the desktop's
// opener (at once, or after the user's Open), and never when nothing was opened.
void openBookmarkAddress(const std::string& url, std::function<void()> handedOver = {});

// Tells the user that the browser named by `browserIdentifier` (a desktop entry id or a known
// bundle identifier) did not start, so no page was opened: with an alert, once the current event
// has been handled. `knownName`, when given, is the name the user chose it by.
void tellBrowserDidNotStart(const std::string& browserIdentifier, const std::string& knownName = {});

}  // namespace kesto
