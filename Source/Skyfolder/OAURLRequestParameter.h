#pragma once

#include "Platform/Foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

// One name/value parameter of a request to be signed. The value may be absent ("name=").
class OAURLRequestParameter {
 public:
  OAURLRequestParameter() = default;
  OAURLRequestParameter(std::string name, std::optional<std::string> value)
      : name_(std::move(name)), value_(std::move(value)) {}
  virtual ~OAURLRequestParameter() = default;

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::optional<std::string>& value() const { return value_; }
  void setValue(std::optional<std::string> value) { value_ = std::move(value); }

  // "name=value", both percent-encoded with the unreserved set.
  std::string URLEncodedParameterString() const;
  // By name, then by value, comparing bytes; <0, 0 or >0.
  int compare(const OAURLRequestParameter& other) const;
  bool operator<(const OAURLRequestParameter& other) const { return compare(other) < 0; }
  bool operator==(const OAURLRequestParameter& other) const { return compare(other) == 0; }
  std::string description() const;

  // "a=1&b=2" into parameters in text order; values are percent-decoded (an undecodable one is
  // absent), names are kept as they stand.
  static std::vector<OAURLRequestParameter> parametersFromString(std::string_view text);
  static std::vector<OAURLRequestParameter> parametersFromDictionary(const fnd::Dictionary& dictionary);
  // As parametersFromString into a dictionary; a later pair replaces an earlier one and a pair
  // whose value cannot be decoded is skipped.
  static fnd::Dictionary parameterDictionaryFromString(const std::string* text);
  static std::string parameterStringForParameters(const std::vector<OAURLRequestParameter>& parameters);
  static std::string parameterStringForDictionary(const fnd::Dictionary& dictionary);

 private:
  std::string name_;
  std::optional<std::string> value_;
};

}  // namespace kesto
