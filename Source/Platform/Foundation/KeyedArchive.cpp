#include "Platform/Foundation/KeyedArchive.h"

#include "Platform/Foundation/PropertyList.h"

namespace kesto::fnd {

namespace {

constexpr const char* kClassKey = "$class";
constexpr const char* kArchiverKey = "$archiver";
constexpr const char* kVersionKey = "$version";
constexpr const char* kRootKey = "$root";
constexpr const char* kArchiverName = "KestoKeyedArchive";
constexpr const char* kErrorClass = "NSError";

bool reserved(std::string_view key) { return !key.empty() && key.front() == '$'; }

// A plain dictionary that looks like an object would be read back as one.
bool looksLikeObject(const Value& v) { return v.isDictionary() && v.dictionary().count(kClassKey); }

Error corrupt(std::string reason) {
  return Error::withDescription(kCocoaErrorDomain, KeyedUnarchiver::kReadCorruptError,
                                "The data couldn't be read because it isn't in the correct format. " + reason);
}

Value errorToPlist(const Error& e) {
  Dictionary info;
  for (const auto& [key, value] : e.userInfo()) {
    if (auto nested = value.objectAs<Error>())
      info[key] = errorToPlist(*nested);
    else if (value.isArray() && !value.array().empty() && value.at(0).objectAs<Error>()) {
      Array list;
      for (const auto& item : value.array())
        if (auto n = item.objectAs<Error>()) list.push_back(errorToPlist(*n));
      info[key] = Value(std::move(list));
    } else if (!looksLikeObject(value) && PropertyList::isValid(value)) {
      info[key] = value;
    }
  }
  return Value(Dictionary{{kClassKey, kErrorClass}, {"domain", e.domain()}, {"code", e.code()}, {"userInfo", Value(std::move(info))}});
}

std::optional<Error> errorFromPlist(const Value& v) {
  if (!v.isDictionary() || v[kClassKey].string() != kErrorClass || !v["domain"].isString() || !v["code"].isInteger())
    return std::nullopt;
  Dictionary info;
  for (const auto& [key, value] : v["userInfo"].dictionary()) {
    if (looksLikeObject(value)) {
      if (auto nested = errorFromPlist(value)) info[key] = Value(std::make_shared<Error>(*nested));
    } else if (value.isArray() && !value.array().empty() && looksLikeObject(value.at(0))) {
      Array list;
      for (const auto& item : value.array())
        if (auto n = errorFromPlist(item)) list.push_back(Value(std::make_shared<Error>(*n)));
      info[key] = Value(std::move(list));
    } else {
      info[key] = value;
    }
  }
  return Error(v["domain"].string(), v["code"].intValue(), std::move(info));
}

}  // namespace

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
  if (value.isNull()) return;
  if (reserved(key) || looksLikeObject(value) || !PropertyList::isValid(value)) {
    failed_ = true;
    return;
  }
  values_[std::string(key)] = value;
}

void KeyedArchiver::encodeObject(const Coding* object, std::string_view key) {
  if (!object) return;
  if (reserved(key)) {
    failed_ = true;
    return;
  }
  KeyedArchiver nested;
  object->encodeWithCoder(nested);
  failed_ = failed_ || nested.failed_;
  nested.values_[kClassKey] = object->codingClassName();
  values_[std::string(key)] = Value(std::move(nested.values_));
}

void KeyedArchiver::encodeObjects(const std::vector<const Coding*>& objects, std::string_view key) {
  if (reserved(key)) {
    failed_ = true;
    return;
  }
  Array list;
  for (const Coding* object : objects) {
    if (!object) continue;
    KeyedArchiver nested;
    object->encodeWithCoder(nested);
    failed_ = failed_ || nested.failed_;
    nested.values_[kClassKey] = object->codingClassName();
    list.push_back(Value(std::move(nested.values_)));
  }
  values_[std::string(key)] = Value(std::move(list));
}

