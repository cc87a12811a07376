#include "Platform/Foundation/JsonReader.h"

#include "Platform/Foundation/JsonText.h"

#include <cstdio>
#include <cstring>

namespace kesto::fnd::json {

namespace {
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::optional<Value> Reader::read(const char* begin, const char* end) {
  begin_ = c_ = begin;
  end_ = end;
  depth_ = 0;
  Value value;
  const bool ok = scanValue(value);
  if (ok) skipWhitespace();
  const bool atEnd = c_ >= end_;
  offset_ = static_cast<std::size_t>(c_ - begin_);
  begin_ = c_ = end_ = nullptr;
  if (!ok) return std::nullopt;
  if (!atEnd) {
    fault(Fault::Garbage, "Garbage after JSON");
    return std::nullopt;
  }
  return value;
}

bool Reader::fault(Fault kind, const std::string& message) {
  if (sink_) sink_(kind, message);
  return false;
}

void Reader::skipWhitespace() {
  while (c_ < end_) {
    const auto c = static_cast<unsigned char>(*c_);
    const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || (options_.lenient && (c == '\v' || c == '\f'));
    if (!space) break;
    ++c_;
  }
}

bool Reader::enterCollection() {
  ++depth_;
  if (options_.maxDepth != 0 && depth_ > options_.maxDepth) return fault(Fault::Depth, "Nested too deep");
  return true;
}

bool Reader::scanValue(Value& out) {
  skipWhitespace();
  const unsigned char ch = peek();
  switch (ch) {
    case '[':
      ++c_;
      return scanArray(out);
    case '{':
      ++c_;
      return scanObject(out);
    case '"': {
      ++c_;
      std::string s;
      if (!scanString(s)) return false;
      out = Value(std::move(s));
      return true;
    }
    case 't':
      ++c_;
      return scanLiteral("rue", Value(true), "Expected 'true'", out);
    case 'f':
      ++c_;
      return scanLiteral("alse", Value(false), "Expected 'false'", out);
    case 'n':
      ++c_;
      return scanLiteral("ull", Value(), "Expected 'null'", out);
    case '+': return fault(Fault::Number, "Leading + disallowed in number");
    case 0: return fault(Fault::EndOfInput, "Unexpected end of string");
    default:
      if (ch == '-' || isDigit(ch)) return scanNumber(out);
      return fault(Fault::Syntax, "Unrecognised leading character");
  }
}

bool Reader::scanLiteral(const char* rest, Value value, const char* message, Value& out) {
  const std::size_t n = std::strlen(rest);
  if (static_cast<std::size_t>(end_ - c_) < n || std::memcmp(c_, rest, n) != 0) return fault(Fault::Syntax, message);
  c_ += n;
  out = std::move(value);
  return true;
}

bool Reader::scanSeparator(char close, const char* what) {
  skipWhitespace();
  if (peek() == ',') {
    ++c_;
    skipWhitespace();
    if (peek() == static_cast<unsigned char>(close))
      return fault(Fault::TrailingComma, std::string("Trailing comma disallowed in ") + what);
    return true;
  }
  if (options_.lenient || c_ >= end_ || peek() == static_cast<unsigned char>(close)) return true;
  return fault(Fault::Syntax, std::string("Expected ',' or '") + close + "' in " + what);
}

bool Reader::scanMembers(char close, const char* what, const std::function<bool()>& member) {
  if (!enterCollection()) return false;
  for (;;) {
    skipWhitespace();
    if (c_ >= end_) return fault(Fault::EndOfInput, std::string("End of input while parsing ") + what);
    if (*c_ == close) {
      ++c_;
      --depth_;
      return true;
    }
    if (!member() || !scanSeparator(close, what)) return false;
  }
}

bool Reader::scanArray(Value& out) {
  Array array;
  bool ok = scanMembers(']', "array", [&] {
    Value element;
    if (!scanValue(element)) return fault(Fault::Syntax, "Expected value while parsing array");
    array.push_back(std::move(element));
    return true;
  });
  if (ok) out = Value(std::move(array));
  return ok;
}

bool Reader::scanObject(Value& out) {
  Dictionary dict;
  bool ok = scanMembers('}', "object", [&] {
    if (*c_ != '"') return fault(Fault::Syntax, "Object key string expected");
    ++c_;
    std::string key;
    if (!scanString(key)) return fault(Fault::Syntax, "Object key string expected");
    skipWhitespace();
    if (peek() != ':') return fault(Fault::Syntax, "Expected ':' separating key and value");
    ++c_;
    Value value;
    if (!scanValue(value)) return fault(Fault::Syntax, "Object value expected for key: " + key);
    dict.insert_or_assign(std::move(key), std::move(value));
    return true;
  });
  if (ok) out = Value(std::move(dict));
  return ok;
}

bool Reader::scanString(std::string& out) {
  for (;;) {
    const char* run = c_;
    while (c_ < end_) {
      const auto b = static_cast<unsigned char>(*c_);
      if (b == '"' || b == '\\' || b < 0x20) break;
      ++c_;
    }
    out.append(run, c_);
    // The end of the text reads as a NUL here: an unterminated string ends in a control character.
    const unsigned char ch = peek();
    if (ch == '"') {
      ++c_;
      return true;
    }
    if (ch < 0x20) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "Unescaped control character '0x%x'", ch);
      return fault(Fault::ControlCharacter, msg);
    }
    // A backslash.
    ++c_;
    if (c_ >= end_) return fault(Fault::EndOfInput, "Unexpected EOF while parsing string");
    const auto esc = static_cast<unsigned char>(*c_++);
    if (auto c = simpleEscape(static_cast<char>(esc))) {
      out += *c;
    } else if (esc == 'u') {
      if (!scanUnicodeChar(out)) return fault(Fault::Unicode, "Broken unicode character");
    } else {
      char msg[64];
      std::snprintf(msg, sizeof msg, "Illegal escape sequence '0x%x'", esc);
      return fault(Fault::Escape, msg);
    }
  }
}

