#include "Platform/Foundation/Json.h"

#include "Platform/Foundation/Error.h"
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

// A strict RFC 8259 reader. Integral literals that fit in 64 bits become integers, everything
// with a fraction or exponent a real, so identifiers and byte counts never pass through double.
class JsonReader {
 public:
  JsonReader(std::string_view text, Error* error) : s_(text), error_(error) {}

  std::optional<Value> document() {
    skipSpace();
    auto v = value(0);
    if (!v) return std::nullopt;
    skipSpace();
    if (i_ != s_.size()) return bad("Garbage at end");
    return v;
  }

 private:
  std::optional<Value> bad(const char* what) {
    failJson(error_, Json::kReadCorruptError, std::string(what) + " around character " + std::to_string(i_) + ".");
    return std::nullopt;
  }
  void skipSpace() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  std::optional<Value> value(int depth) {
    if (depth > Json::kMaxDepth) return bad("Too many nested arrays or dictionaries");
    if (i_ >= s_.size()) return bad("Unexpected end of text");
    switch (s_[i_]) {
      case '{': return object(depth);
      case '[': return array(depth);
      case '"': {
        auto str = string();
        if (!str) return std::nullopt;
        return Value(std::move(*str));
      }
      case 't': if (literal("true")) return Value(true); break;
      case 'f': if (literal("false")) return Value(false); break;
      case 'n': if (literal("null")) return Value(); break;
      default:
        if (s_[i_] == '-' || (s_[i_] >= '0' && s_[i_] <= '9')) return number();
    }
    return bad("Invalid value");
  }

  std::optional<Value> object(int depth) {
    ++i_;
    Dictionary d;
    skipSpace();
    if (i_ < s_.size() && s_[i_] == '}') { ++i_; return Value(std::move(d)); }
    for (;;) {
      skipSpace();
      if (i_ >= s_.size() || s_[i_] != '"') return bad("No string key for value in object");
      auto key = string();
      if (!key) return std::nullopt;
      skipSpace();
      if (i_ >= s_.size() || s_[i_] != ':') return bad("No value for key in object");
      ++i_;
      skipSpace();
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      d[std::move(*key)] = std::move(*v);  // a repeated key keeps its last value
      skipSpace();
      if (i_ < s_.size() && s_[i_] == ',') { ++i_; continue; }
      if (i_ < s_.size() && s_[i_] == '}') { ++i_; return Value(std::move(d)); }
      return bad("Badly formed object");
    }
  }

  std::optional<Value> array(int depth) {
    ++i_;
    Array a;
    skipSpace();
    if (i_ < s_.size() && s_[i_] == ']') { ++i_; return Value(std::move(a)); }
    for (;;) {
      skipSpace();
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      a.push_back(std::move(*v));
      skipSpace();
      if (i_ < s_.size() && s_[i_] == ',') { ++i_; continue; }
      if (i_ < s_.size() && s_[i_] == ']') { ++i_; return Value(std::move(a)); }
      return bad("Badly formed array");
    }
  }

  std::optional<Value> number() {
    const std::size_t start = i_;
    if (s_[i_] == '-') ++i_;
    auto digits = [&] {
      const std::size_t b = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      return i_ - b;
    };
    if (i_ < s_.size() && s_[i_] == '0') {
      ++i_;
    } else if (digits() == 0) {
      return bad("Invalid number");
    }
    bool integral = true;
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      integral = false;
      if (digits() == 0) return bad("Invalid number");
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      integral = false;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (digits() == 0) return bad("Invalid number");
    }
    auto v = json::numberValue(s_.data() + start, s_.data() + i_, integral);
    return v ? v : bad("Number out of range");
  }

  std::optional<std::string> string() {
    ++i_;
    std::string out;
    for (;;) {
      if (i_ >= s_.size()) {
        bad("Unterminated string");
        return std::nullopt;
      }
      const char c = s_[i_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        bad("Unescaped control character");
        return std::nullopt;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (!escape(out)) {
        bad("Invalid escape sequence");
        return std::nullopt;
      }
    }
  }

  // One escape after the backslash, appended to `out`.
  bool escape(std::string& out) {
    if (i_ >= s_.size()) return false;
    const char letter = s_[i_++];
    if (auto c = json::simpleEscape(letter)) {
      out += *c;
      return true;
    }
    if (letter != 'u') return false;
    const char* p = s_.data() + i_;
    const bool ok = json::readUnicodeEscape(p, s_.data() + s_.size(), out) == json::UnicodeEscapeError::None;
    i_ = static_cast<std::size_t>(p - s_.data());
    return ok;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  Error* error_;
};

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
  return JsonReader(utf8, error).document();
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
