#pragma once

#include "Platform/Foundation/Value.h"

#include <string>

namespace kesto::store {

// Storage types of attributes. Integers and booleans are stored as INTEGER, doubles and dates as
// REAL (dates as seconds since 2001-01-01), strings as TEXT, binary and transformable as BLOB.
enum class AttributeType {
  Integer16,
  Integer32,
  Integer64,
  Double,
  Float,
  Boolean,
  String,
  Date,
  Binary,
  Transformable,
};

// One stored attribute of an entity.
struct AttributeDescription {
  std::string name;
  AttributeType type = AttributeType::String;
  bool optional = true;
  bool transient = false;  // kept in memory only, never stored
  bool indexed = false;    // gets an index on its column
  fnd::Value defaultValue;  // null: no default
  // Transformable attributes: the registered transformer that turns the value into data.
  std::string valueTransformerName;
  // Class name reported for the record layer's conversions ("NSString", "NSNumber", ...).
  std::string attributeValueClassName;
  fnd::Dictionary userInfo;

  // Binary and transformable attributes load only when read, never with a list.
  bool isLazy() const { return type == AttributeType::Binary || type == AttributeType::Transformable; }
  bool isNumeric() const;
};

// The readable name of a type ("integer 16", "string", ...), for errors and logs.
const char* attributeTypeName(AttributeType type);

}  // namespace kesto::store
