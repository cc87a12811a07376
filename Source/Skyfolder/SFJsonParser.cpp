#include "Skyfolder/SFJsonParser.h"

#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kesto {

namespace {

bool isJsonSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<fnd::Value> SFJsonParser::fragmentWithString(const std::string_view* text) {
  clearErrorTrace();
  // Bytes that are not UTF-8 could not have been a text in the first place.
  if (!text || !fnd::isValidUtf8(*text)) {
    addErrorWithCode(kSFJsonErrorNoInput, "Input was 'nil'");
    return std::nullopt;
  }
  depth_ = 0;
  c_ = text->data();
  // Reading stops at a NUL byte as it does at the end of the text.
  // An empty text may have no buffer at all, and memchr must not be given a null one.
  const void* nul = text->empty() ? nullptr : std::memchr(c_, 0, text->size());
  end_ = nul ? static_cast<const char*>(nul) : c_ + text->size();
  fnd::Value value;
  const bool ok = scanValue(value);
  if (ok) skipWhitespace();
  const bool atEnd = c_ >= end_;
  c_ = end_ = nullptr;
  if (!ok) return std::nullopt;
  if (!atEnd) {
    addErrorWithCode(kSFJsonErrorGarbage, "Garbage after JSON");
    return std::nullopt;
  }
  return value;
}

std::optional<fnd::Value> SFJsonParser::objectWithString(const std::string_view* text) {
  auto value = fragmentWithString(text);
  if (!value) return std::nullopt;
  if (!value->isDictionary() && !value->isArray()) {
    addErrorWithCode(kSFJsonErrorTopLevel, "Valid fragment, but not JSON");
    return std::nullopt;
  }
  return value;
}

void SFJsonParser::skipWhitespace() {
  while (c_ < end_ && isJsonSpace(static_cast<unsigned char>(*c_))) ++c_;
}

bool SFJsonParser::scanValue(fnd::Value& out) {
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
      out = fnd::Value(std::move(s));
      return true;
    }
    case 't':
      ++c_;
      return scanLiteral("rue", fnd::Value(true), "Expected 'true'", out);
    case 'f':
      ++c_;
      return scanLiteral("alse", fnd::Value(false), "Expected 'false'", out);
    case 'n':
      ++c_;
      return scanLiteral("ull", fnd::Value(), "Expected 'null'", out);
    case '+':
      addErrorWithCode(kSFJsonErrorNumber, "Leading + disallowed in number");
      return false;
    case 0:
      addErrorWithCode(kSFJsonErrorEndOfInput, "Unexpected end of string");
      return false;
    default:
      if (ch == '-' || isDigit(ch)) return scanNumber(out);
      addErrorWithCode(kSFJsonErrorSyntax, "Unrecognised leading character");
      return false;
  }
}

bool SFJsonParser::scanLiteral(const char* rest, fnd::Value value, const char* message, fnd::Value& out) {
  const std::size_t n = std::strlen(rest);
  if (static_cast<std::size_t>(end_ - c_) < n || std::memcmp(c_, rest, n) != 0) {
    addErrorWithCode(kSFJsonErrorSyntax, message);
    return false;
  }
  c_ += n;
  out = std::move(value);
  return true;
}

bool SFJsonParser::scanArray(fnd::Value& out) {
  if (!enterCollection()) return false;
  fnd::Array array;
  for (;;) {
    skipWhitespace();
    if (c_ >= end_) {
      addErrorWithCode(kSFJsonErrorEndOfInput, "End of input while parsing array");
      return false;
    }
    if (*c_ == ']') {
      ++c_;
      leaveCollection();
      out = fnd::Value(std::move(array));
      return true;
    }
    fnd::Value element;
    if (!scanValue(element)) {
      addErrorWithCode(kSFJsonErrorSyntax, "Expected value while parsing array");
      return false;
    }
    array.push_back(std::move(element));
    skipWhitespace();
    if (peek() == ',') {
      ++c_;
      skipWhitespace();
      if (peek() == ']') {
        addErrorWithCode(kSFJsonErrorTrailingComma, "Trailing comma disallowed in array");
        return false;
      }
    }
  }
}

