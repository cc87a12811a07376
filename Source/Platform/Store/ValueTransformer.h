#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <string>

namespace kesto::store {

// Turns the value of a transformable attribute into stored data and back. Registered by name;
// the model names the transformer of each transformable attribute.
class ValueTransformer {
 public:
  virtual ~ValueTransformer() = default;
  // Value to data (null gives null).
  virtual fnd::Value transformedValue(const fnd::Value& value) const = 0;
  // Data to value (null gives null).
  virtual fnd::Value reverseTransformedValue(const fnd::Value& data) const = 0;

  static void registerTransformer(const std::string& name, std::shared_ptr<const ValueTransformer> t);
  // Null when none is registered: the value is stored as it is (data stays data).
  static std::shared_ptr<const ValueTransformer> named(const std::string& name);
};

}  // namespace kesto::store
