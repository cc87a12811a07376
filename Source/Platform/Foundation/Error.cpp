#include "Platform/Foundation/Error.h"

namespace kesto::fnd {

Error Error::withDescription(std::string domain, std::int64_t code, std::string description) {
  return Error(std::move(domain), code, Dictionary{{kLocalizedDescriptionKey, Value(std::move(description))}});
}

std::string Error::localizedDescription() const {
  auto it = userInfo_.find(kLocalizedDescriptionKey);
  if (it != userInfo_.end() && it->second.isString()) return it->second.string();
  return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string Error::localizedFailureReason() const {
  auto it = userInfo_.find(kLocalizedFailureReasonKey);
  return it != userInfo_.end() ? it->second.string() : std::string();
}

std::shared_ptr<const Error> Error::underlyingError() const {
  auto it = userInfo_.find(kUnderlyingErrorKey);
  if (it == userInfo_.end()) return nullptr;
  return it->second.objectAs<const Error>();
}

void Error::setUnderlyingError(const Error& e) { userInfo_[kUnderlyingErrorKey] = Value(std::make_shared<Error>(e)); }

std::vector<Error> Error::detailedErrors() const {
  std::vector<Error> out;
  auto it = userInfo_.find(kDetailedErrorsKey);
  if (it == userInfo_.end()) return out;
  for (const auto& v : it->second.array())
    if (auto e = v.objectAs<const Error>()) out.push_back(*e);
  return out;
}

void Error::setDetailedErrors(const std::vector<Error>& errors) {
  Array a;
  for (const auto& e : errors) a.emplace_back(std::make_shared<Error>(e));
  userInfo_[kDetailedErrorsKey] = Value(std::move(a));
}

std::string Error::description() const {
  return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" + localizedDescription() + "\"";
}

bool Error::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Error*>(&other);
  return o && o->domain_ == domain_ && o->code_ == code_ && o->userInfo_ == userInfo_;
}

}  // namespace kesto::fnd