bool SFJsonParser::scanObject(fnd::Value& out) {
  if (!enterCollection()) return false;
  if (c_ >= end_) {
    addErrorWithCode(kSFJsonErrorEndOfInput, "End of input while parsing object");
    return false;
  }
  fnd::Dictionary dict;
  for (;;) {
    skipWhitespace();
    if (c_ >= end_) {
      addErrorWithCode(kSFJsonErrorEndOfInput, "End of input while parsing object");
      return false;
    }
    if (*c_ == '}') {
      ++c_;
      leaveCollection();
      out = fnd::Value(std::move(dict));
      return true;
    }
    if (*c_ != '"') {
      addErrorWithCode(kSFJsonErrorSyntax, "Object key string expected");
      return false;
    }
    ++c_;
    std::string key;
    if (!scanString(key)) {
      addErrorWithCode(kSFJsonErrorSyntax, "Object key string expected");
      return false;
    }
    skipWhitespace();
    if (peek() != ':') {
      addErrorWithCode(kSFJsonErrorSyntax, "Expected ':' separating key and value");
      return false;
    }
    ++c_;
    fnd::Value value;
    if (!scanValue(value)) {
      addErrorWithCode(kSFJsonErrorSyntax, "Object value expected for key: " + key);
      return false;
    }
    dict.insert_or_assign(std::move(key), std::move(value));
    skipWhitespace();
    if (peek() == ',') {
      ++c_;
      skipWhitespace();
      if (peek() == '}') {
        addErrorWithCode(kSFJsonErrorTrailingComma, "Trailing comma disallowed in object");
        return false;
      }
    }
  }
}

bool SFJsonParser::scanString(std::string& out) {
  for (;;) {
    const char* run = c_;
    while (c_ < end_) {
      const auto b = static_cast<unsigned char>(*c_);
      if (b == '"' || b == '\\' || b < 0x20) break;
      ++c_;
    }
    out.append(run, c_);
    const unsigned char ch = peek();
    if (ch == '"') {
      ++c_;
      return true;
    }
    if (ch < 0x20) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "Unescaped control character '0x%x'", ch);
      addErrorWithCode(kSFJsonErrorControlCharacter, msg);
      return false;
    }
    // A backslash.
    ++c_;
    if (c_ >= end_) {
      addErrorWithCode(kSFJsonErrorEndOfInput, "Unexpected EOF while parsing string");
      return false;
    }
    const auto esc = static_cast<unsigned char>(*c_++);
    if (auto c = fnd::json::simpleEscape(static_cast<char>(esc))) {
      out += *c;
    } else if (esc == 'u') {
      if (!scanUnicodeChar(out)) {
        addErrorWithCode(kSFJsonErrorUnicode, "Broken unicode character");
        return false;
      }
    } else {
      char msg[64];
      std::snprintf(msg, sizeof msg, "Illegal escape sequence '0x%x'", esc);
      addErrorWithCode(kSFJsonErrorEscape, msg);
      return false;
    }
  }
}

bool SFJsonParser::scanUnicodeChar(std::string& out) {
  using fnd::json::UnicodeEscapeError;
  switch (fnd::json::readUnicodeEscape(c_, end_, out)) {
    case UnicodeEscapeError::None: return true;
    case UnicodeEscapeError::HighDigits:
      addErrorWithCode(kSFJsonErrorUnicode, "Missing hex digit in quad");
      addErrorWithCode(kSFJsonErrorUnicode, "Missing hex quad");
      return false;
    case UnicodeEscapeError::LoneLowSurrogate:
      addErrorWithCode(kSFJsonErrorUnicode, "Invalid high character in surrogate pair");
      return false;
    case UnicodeEscapeError::LowDigits:
      addErrorWithCode(kSFJsonErrorUnicode, "Missing hex digit in quad");
      [[fallthrough]];
    case UnicodeEscapeError::NoLowEscape:
      addErrorWithCode(kSFJsonErrorUnicode, "Missing low character in surrogate pair");
      return false;
    case UnicodeEscapeError::NotALowSurrogate:
      addErrorWithCode(kSFJsonErrorUnicode, "Invalid low surrogate char");
      return false;
  }
  return false;
}

bool SFJsonParser::scanNumber(fnd::Value& out) {
  const char* start = c_;
  bool integral = true;
  if (peek() == '-') {
    ++c_;
    if (!isDigit(peek())) {
      addErrorWithCode(kSFJsonErrorNumber, "No digits after initial minus");
      return false;
    }
  }
  if (peek() == '0') {
    ++c_;
    if (isDigit(peek())) {
      addErrorWithCode(kSFJsonErrorNumber, "Leading 0 disallowed in number");
      return false;
    }
  } else {
    while (isDigit(peek())) ++c_;
  }
  if (peek() == '.') {
    ++c_;
    integral = false;
    if (!isDigit(peek())) {
      addErrorWithCode(kSFJsonErrorNumber, "No digits after decimal point");
      return false;
    }
    while (isDigit(peek())) ++c_;
  }
  if (peek() == 'e' || peek() == 'E') {
    ++c_;
    integral = false;
    if (peek() == '+' || peek() == '-') ++c_;
    if (!isDigit(peek())) {
      addErrorWithCode(kSFJsonErrorNumber, "No digits after exponent");
      return false;
    }
    while (isDigit(peek())) ++c_;
  }
  auto value = fnd::json::numberValue(start, c_, integral);
  if (!value) {
    addErrorWithCode(kSFJsonErrorNumber, "Failed creating decimal instance");
    return false;
  }
  out = std::move(*value);
  return true;
}

}  // namespace kesto