void KeyedArchiver::encodeError(const Error& error, std::string_view key) {
  if (reserved(key)) {
    failed_ = true;
    return;
  }
  values_[std::string(key)] = errorToPlist(error);
}

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Coding& root, Error* error) {
  KeyedArchiver top;
  top.encodeObject(&root, "root");
  if (top.failed_) {
    if (error)
      *error = Error::withDescription(kCocoaErrorDomain, PropertyList::kWriteInvalidError,
                                      "The object holds a value that cannot be archived.");
    return std::nullopt;
  }
  Dictionary archive{{kArchiverKey, kArchiverName}, {kVersionKey, 1}, {kRootKey, top.values_["root"]}};
  return PropertyList::write(Value(std::move(archive)), PropertyListFormat::Binary, error);
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::forReadingFromData(const Data& data,
                                                                    const std::set<std::string>& allowedClasses,
                                                                    Error* error) {
  auto fail = [&](std::string reason) -> std::unique_ptr<KeyedUnarchiver> {
    if (error) *error = corrupt(std::move(reason));
    return nullptr;
  };
  if (data.size() > kMaxArchiveBytes) return fail("The archive is too large.");
  auto plist = PropertyList::read(data);
  if (!plist || !plist->isDictionary()) return fail("It is not a property list.");
  if ((*plist)[kArchiverKey].string() != kArchiverName || (*plist)[kVersionKey].intValue() != 1)
    return fail("It is not a keyed archive of a known version.");
  auto failure = std::make_shared<std::optional<Error>>();
  auto root = open((*plist)[kRootKey], allowedClasses, failure, "root");
  if (!root && error) *error = failure->value_or(corrupt("The root object is missing."));
  return root;
}

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::open(const Value& object, const std::set<std::string>& allowedClasses,
                                                       std::shared_ptr<std::optional<Error>> failure, std::string_view key) {
  if (!object.isDictionary() || !object[kClassKey].isString()) {
    if (!object.isNull() && !*failure) *failure = corrupt("The value for \"" + std::string(key) + "\" is not an object.");
    return nullptr;
  }
  const std::string& name = object[kClassKey].string();
  if (!allowedClasses.count(name)) {
    if (!*failure)
      *failure = corrupt("The value for \"" + std::string(key) + "\" is of class \"" + name + "\", which was not allowed.");
    return nullptr;
  }
  Dictionary values = object.dictionary();
  values.erase(kClassKey);
  return std::unique_ptr<KeyedUnarchiver>(new KeyedUnarchiver(name, std::move(values), std::move(failure)));
}

void KeyedUnarchiver::failWithError(Error error) {
  if (!*failure_) *failure_ = std::move(error);
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const { return values_.find(key) != values_.end(); }

std::optional<Value> KeyedUnarchiver::decodeObjectOfType(Value::Type type, std::string_view key) {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const Value& v = it->second;
  bool number = type == Value::Type::Integer || type == Value::Type::Real || type == Value::Type::Boolean;
  bool matches = number ? v.isNumber() : v.type() == type && !looksLikeObject(v);
  if (!matches) {
    failWithError(corrupt("The value for \"" + std::string(key) + "\" is not of the expected type."));
    return std::nullopt;
  }
  return v;
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
  auto v = decodeObjectOfType(Value::Type::String, key);
  return v ? std::optional<std::string>(v->string()) : std::nullopt;
}
std::int64_t KeyedUnarchiver::decodeInt64(std::string_view key, std::int64_t fallback) {
  auto v = decodeObjectOfType(Value::Type::Integer, key);
  return v ? v->intValue(fallback) : fallback;
}
bool KeyedUnarchiver::decodeBool(std::string_view key, bool fallback) {
  auto v = decodeObjectOfType(Value::Type::Boolean, key);
  return v ? v->boolValue(fallback) : fallback;
}
double KeyedUnarchiver::decodeDouble(std::string_view key, double fallback) {
  auto v = decodeObjectOfType(Value::Type::Real, key);
  return v ? v->doubleValue(fallback) : fallback;
}

std::optional<Error> KeyedUnarchiver::decodeError(std::string_view key) {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  auto e = errorFromPlist(it->second);
  if (!e) failWithError(corrupt("The value for \"" + std::string(key) + "\" is not an error."));
  return e;
}

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::decodeObjectOfClasses(std::string_view key,
                                                                       const std::set<std::string>& allowedClasses) {
  auto it = values_.find(key);
  if (it == values_.end()) return nullptr;
  return open(it->second, allowedClasses, failure_, key);
}

std::optional<std::vector<std::unique_ptr<KeyedUnarchiver>>> KeyedUnarchiver::decodeArrayOfObjectsOfClasses(
    std::string_view key, const std::set<std::string>& allowedClasses) {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  if (!it->second.isArray()) {
    failWithError(corrupt("The value for \"" + std::string(key) + "\" is not an array."));
    return std::nullopt;
  }
  std::vector<std::unique_ptr<KeyedUnarchiver>> out;
  for (const auto& item : it->second.array()) {
    auto object = open(item, allowedClasses, failure_, key);
    if (!object) {
      if (!*failure_) failWithError(corrupt("The array under \"" + std::string(key) + "\" holds a value that is not an object."));
      return std::nullopt;
    }
    out.push_back(std::move(object));
  }
  return out;
}

}  // namespace kesto::fnd
