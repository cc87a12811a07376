#pragma once

#include "Skyfolder/SFJsonParser.h"
#include "Skyfolder/SFJsonWriter.h"

namespace kesto {

// A facade over one reader and one writer; on failure it keeps a copy of the inner trace.
class SFJSON : public SFJsonBase {
 public:
  SFJSON();

  std::optional<fnd::Value> objectWithString(std::string_view text);
  std::optional<std::string> stringWithObject(const fnd::Value& value);
  // With allowScalar the fragment forms are used; `error` receives the outermost record.
  std::optional<fnd::Value> objectWithString(std::string_view text, bool allowScalar, fnd::Error* error);
  std::optional<std::string> stringWithObject(const fnd::Value& value, bool allowScalar, fnd::Error* error);
  std::optional<fnd::Value> fragmentWithString(std::string_view text, fnd::Error* error) {
    return objectWithString(text, true, error);
  }
  std::optional<fnd::Value> objectWithString(std::string_view text, fnd::Error* error) {
    return objectWithString(text, false, error);
  }
  std::optional<std::string> stringWithFragment(const fnd::Value& value, fnd::Error* error) {
    return stringWithObject(value, true, error);
  }
  std::optional<std::string> stringWithObject(const fnd::Value& value, fnd::Error* error) {
    return stringWithObject(value, false, error);
  }

  unsigned maxDepth() const { return jsonParser_.maxDepth(); }
  void setMaxDepth(unsigned depth);
  bool humanReadable() const { return jsonWriter_.humanReadable(); }
  void setHumanReadable(bool on) { jsonWriter_.setHumanReadable(on); }
  bool sortKeys() const { return jsonWriter_.sortKeys(); }
  void setSortKeys(bool on) { jsonWriter_.setSortKeys(on); }

  SFJsonParser& jsonParser() { return jsonParser_; }
  SFJsonWriter& jsonWriter() { return jsonWriter_; }

 private:
  void takeTrace(const SFJsonBase& inner, fnd::Error* error);

  SFJsonParser jsonParser_;
  SFJsonWriter jsonWriter_;
};

// One-call conveniences with fresh readers and writers, safe on any thread; failures are logged
// with their trace.
namespace nsstring_dbjson {
std::optional<fnd::Value> JSONValue(std::string_view text);
std::optional<fnd::Value> JSONFragmentValue(std::string_view text);
}  // namespace nsstring_dbjson
namespace nsobject_dbjson {
std::optional<std::string> JSONRepresentation(const fnd::Value& value);
std::optional<std::string> JSONFragment(const fnd::Value& value);
}  // namespace nsobject_dbjson

}  // namespace kesto
