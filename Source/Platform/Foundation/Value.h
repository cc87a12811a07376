#pragma once

#include "Platform/Foundation/Date.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
// once made, so copying a Value is cheap and a value stays small (a library holds many per
// bookmark).
class Value {
 public:
  enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : type_(Type::Boolean) { u_.b = b; }
  Value(int i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(unsigned i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(long i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(long long i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(unsigned long i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(unsigned long long i) : Value(static_cast<std::int64_t>(i), Type::Integer) {}
  Value(double d) : type_(Type::Real) { u_.d = d; }
  Value(float d) : Value(static_cast<double>(d)) {}
  Value(const char* s) : Value(std::string(s ? s : "")) {}
  Value(std::string s);
  Value(std::string_view s) : Value(std::string(s)) {}
  Value(Data d);
  Value(Date d) : type_(Type::Date) { u_.d = d.timeIntervalSinceReferenceDate(); }
  Value(Array a);
  Value(Dictionary d);
  Value(ObjectRef o);
  template <typename T, typename = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Value(std::shared_ptr<T> o) : Value(ObjectRef(std::move(o))) {}

  Value(const Value& other) : u_(other.u_), type_(other.type_) { retain(); }
  Value(Value&& other) noexcept : u_(other.u_), type_(other.type_) { other.type_ = Type::Null; }
  Value& operator=(const Value& other) {
    if (this != &other) {
      other.retain();
      release();
      u_ = other.u_;
      type_ = other.type_;
    }
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      release();
      u_ = other.u_;
      type_ = other.type_;
      other.type_ = Type::Null;
    }
    return *this;
  }
  ~Value() { release(); }

  Type type() const { return type_; }
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
  // Texts, data, arrays, dictionaries and object references live in a shared box with a count
  // of the values that hold it; the rest sits in the value itself, which so stays 16 bytes.
  struct Box {
    std::atomic<std::int32_t> refs{1};
  };
  template <typename T>
  struct BoxOf;
  Value(std::int64_t i, Type t) : type_(t) { u_.i = i; }
  bool isBoxed() const { return type_ >= Type::String && type_ != Type::Date; }
  void retain() const {
    if (isBoxed()) u_.box->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void release() noexcept {
    if (isBoxed()) releaseBox();
  }
  void releaseBox() noexcept;
  template <typename T>
  const T& boxed() const;

  union Payload {
    bool b;
    std::int64_t i;
    double d;  // reals, and dates as seconds since the reference date
    Box* box;
  } u_{.i = 0};
  Type type_ = Type::Null;
};

// The shared null value, for functions that return a reference.
const Value& nullValue();

}  // namespace kesto::fnd
