#include "Platform/UI/DialogResponder.h"

#include <mutex>

namespace kesto::ui {

namespace {
std::mutex gMutex;
std::shared_ptr<DialogResponder> gInstalled;
}  // namespace

void DialogResponder::install(std::shared_ptr<DialogResponder> responder) {
  std::lock_guard lock(gMutex);
  gInstalled = std::move(responder);
}

std::shared_ptr<DialogResponder> DialogResponder::installed() {
  std::lock_guard lock(gMutex);
  return gInstalled;
}

}  // namespace kesto::ui