bool Reader::scanUnicodeChar(std::string& out) {
  switch (readUnicodeEscape(c_, end_, out)) {
    case UnicodeEscapeError::None: return true;
    case UnicodeEscapeError::HighDigits:
      fault(Fault::Unicode, "Missing hex digit in quad");
      return fault(Fault::Unicode, "Missing hex quad");
    case UnicodeEscapeError::LoneLowSurrogate: return fault(Fault::Unicode, "Invalid high character in surrogate pair");
    case UnicodeEscapeError::LowDigits:
      fault(Fault::Unicode, "Missing hex digit in quad");
      return fault(Fault::Unicode, "Missing low character in surrogate pair");
    case UnicodeEscapeError::NoLowEscape: return fault(Fault::Unicode, "Missing low character in surrogate pair");
    case UnicodeEscapeError::NotALowSurrogate: return fault(Fault::Unicode, "Invalid low surrogate char");
  }
  return false;
}

bool Reader::scanNumber(Value& out) {
  const char* start = c_;
  bool integral = true;
  if (peek() == '-') {
    ++c_;
    if (!isDigit(peek())) return fault(Fault::Number, "No digits after initial minus");
  }
  if (peek() == '0') {
    ++c_;
    if (isDigit(peek())) return fault(Fault::Number, "Leading 0 disallowed in number");
  } else {
    while (isDigit(peek())) ++c_;
  }
  if (peek() == '.') {
    ++c_;
    integral = false;
    if (!isDigit(peek())) return fault(Fault::Number, "No digits after decimal point");
    while (isDigit(peek())) ++c_;
  }
  if (peek() == 'e' || peek() == 'E') {
    ++c_;
    integral = false;
    if (peek() == '+' || peek() == '-') ++c_;
    if (!isDigit(peek())) return fault(Fault::Number, "No digits after exponent");
    while (isDigit(peek())) ++c_;
  }
  auto value = numberValue(start, c_, integral);
  if (!value) return fault(Fault::Number, "Failed creating decimal instance");
  out = std::move(*value);
  return true;
}

}  // namespace kesto::fnd::json
