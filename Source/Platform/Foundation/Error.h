#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kesto::fnd {

// Well-known user-info keys of errors.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kDetailedErrorsKey = "NSDetailedErrors";
inline constexpr const char* kFilePathErrorKey = "NSFilePath";
inline constexpr const char* kURLErrorKey = "NSErrorFailingURLKey";
inline constexpr const char* kURLErrorStringKey = "NSErrorFailingURLStringKey";

// Error domains the system reports in.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

// A failure handed back to a caller: a domain, a code and a dictionary of details. Errors are
// values; they can also travel inside a Value (as an object), which is how an underlying error
// or a list of detailed errors is kept in the user info.
class Error final : public Object {
 public:
  Error() = default;
  Error(std::string domain, std::int64_t code, Dictionary userInfo = {})
      : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

  // An error with just a description.
  static Error withDescription(std::string domain, std::int64_t code, std::string description);

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const Dictionary& userInfo() const { return userInfo_; }
  Dictionary& mutableUserInfo() { return userInfo_; }

  // The description from the user info, else "The operation couldn't be completed. (<domain>
  // error <code>.)".
  std::string localizedDescription() const;
  std::string localizedFailureReason() const;

  // The error kept under kUnderlyingErrorKey, if any.
  std::shared_ptr<const Error> underlyingError() const;
  void setUnderlyingError(const Error& e);
  // The errors kept under kDetailedErrorsKey (save errors list one per failed object).
  std::vector<Error> detailedErrors() const;
  void setDetailedErrors(const std::vector<Error>& errors);

  std::string description() const override;
  bool isEqual(const Object& other) const override;

 private:
  std::string domain_;
  std::int64_t code_ = 0;
  Dictionary userInfo_;
};

}  // namespace kesto::fnd
