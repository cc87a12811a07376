#include "Platform/Foundation/Json.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/JsonReader.h"
#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cstdio>
#include <cmath>

namespace kesto::fnd {
namespace {

void failJson(Error* error, long code, const std::string& description) {
  if (error) *error = Error::withDescription(Json::kErrorDomain, code, description);
}

class Writer {
 public:
  Writer(bool pretty, Error* error) : pretty_(pretty), error_(error) {}
  std::string out;

  bool write(const Value& v, int depth) {
    if (depth > Json::kMaxDepth) return failJson("JSON nesting too deep");
    switch (v.type()) {
      case Value::Type::Null: out += "null"; return true;
      case Value::Type::Boolean: out += v.boolValue() ? "true" : "false"; return true;
      case Value::Type::Integer: {
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, v.intValue());
        out.append(buf, r.ptr);
        return true;
      }
      case Value::Type::Real: {
        const double d = v.doubleValue();
        if (!std::isfinite(d)) return failJson("Invalid number value (infinite or not a number) in JSON write");
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        out.append(buf, r.ptr);
        return true;
      }
      case Value::Type::String: return writeString(v.string());
      case Value::Type::Array: {
        const Array& a = v.array();
        if (a.empty()) { out += "[]"; return true; }
        out += '[';
        for (std::size_t i = 0; i < a.size(); ++i) {
          if (i) out += ',';
          newline(depth + 1);
          if (!write(a[i], depth + 1)) return false;
        }
        newline(depth);
        out += ']';
        return true;
      }
      case Value::Type::Dictionary: {
        const Dictionary& d = v.dictionary();
        if (d.empty()) { out += "{}"; return true; }
        out += '{';
        bool first = true;
        for (const auto& [k, e] : d) {
          if (!first) out += ',';
          first = false;
          newline(depth + 1);
          if (!writeString(k)) return false;
          out += pretty_ ? " : " : ":";
          if (!write(e, depth + 1)) return false;
        }
        newline(depth);
        out += '}';
        return true;
      }
      case Value::Type::Data: return failJson("Invalid type in JSON write (data)");
      case Value::Type::Date: return failJson("Invalid type in JSON write (date)");
      case Value::Type::Object: return failJson("Invalid type in JSON write (object)");
    }
    return failJson("Invalid type in JSON write");
  }

 private:
  bool failJson(const std::string& message) {
    kesto::fnd::failJson(error_, Json::kWriteInvalidError, message);
    return false;
  }
  void newline(int depth) {
    if (!pretty_) return;
    out += '\n';
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
  }
  bool writeString(const std::string& s) {
    if (!isValidUtf8(s)) return failJson("Invalid UTF-8 string in JSON write");
    json::appendQuoted(out, s);
    return true;
  }

  bool pretty_;
  Error* error_;
};

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
  Writer w(options & PrettyPrinted, error);
  if (!w.write(value, 0)) return std::nullopt;
  return std::move(w.out);
}

bool Json::isValidJSONObject(const Value& value) {
  return (value.isArray() || value.isDictionary()) && write(value).has_value();
}

}  // namespace kesto::fnd
