#include "Skyfolder/SFJsonBase.h"

namespace kesto {

const char* const kSFJsonErrorDomain = "com.kesto.skyfolder.JSON.ErrorDomain";

void SFJsonBase::addErrorWithCode(int code, const std::string& description) {
  fnd::Dictionary info{{fnd::kLocalizedDescriptionKey, fnd::Value(description)}};
  if (!errorTrace_.empty())
    info.emplace(fnd::kUnderlyingErrorKey, fnd::Value(std::make_shared<fnd::Error>(errorTrace_.back())));
  errorTrace_.emplace_back(kSFJsonErrorDomain, code, std::move(info));
}

std::string SFJsonBase::errorTraceDescription() const {
  std::string out = "(";
  for (const auto& e : errorTrace_) {
    out += "\n  (" + std::to_string(e.code()) + ") " + e.localizedDescription();
  }
  out += errorTrace_.empty() ? ")" : "\n)";
  return out;
}

}  // namespace kesto
