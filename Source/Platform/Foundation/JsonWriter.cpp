#include "Platform/Foundation/JsonWriter.h"

#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cmath>

namespace kesto::fnd::json {

std::optional<std::string> Writer::write(const Value& value) {
  out_.clear();
  depth_ = 0;
  if (!append(value)) return std::nullopt;
  return std::move(out_);
}

bool Writer::fault(Fault kind, const Value* culprit, const std::string* key) {
  if (sink_) sink_(kind, culprit, key);
  return false;
}

void Writer::newline() {
  if (!options_.pretty) return;
  out_ += '\n';
  out_.append(2 * static_cast<std::size_t>(depth_), ' ');
}

bool Writer::appendString(const std::string& s) {
  if (options_.checkUtf8 && !isValidUtf8(s)) return fault(Fault::InvalidUtf8);
  appendQuoted(out_, s);
  return true;
}

bool Writer::append(const Value& value) {
  switch (value.type()) {
    case Value::Type::Null: out_ += "null"; return true;
    case Value::Type::Boolean: out_ += value.boolValue() ? "true" : "false"; return true;
    case Value::Type::Integer: {
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, value.intValue());
      out_.append(buf, r.ptr);
      return true;
    }
    case Value::Type::Real: {
      const double d = value.doubleValue();
      // NaN and infinity have no JSON form; writing them as text would make unreadable output.
      if (!std::isfinite(d)) return fault(Fault::NotFinite, &value);
      out_ += shortestNumberText(d);
      return true;
    }
    case Value::Type::String: return appendString(value.string());
    case Value::Type::Array:
    case Value::Type::Dictionary: break;
    default: return fault(Fault::Unsupported, &value);
  }
  if (options_.maxDepth != 0 && depth_ + 1 > options_.maxDepth) return fault(Fault::Depth, &value);
  const bool isArray = value.isArray();
  const bool empty = isArray ? value.array().empty() : value.dictionary().empty();
  ++depth_;
  out_ += isArray ? '[' : '{';
  bool first = true;
  auto next = [&] {
    if (!first) out_ += ',';
    first = false;
    newline();
  };
  if (isArray) {
    for (const auto& element : value.array()) {
      next();
      if (!append(element)) return false;
    }
  } else {
    for (const auto& [key, element] : value.dictionary()) {
      next();
      if (!appendString(key)) return false;
      out_ += options_.pretty ? " : " : ":";
      if (!append(element)) return fault(Fault::UnderKey, &element, &key);
    }
  }
  --depth_;
  if (!empty) newline();
  out_ += isArray ? ']' : '}';
  return true;
}

}  // namespace kesto::fnd::json
