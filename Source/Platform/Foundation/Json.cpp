#include "Platform/Foundation/Json.h"

#include "Platform/Foundation/Error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <charconv>
#include <cstdio>
#include <cmath>

namespace kesto::fnd {
namespace {

void fail(Error* error, long code, const std::string& description) {
  if (error) *error = Error::withDescription(Json::kErrorDomain, code, description);
}

Value fromQt(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::Bool:
      return Value(v.toBool());
    case QJsonValue::Double: {
      // Qt keeps integral literals that fit in 64 bits as integers; they must not pass
      // through a double (identifiers, byte counts, revisions).
      const QVariant var = v.toVariant();
      if (var.typeId() == QMetaType::LongLong) return Value(static_cast<long long>(var.toLongLong()));
      return Value(v.toDouble());
    }
    case QJsonValue::String: {
      const QByteArray utf8 = v.toString().toUtf8();
      return Value(std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    }
    case QJsonValue::Array: {
      const QJsonArray a = v.toArray();
      Array out;
      out.reserve(static_cast<std::size_t>(a.size()));
      for (const QJsonValue& e : a) out.push_back(fromQt(e));
      return Value(std::move(out));
    }
    case QJsonValue::Object: {
      const QJsonObject o = v.toObject();
      Dictionary out;
      for (auto it = o.begin(); it != o.end(); ++it) {
        const QByteArray k = it.key().toUtf8();
        out[std::string(k.constData(), static_cast<std::size_t>(k.size()))] = fromQt(it.value());
      }
      return Value(std::move(out));
    }
    default:
      return Value();
  }
}

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = cp << 6 | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

class Writer {
 public:
  Writer(bool pretty, Error* error) : pretty_(pretty), error_(error) {}
  std::string out;

  bool write(const Value& v, int depth) {
    if (depth > Json::kMaxDepth) return fail("JSON nesting too deep");
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
        if (!std::isfinite(d)) return fail("Invalid number value (infinite or not a number) in JSON write");
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
      case Value::Type::Data: return fail("Invalid type in JSON write (data)");
      case Value::Type::Date: return fail("Invalid type in JSON write (date)");
      case Value::Type::Object: return fail("Invalid type in JSON write (object)");
    }
    return fail("Invalid type in JSON write");
  }

 private:
  bool fail(const std::string& message) {
    kesto::fnd::fail(error_, Json::kWriteInvalidError, message);
    return false;
  }
  void newline(int depth) {
    if (!pretty_) return;
    out += '\n';
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
  }
  bool writeString(const std::string& s) {
    if (!isValidUtf8(s)) return fail("Invalid UTF-8 string in JSON write");
    out += '"';
    for (char ch : s) {
      const unsigned char c = static_cast<unsigned char>(ch);
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
          } else {
            out += ch;
          }
      }
    }
    out += '"';
    return true;
  }

  bool pretty_;
  Error* error_;
};

}  // namespace

std::optional<Value> Json::parse(std::string_view utf8, unsigned options, Error* error) {
  if (utf8.size() > kMaxInputBytes) {
    fail(error, kReadCorruptError, "JSON text too large");
    return std::nullopt;
  }
  // Leading and trailing white space is allowed; nothing else around the value.
  std::size_t b = 0, e = utf8.size();
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (b < e && space(utf8[b])) ++b;
  while (e > b && space(utf8[e - 1])) --e;
  const std::string_view body = utf8.substr(b, e - b);
  if (body.empty()) {
    fail(error, kReadCorruptError, "No value.");
    return std::nullopt;
  }
  const bool container = body.front() == '{' || body.front() == '[';
  if (!container && !(options & AllowFragments)) {
    fail(error, kReadCorruptError, "JSON text did not start with array or object and option to allow fragments not set.");
    return std::nullopt;
  }
  if (!isValidUtf8(body)) {
    fail(error, kReadCorruptError, "Unable to convert data to string: the text is not valid UTF-8.");
    return std::nullopt;
  }
  // Qt reads only objects and arrays at the top; a fragment is read as the element of an array.
  QByteArray text;
  if (container) {
    text = QByteArray(body.data(), static_cast<qsizetype>(body.size()));
  } else {
    text.reserve(static_cast<qsizetype>(body.size() + 2));
    text.append('[').append(body.data(), static_cast<qsizetype>(body.size())).append(']');
  }
  QJsonParseError pe;
  const QJsonDocument doc = QJsonDocument::fromJson(text, &pe);
  if (pe.error != QJsonParseError::NoError || doc.isNull()) {
    const long offset = static_cast<long>(b) + pe.offset - (container ? 0 : 1);
    fail(error, kReadCorruptError,
         pe.errorString().toStdString() + " around character " + std::to_string(offset < 0 ? 0 : offset) + ".");
    return std::nullopt;
  }
  Value v = doc.isArray() ? fromQt(QJsonValue(doc.array())) : fromQt(QJsonValue(doc.object()));
  if (!container) {
    if (v.size() != 1) {
      fail(error, kReadCorruptError, "Garbage at end.");
      return std::nullopt;
    }
    return v.at(0);
  }
  return v;
}

std::optional<std::string> Json::write(const Value& value, unsigned options, Error* error) {
  if (!value.isArray() && !value.isDictionary() && !(options & FragmentsAllowed)) {
    fail(error, kWriteInvalidError, "Invalid top-level type in JSON write");
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
