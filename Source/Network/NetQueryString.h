#pragma once

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <optional>
#include <string>
#include <vector>

namespace kesto {

// One flattened parameter. A null value renders as the bare field.
struct NetQueryStringPair {
  NetQueryStringPair(std::string field, fnd::Value value) : field(std::move(field)), value(std::move(value)) {}
  std::string field;
  fnd::Value value;

  // "field=value" escaped in `encoding`; absent when the text cannot be represented in it.
  std::optional<std::string> URLEncodedStringValueWithEncoding(fnd::StringEncoding encoding) const;
};

// A value's text as the query string shows it: numbers in decimal, booleans "1"/"0".
std::string NetQueryValueDescription(const fnd::Value& value);

// Field escaping keeps letters, digits, "-._~" and "[]"; value escaping keeps no brackets.
// Absent when the text cannot be represented in `encoding`.
std::optional<std::string> NetEscapedQueryField(std::string_view field, fnd::StringEncoding encoding);
std::optional<std::string> NetEscapedQueryValue(std::string_view value, fnd::StringEncoding encoding);

// Dictionaries in sorted key order with "key[sub]" names, arrays as "key[]" repeated.
std::vector<NetQueryStringPair> NetFlattenedQueryPairs(const std::optional<std::string>& key, const fnd::Value& value);
std::vector<NetQueryStringPair> NetQueryPairsFromParameters(const fnd::Value& parameters);
// The pairs joined with "&"; absent (with an error) for text the encoding cannot carry.
std::optional<std::string> NetQueryStringFromParameters(const fnd::Value& parameters, fnd::StringEncoding encoding,
                                                        fnd::Error* error = nullptr);

}  // namespace kesto
