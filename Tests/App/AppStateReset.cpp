// The application's shared state put back after each test, as a new process has it: no loggers
// (each start adds its own), no thumbnail views wired, no alert presenter chosen.
#include "Harness/TestSupport.h"

#include "Support/AlertPresenter.h"
#include "Model/RemoteImageView.h"
#include "Support/LogCenter.h"

namespace kesto::test {
namespace {

const StateReset appReset([] {
  LogCenter::flush();
  LogCenter::removeAllLoggers();
  registerRemoteImageViewFactory(nullptr);
  AlertPresenter::setShared(nullptr);
});

}  // namespace
}  // namespace kesto::test
