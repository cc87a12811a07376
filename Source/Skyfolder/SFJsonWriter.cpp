#include "Skyfolder/SFJsonWriter.h"

#include "Platform/Foundation/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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
  depth_ = 0;
  std::string out;
  if (!appendValue(value, out)) return std::nullopt;
  return out;
}

bool SFJsonWriter::appendValue(const fnd::Value& value, std::string& out) {
  switch (value.type()) {
    case fnd::Value::Type::Dictionary:
      return appendDictionary(value.dictionary(), out);
    case fnd::Value::Type::Array:
      return appendArray(value.array(), out);
    case fnd::Value::Type::String:
      appendString(value.string(), out);
      return true;
    case fnd::Value::Type::Boolean:
      out += value.boolValue() ? "true" : "false";
      return true;
    case fnd::Value::Type::Integer:
      out += std::to_string(value.intValue());
      return true;
    case fnd::Value::Type::Real: {
      const double d = value.doubleValue();
      // NaN and infinity have no JSON form; writing them as text would make unreadable output.
      if (!std::isfinite(d)) break;
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, d);
      out.append(buf, r.ptr);
      return true;
    }
    case fnd::Value::Type::Null:
      out += "null";
      return true;
    default:
      break;
  }
  addErrorWithCode(kSFJsonErrorUnsupported, std::string("JSON serialisation not supported for ") + typeName(value));
  return false;
}

void SFJsonWriter::appendIndent(std::string& out) {
  out += '\n';
  out.append(2 * static_cast<std::size_t>(depth_), ' ');
}

bool SFJsonWriter::appendArray(const fnd::Array& array, std::string& out) {
  if (!enterCollection()) return false;
  out += '[';
  bool first = true;
  for (const auto& element : array) {
    if (!first) out += ',';
    first = false;
    if (humanReadable_) appendIndent(out);
    if (!appendValue(element, out)) return false;
  }
  leaveCollection();
  if (humanReadable_ && !array.empty()) appendIndent(out);
  out += ']';
  return true;
}

bool SFJsonWriter::appendDictionary(const fnd::Dictionary& dict, std::string& out) {
  if (!enterCollection()) return false;
  out += '{';
  bool first = true;
  for (const auto& [key, value] : dict) {
    if (!first) out += ',';
    first = false;
    if (humanReadable_) appendIndent(out);
    appendString(key, out);
    out += humanReadable_ ? " : " : ":";
    if (!appendValue(value, out)) {
      addErrorWithCode(kSFJsonErrorUnsupported, "Unsupported value for key " + key + " in object");
      return false;
    }
  }
  leaveCollection();
  if (humanReadable_ && !dict.empty()) appendIndent(out);
  out += '}';
  return true;
}

void SFJsonWriter::appendString(const std::string& s, std::string& out) { fnd::json::appendQuoted(out, s); }

}  // namespace kesto
