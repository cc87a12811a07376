#pragma once

#include "Platform/Foundation/Date.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kesto::fnd {

class Value;

// Raw bytes.
using Data = std::vector<std::uint8_t>;
// An ordered list of values.
using Array = std::vector<Value>;
// Values by string key; iteration is in key order, which keeps written files stable.
using Dictionary = std::map<std::string, Value, std::less<>>;

// The base of every object a Value can refer to (store objects, errors, images, ...).
// Equality defaults to identity.
class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  virtual std::string description() const;
  virtual bool isEqual(const Object& other) const { return this == &other; }
};
using ObjectRef = std::shared_ptr<Object>;

// A dynamically typed value: null, boolean, integer, real, string (UTF-8), data, date, array,
// dictionary or object reference. Strings, data, arrays and dictionaries are shared and immutable
// once made, so copying a Value is cheap and a value stays small (a library holds dozens per
// bookmark, most of them empty or numbers).
class Value {
 public:
  enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(float d) : v_(static_cast<double>(d)) {}
  Value(const char* s) : v_(std::make_shared<const std::string>(s ? s : "")) {}
  Value(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
  Value(std::string_view s) : v_(std::make_shared<const std::string>(s)) {}
  Value(Data d) : v_(std::make_shared<const Data>(std::move(d))) {}
  Value(Date d) : v_(d) {}
  Value(Array a) : v_(std::make_shared<const Array>(std::move(a))) {}
  Value(Dictionary d) : v_(std::make_shared<const Dictionary>(std::move(d))) {}
  Value(ObjectRef o) : v_(std::move(o)) {
    if (!std::get<ObjectRef>(v_)) v_ = std::monostate{};
  }
  template <typename T, typename = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Value(std::shared_ptr<T> o) : Value(ObjectRef(std::move(o))) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isBoolean() const { return type() == Type::Boolean; }
  bool isInteger() const { return type() == Type::Integer; }
  bool isReal() const { return type() == Type::Real; }
  // Booleans, integers and reals are all numbers, as they are in stored files.
  bool isNumber() const { return isBoolean() || isInteger() || isReal(); }
  bool isString() const { return type() == Type::String; }
  bool isData() const { return type() == Type::Data; }
  bool isDate() const { return type() == Type::Date; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }
  bool isObject() const { return type() == Type::Object; }

  // Conversions in the forgiving manner of the stored formats: numbers convert between each
  // other, a string converts to a number by its leading digits; anything else gives the fallback.
  bool boolValue(bool fallback = false) const;
  std::int64_t intValue(std::int64_t fallback = 0) const;
  double doubleValue(double fallback = 0) const;

  // Typed access: the contents when the value has that type, else an empty one.
  const std::string& string() const;
  const Data& data() const;
  Date date() const;
  const Array& array() const;
  const Dictionary& dictionary() const;
  const ObjectRef& object() const;
  template <typename T>
  std::shared_ptr<T> objectAs() const {
    return std::dynamic_pointer_cast<T>(object());
  }

  // Absent when the value is not of that type.
  std::optional<std::string> stringIfString() const;
  std::optional<double> numberIfNumber() const;

  // For dictionaries: the value for `key`, or null. For other types: null.
  const Value& operator[](std::string_view key) const;
  // For arrays: the element at `index`, or null when out of range.
  const Value& at(std::size_t index) const;
  // Number of elements of an array or dictionary, bytes of data, UTF-8 bytes of a string.
  std::size_t size() const;

  // Equality as the stored formats see it: numbers compare by value across boolean, integer
  // and real; arrays and dictionaries compare element by element; objects by isEqual.
  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

  // A readable form for logs, in the style of property-list text ({ key = value; } and ( a, b )).
  std::string description() const;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::shared_ptr<const std::string>, std::shared_ptr<const Data>,
               Date, std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>, ObjectRef>
      v_;
};

// The shared null value, for functions that return a reference.
const Value& nullValue();

}  // namespace kesto::fnd
