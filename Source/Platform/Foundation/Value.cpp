#include "Platform/Foundation/Value.h"

#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>

#include <cctype>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kesto::fnd {

std::string Object::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<Object %p>", static_cast<const void*>(this));
  return buf;
}

const Value& nullValue() {
  static const Value v;
  return v;
}

namespace {
const std::string kEmptyString;
const Data kEmptyData;
const Array kEmptyArray;
const Dictionary kEmptyDictionary;
const ObjectRef kNoObject;
}  // namespace

template <typename T>
struct Value::BoxOf : Value::Box {
  explicit BoxOf(T v) : value(std::move(v)) {}
  const T value;
};

template <typename T>
const T& Value::boxed() const {
  return static_cast<const BoxOf<T>*>(u_.box)->value;
}

Value::Value(std::string s) : type_(Type::String) { u_.box = new BoxOf<std::string>(std::move(s)); }
Value::Value(Data d) : type_(Type::Data) { u_.box = new BoxOf<Data>(std::move(d)); }
Value::Value(Array a) : type_(Type::Array) { u_.box = new BoxOf<Array>(std::move(a)); }
Value::Value(Dictionary d) : type_(Type::Dictionary) { u_.box = new BoxOf<Dictionary>(std::move(d)); }
Value::Value(ObjectRef o) {
  if (!o) return;
  type_ = Type::Object;
  u_.box = new BoxOf<ObjectRef>(std::move(o));
}

void Value::releaseBox() noexcept {
  Box* box = u_.box;
  if (box->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  switch (type_) {
    case Type::String: delete static_cast<BoxOf<std::string>*>(box); break;
    case Type::Data: delete static_cast<BoxOf<Data>*>(box); break;
    case Type::Array: delete static_cast<BoxOf<Array>*>(box); break;
    case Type::Dictionary: delete static_cast<BoxOf<Dictionary>*>(box); break;
    case Type::Object: delete static_cast<BoxOf<ObjectRef>*>(box); break;
    default: break;
  }
}

bool Value::boolValue(bool fallback) const {
  switch (type()) {
    case Type::Boolean: return u_.b;
    case Type::Integer: return u_.i != 0;
    case Type::Real: return u_.d != 0;
    case Type::String: {
      const auto& s = string();
      for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n') continue;
        if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
        if (c >= '1' && c <= '9') return true;
        if (c == '+' || c == '-' || c == '0') continue;
        return false;
      }
      return false;
    }
    default: return fallback;
  }
}

std::int64_t Value::intValue(std::int64_t fallback) const {
  switch (type()) {
    case Type::Boolean: return u_.b ? 1 : 0;
    case Type::Integer: return u_.i;
    case Type::Real: {
      double d = u_.d;
      if (std::isnan(d)) return 0;
      if (d >= 9.2e18) return INT64_MAX;
      if (d <= -9.2e18) return INT64_MIN;
      return static_cast<std::int64_t>(d);
    }
    case Type::String: return leadingInteger(string());
    default: return fallback;
  }
}

double Value::doubleValue(double fallback) const {
  switch (type()) {
    case Type::Boolean: return u_.b ? 1.0 : 0.0;
    case Type::Integer: return static_cast<double>(u_.i);
    case Type::Real: return u_.d;
    // Not strtod: it follows the process locale's decimal point (Qt sets it from the
    // environment) and reads hexadecimal, "inf" and "nan".
    case Type::String: return leadingDouble(string());
    case Type::Date: return u_.d;
    default: return fallback;
  }
}

const std::string& Value::string() const { return type_ == Type::String ? boxed<std::string>() : kEmptyString; }
const Data& Value::data() const { return type_ == Type::Data ? boxed<Data>() : kEmptyData; }
Date Value::date() const { return type_ == Type::Date ? Date(u_.d) : Date(); }
const Array& Value::array() const { return type_ == Type::Array ? boxed<Array>() : kEmptyArray; }
const Dictionary& Value::dictionary() const { return type_ == Type::Dictionary ? boxed<Dictionary>() : kEmptyDictionary; }
const ObjectRef& Value::object() const { return type_ == Type::Object ? boxed<ObjectRef>() : kNoObject; }

