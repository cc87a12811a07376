#include "Skyfolder/SFBrowser.h"

#include "Skyfolder/SFLog.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kesto {

bool SFOpenURLInDefaultBrowser(const net::URL& url) {
  // Only web addresses are handed on; anything else could start a local program.
  if (url.scheme() != "https" && url.scheme() != "http") return false;
  const std::string text = url.absoluteString();
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(text.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
    SFLogError("SkyfolderSDK: cannot open the authorization page");
    return false;
  }
  // xdg-open hands the address to the browser and exits at once.
  int status = 0;
  waitpid(pid, &status, 0);
  return true;
}

}  // namespace kesto
