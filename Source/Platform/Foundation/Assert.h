#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

// One broken contract: a named failure (e.g. "NSInternalInconsistencyException",
// "NSInvalidArgumentException") with its reason, and where it was raised.
struct ContractFailure {
  std::string name;
  std::string reason;
  std::string location;
};

// What the facility does with a failure. The application logs and carries on (an exception
// must never cross the event loop); tests throw, so a broken contract fails the test.
enum class AssertionPolicy { Log, Record, Throw };

void setAssertionPolicy(AssertionPolicy policy);
AssertionPolicy assertionPolicy();

// Thrown under AssertionPolicy::Throw only.
class ContractViolation : public std::logic_error {
 public:
  explicit ContractViolation(ContractFailure failure);
  const ContractFailure& failure() const { return failure_; }

 private:
  ContractFailure failure_;
};

inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kRangeException = "NSRangeException";

// Reports a broken contract through the policy. Under Log and Record it returns, and the caller
// goes on with its safe default.
void raiseFailure(std::string_view name, std::string_view reason, std::string_view location = {});
// An assertion failure: name kInternalInconsistencyException, `description` as the reason.
void assertionFailed(std::string_view description, std::string_view location = {});
// "Invalid parameter not satisfying: <condition>".
void parameterAssertionFailed(std::string_view condition, std::string_view location = {});

// The contract of the classes that live on the main (GUI) thread only: a call from another
// thread is reported with the function's name. Use KESTO_ASSERT_MAIN_THREAD() at entry points.
void assertMainThread(std::string_view function, std::string_view location = {});

// Failures recorded under AssertionPolicy::Record (and, for inspection, under Throw as well).
std::vector<ContractFailure> recordedFailures();
void clearRecordedFailures();

}  // namespace kesto::fnd

// Checks a condition; on failure reports `description` and evaluates to false, so a caller can
// write `if (!KESTO_ASSERT(x, "...")) return;`.
#define KESTO_ASSERT(condition, description) \
  ((condition) ? true : (::kesto::fnd::assertionFailed((description), __FILE__), false))
#define KESTO_PARAMETER_ASSERT(condition) \
  ((condition) ? true : (::kesto::fnd::parameterAssertionFailed(#condition, __FILE__), false))
// Reports a call made off the main thread, naming the calling function.
#define KESTO_ASSERT_MAIN_THREAD() ::kesto::fnd::assertMainThread(__PRETTY_FUNCTION__, __FILE__)