std::optional<std::string> Value::stringIfString() const {
  if (type_ == Type::String) return boxed<std::string>();
  return std::nullopt;
}
std::optional<double> Value::numberIfNumber() const {
  if (!isNumber()) return std::nullopt;
  return doubleValue();
}

const Value& Value::operator[](std::string_view key) const {
  if (!isDictionary()) return nullValue();
  const auto& d = dictionary();
  auto it = d.find(key);
  return it == d.end() ? nullValue() : it->second;
}

const Value& Value::at(std::size_t index) const {
  if (!isArray()) return nullValue();
  const auto& a = array();
  return index < a.size() ? a[index] : nullValue();
}

std::size_t Value::size() const {
  switch (type()) {
    case Type::Array: return array().size();
    case Type::Dictionary: return dictionary().size();
    case Type::Data: return data().size();
    case Type::String: return string().size();
    default: return 0;
  }
}

bool Value::operator==(const Value& other) const {
  if (isNumber() && other.isNumber()) {
    if ((isInteger() || isBoolean()) && (other.isInteger() || other.isBoolean()))
      return intValue() == other.intValue();
    return doubleValue() == other.doubleValue();
  }
  if (type() != other.type()) return false;
  switch (type()) {
    case Type::Null: return true;
    case Type::String: return string() == other.string();
    case Type::Data: return data() == other.data();
    case Type::Date: return date() == other.date();
    case Type::Array: return array() == other.array();
    case Type::Dictionary: return dictionary() == other.dictionary();
    case Type::Object: {
      const auto& a = object();
      const auto& b = other.object();
      if (a == b) return true;
      return a && b && a->isEqual(*b);
    }
    default: return false;
  }
}

namespace {
void describe(const Value& v, std::ostringstream& out, int indent);

std::string quoted(const std::string& s) {
  bool plain = !s.empty();
  for (unsigned char c : s) {
    if (!(isAsciiLetterOrDigit(static_cast<char>(c)) || c == '_' || c == '.' || c == '/' || c == '$' || c == ':' || c >= 0x80)) {
      plain = false;
      break;
    }
  }
  if (plain) return s;
  std::string r = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') r += '\\';
    if (c == '\n') {
      r += "\\n";
      continue;
    }
    r += c;
  }
  return r + "\"";
}

void describe(const Value& v, std::ostringstream& out, int indent) {
  std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  switch (v.type()) {
    case Value::Type::Null: out << "<null>"; break;
    case Value::Type::Boolean: out << (v.boolValue() ? 1 : 0); break;
    case Value::Type::Integer: out << v.intValue(); break;
    case Value::Type::Real: {
      // The shortest text that reads back as the same number ("0.1", not "0.10000000000000001").
      out << shortestNumberText(v.doubleValue());
      break;
    }
    case Value::Type::String: out << quoted(v.string()); break;
    case Value::Type::Data: {
      static const char* hex = "0123456789abcdef";
      out << '<';
      const auto& d = v.data();
      for (std::size_t i = 0; i < d.size(); ++i) {
        if (i && i % 4 == 0) out << ' ';
        out << hex[d[i] >> 4] << hex[d[i] & 15];
      }
      out << '>';
      break;
    }
    case Value::Type::Date: out << v.date().description(); break;
    case Value::Type::Array: {
      out << "(\n";
      const auto& a = v.array();
      for (std::size_t i = 0; i < a.size(); ++i) {
        out << pad << "    ";
        describe(a[i], out, indent + 1);
        out << (i + 1 < a.size() ? ",\n" : "\n");
      }
      out << pad << ")";
      break;
    }
    case Value::Type::Dictionary: {
      out << "{\n";
      for (const auto& [k, e] : v.dictionary()) {
        out << pad << "    " << quoted(k) << " = ";
        describe(e, out, indent + 1);
        out << ";\n";
      }
      out << pad << "}";
      break;
    }
    case Value::Type::Object: out << v.object()->description(); break;
  }
}
}  // namespace

std::string Value::description() const {
  std::ostringstream out;
  describe(*this, out, 0);
  return out.str();
}

}  // namespace kesto::fnd
