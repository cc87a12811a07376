#include "Platform/UI/DialogResponder.h"

#include <atomic>

namespace kesto::ui {

namespace {
// Read from any thread; a reader keeps the responder it got even when another replaces it.
constinit std::atomic<std::shared_ptr<DialogResponder>> gInstalled;
}  // namespace

void DialogResponder::install(std::shared_ptr<DialogResponder> responder) { gInstalled.store(std::move(responder)); }

std::shared_ptr<DialogResponder> DialogResponder::installed() { return gInstalled.load(); }

}  // namespace kesto::ui
