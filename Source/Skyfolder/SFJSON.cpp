#include "Skyfolder/SFJSON.h"

#include "Skyfolder/SFLog.h"

namespace kesto {

SFJSON::SFJSON() { setMaxDepth(512); }

void SFJSON::setMaxDepth(unsigned depth) {
  maxDepth_ = depth;
  jsonParser_.setMaxDepth(depth);
  jsonWriter_.setMaxDepth(depth);
}

void SFJSON::takeTrace(const SFJsonBase& inner, fnd::Error* error) {
  errorTrace_ = inner.errorTrace();
  if (error && !errorTrace_.empty()) *error = errorTrace_.back();
}

std::optional<fnd::Value> SFJSON::objectWithString(std::string_view text) {
  return objectWithString(text, false, nullptr);
}

std::optional<std::string> SFJSON::stringWithObject(const fnd::Value& value) {
  return stringWithObject(value, false, nullptr);
}

std::optional<fnd::Value> SFJSON::objectWithString(std::string_view text, bool allowScalar, fnd::Error* error) {
  auto result = allowScalar ? jsonParser_.fragmentWithString(text) : jsonParser_.objectWithString(text);
  if (!result) takeTrace(jsonParser_, error);
  return result;
}

std::optional<std::string> SFJSON::stringWithObject(const fnd::Value& value, bool allowScalar, fnd::Error* error) {
  auto result = allowScalar ? jsonWriter_.stringWithFragment(value) : jsonWriter_.stringWithObject(value);
  if (!result) takeTrace(jsonWriter_, error);
  return result;
}

namespace nsstring_dbjson {

std::optional<fnd::Value> JSONValue(std::string_view text) {
  SFJsonParser parser;
  auto value = parser.objectWithString(text);
  if (!value) SFLogSystem("-JSONValue failed. Error trace is: " + parser.errorTraceDescription());
  return value;
}

std::optional<fnd::Value> JSONFragmentValue(std::string_view text) {
  SFJsonParser parser;
  auto value = parser.fragmentWithString(text);
  if (!value) SFLogSystem("-JSONFragmentValue failed. Error trace is: " + parser.errorTraceDescription());
  return value;
}

}  // namespace nsstring_dbjson

namespace nsobject_dbjson {

std::optional<std::string> JSONRepresentation(const fnd::Value& value) {
  SFJsonWriter writer;
  auto text = writer.stringWithObject(value);
  if (!text) SFLogSystem("-JSONRepresentation failed. Error trace is: " + writer.errorTraceDescription());
  return text;
}

std::optional<std::string> JSONFragment(const fnd::Value& value) {
  SFJsonWriter writer;
  auto text = writer.stringWithFragment(value);
  if (!text) SFLogSystem("-JSONFragment failed. Error trace is: " + writer.errorTraceDescription());
  return text;
}

}  // namespace nsobject_dbjson

}  // namespace kesto
