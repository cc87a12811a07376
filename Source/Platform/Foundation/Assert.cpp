#include "Platform/Foundation/Assert.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/RunLoop.h"

#include <atomic>
#include <mutex>

namespace kesto::fnd {

namespace {

std::atomic<AssertionPolicy> gPolicy{AssertionPolicy::Log};
std::mutex gMutex;
std::vector<ContractFailure>& recorded() {
  static std::vector<ContractFailure> failures;
  return failures;
}

std::string describe(const ContractFailure& f) {
  std::string text = "*** " + f.name + ": " + f.reason;
  if (!f.location.empty()) text += " (" + f.location + ")";
  return text;
}

}  // namespace

ContractViolation::ContractViolation(ContractFailure failure)
    : std::logic_error(describe(failure)), failure_(std::move(failure)) {}

void setAssertionPolicy(AssertionPolicy policy) { gPolicy = policy; }
AssertionPolicy assertionPolicy() { return gPolicy; }

void raiseFailure(std::string_view name, std::string_view reason, std::string_view location) {
  ContractFailure failure{std::string(name), std::string(reason), std::string(location)};
  // Every failure is logged, whatever the policy: in the app it is the only trace it leaves.
  logError(describe(failure));
  AssertionPolicy policy = gPolicy;
  if (policy == AssertionPolicy::Log) return;
  {
    std::lock_guard lock(gMutex);
    recorded().push_back(failure);
  }
  if (policy == AssertionPolicy::Throw) throw ContractViolation(std::move(failure));
}

void assertionFailed(std::string_view description, std::string_view location) {
  raiseFailure(kInternalInconsistencyException, description, location);
}

void parameterAssertionFailed(std::string_view condition, std::string_view location) {
  raiseFailure(kInvalidArgumentException, "Invalid parameter not satisfying: " + std::string(condition), location);
}

void assertMainThread(std::string_view function, std::string_view location) {
  if (RunLoop::isMainThread()) return;
  assertionFailed("Called off the main thread: " + std::string(function), location);
}

std::vector<ContractFailure> recordedFailures() {
  std::lock_guard lock(gMutex);
  return recorded();
}

void clearRecordedFailures() {
  std::lock_guard lock(gMutex);
  recorded().clear();
}

}  // namespace kesto::fnd
