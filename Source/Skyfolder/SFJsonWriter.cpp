#include "Skyfolder/SFJsonWriter.h"

#include "Platform/Foundation/JsonWriter.h"

namespace kesto {

namespace {

const char* typeName(const fnd::Value& v) {
  switch (v.type()) {
    case fnd::Value::Type::Data: return "Data";
    case fnd::Value::Type::Date: return "Date";
    case fnd::Value::Type::Real: return "Number";
    default: return "Object";
  }
}

}  // namespace

std::optional<std::string> SFJsonWriter::stringWithObject(const fnd::Value& value) {
  if (value.isDictionary() || value.isArray()) return stringWithFragment(value);
  clearErrorTrace();
  addErrorWithCode(kSFJsonErrorTopLevel, "Not valid type for JSON");
  return std::nullopt;
}

std::optional<std::string> SFJsonWriter::stringWithFragment(const fnd::Value& value) {
  clearErrorTrace();
  using Fault = fnd::json::Writer::Fault;
  fnd::json::Writer writer({humanReadable_, maxDepth_, false},
                           [this](Fault fault, const fnd::Value* culprit, const std::string* key) {
                             switch (fault) {
                               case Fault::Depth: addErrorWithCode(kSFJsonErrorDepth, "Nested too deep"); break;
                               case Fault::UnderKey:
                                 addErrorWithCode(kSFJsonErrorUnsupported, "Unsupported value for key " + *key + " in object");
                                 break;
                               default:
                                 addErrorWithCode(kSFJsonErrorUnsupported,
                                                  std::string("JSON serialisation not supported for ") + typeName(*culprit));
                             }
                           });
  return writer.write(value);
}

}  // namespace kesto
