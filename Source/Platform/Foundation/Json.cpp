#include "Platform/Foundation/Json.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/JsonReader.h"
#include "Platform/Foundation/JsonWriter.h"
#include "Platform/Foundation/Strings.h"


namespace kesto::fnd {
namespace {

void failJson(Error* error, long code, const std::string& description) {
  if (error) *error = Error::withDescription(Json::kErrorDomain, code, description);
}

std::string writeFaultMessage(json::Writer::Fault fault, const Value* culprit) {
  using Fault = json::Writer::Fault;
  switch (fault) {
    case Fault::NotFinite: return "Invalid number value (infinite or not a number) in JSON write";
    case Fault::InvalidUtf8: return "Invalid UTF-8 string in JSON write";
    case Fault::Depth: return "JSON nesting too deep";
    case Fault::UnderKey: break;
    case Fault::Unsupported:
      switch (culprit ? culprit->type() : Value::Type::Object) {
        case Value::Type::Data: return "Invalid type in JSON write (data)";
        case Value::Type::Date: return "Invalid type in JSON write (date)";
        default: return "Invalid type in JSON write (object)";
      }
  }
  return "Invalid type in JSON write";
}

}  // namespace

std::optional<Value> Json::parse(std::string_view utf8, unsigned options, Error* error) {
  if (utf8.size() > kMaxInputBytes) {
    failJson(error, kReadCorruptError, "JSON text too large");
    return std::nullopt;
  }
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);  // a UTF-8 byte-order mark
  std::size_t b = 0;
  while (b < utf8.size() && (utf8[b] == ' ' || utf8[b] == '\t' || utf8[b] == '\n' || utf8[b] == '\r')) ++b;
  if (b == utf8.size()) {
    failJson(error, kReadCorruptError, "No value.");
    return std::nullopt;
  }
  if (utf8[b] != '{' && utf8[b] != '[' && !(options & AllowFragments)) {
    failJson(error, kReadCorruptError,
         "JSON text did not start with array or object and option to allow fragments not set.");
    return std::nullopt;
  }
  if (!isValidUtf8(utf8)) {
    failJson(error, kReadCorruptError, "Unable to convert data to string: the text is not valid UTF-8.");
    return std::nullopt;
  }
  // The shared reader in its strict form; the innermost fault says what went wrong, and where.
  std::optional<std::string> first;
  json::Reader reader({static_cast<unsigned>(kMaxDepth), false}, [&](json::Fault, const std::string& message) {
    if (!first) first = message;
  });
  auto value = reader.read(utf8.data(), utf8.data() + utf8.size());
  if (!value)
    failJson(error, kReadCorruptError, first.value_or("Invalid JSON") + " around character " +
                                           std::to_string(reader.offset()) + ".");
  return value;
}

std::optional<std::string> Json::write(const Value& value, unsigned options, Error* error) {
  if (!value.isArray() && !value.isDictionary() && !(options & FragmentsAllowed)) {
    failJson(error, kWriteInvalidError, "Invalid top-level type in JSON write");
    return std::nullopt;
  }
  // The shared writer, checking strings; the first fault is the one told.
  std::optional<std::string> first;
  json::Writer writer({(options & PrettyPrinted) != 0, static_cast<unsigned>(kMaxDepth), true},
                      [&](json::Writer::Fault fault, const Value* culprit, const std::string*) {
                        if (!first) first = writeFaultMessage(fault, culprit);
                      });
  auto text = writer.write(value);
  if (!text) failJson(error, kWriteInvalidError, first.value_or("Invalid type in JSON write"));
  return text;
}

bool Json::isValidJSONObject(const Value& value) {
  return (value.isArray() || value.isDictionary()) && write(value).has_value();
}

}  // namespace kesto::fnd
