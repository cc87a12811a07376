#include "Network/NetQueryString.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Net/URLError.h"

namespace kesto {

std::string NetQueryValueDescription(const fnd::Value& value) {
  switch (value.type()) {
    case fnd::Value::Type::String: return value.string();
    case fnd::Value::Type::Boolean: return value.boolValue() ? "1" : "0";
    case fnd::Value::Type::Integer: return std::to_string(value.intValue());
    // The shortest text that reads back the same, as numbers describe themselves.
    case fnd::Value::Type::Real: return fnd::shortestNumberText(value.doubleValue());
    default: return value.description();
  }
}

namespace {
std::optional<std::string> encoded(std::string_view text, fnd::StringEncoding encoding) {
  if (encoding == fnd::kUTF8StringEncoding) return std::string(text);
  return fnd::encodeText(text, encoding);
}
}  // namespace

std::optional<std::string> NetEscapedQueryField(std::string_view field, fnd::StringEncoding encoding) {
  auto bytes = encoded(field, encoding);
  if (!bytes) return std::nullopt;
  return fnd::percentEncodeQueryField(*bytes);
}

std::optional<std::string> NetEscapedQueryValue(std::string_view value, fnd::StringEncoding encoding) {
  auto bytes = encoded(value, encoding);
  if (!bytes) return std::nullopt;
  return fnd::percentEncodeUnreserved(*bytes);
}

std::optional<std::string> NetQueryStringPair::URLEncodedStringValueWithEncoding(fnd::StringEncoding encoding) const {
  auto f = NetEscapedQueryField(field, encoding);
  if (!f) return std::nullopt;
  if (value.isNull()) return f;
  auto v = NetEscapedQueryValue(NetQueryValueDescription(value), encoding);
  if (!v) return std::nullopt;
  return *f + "=" + *v;
}

std::vector<NetQueryStringPair> NetFlattenedQueryPairs(const std::optional<std::string>& key, const fnd::Value& value) {
  std::vector<NetQueryStringPair> out;
  if (value.isDictionary()) {
    // The dictionary iterates in key order already (byte order, case-sensitive).
    for (const auto& [k, v] : value.dictionary()) {
      auto sub = NetFlattenedQueryPairs(key ? *key + "[" + k + "]" : k, v);
      out.insert(out.end(), std::make_move_iterator(sub.begin()), std::make_move_iterator(sub.end()));
    }
  } else if (value.isArray()) {
    std::string name = (key ? *key : std::string()) + "[]";
    for (const auto& e : value.array()) {
      auto sub = NetFlattenedQueryPairs(name, e);
      out.insert(out.end(), std::make_move_iterator(sub.begin()), std::make_move_iterator(sub.end()));
    }
  } else {
    out.emplace_back(key ? *key : std::string(), value);
  }
  return out;
}

std::vector<NetQueryStringPair> NetQueryPairsFromParameters(const fnd::Value& parameters) {
  return NetFlattenedQueryPairs(std::nullopt, parameters);
}

std::optional<std::string> NetQueryStringFromParameters(const fnd::Value& parameters, fnd::StringEncoding encoding,
                                                        fnd::Error* error) {
  std::string out;
  bool first = true;
  for (const auto& pair : NetQueryPairsFromParameters(parameters)) {
    auto text = pair.URLEncodedStringValueWithEncoding(encoding);
    if (!text) {
      if (error) {
        *error = fnd::Error(kNetURLRequestSerializationErrorDomain, net::urlerror::CannotDecodeRawData,
                            {{fnd::kLocalizedDescriptionKey, NetLocalizedString("Could not encode a parameter in the request's text encoding.")},
                             {fnd::kLocalizedFailureReasonKey, "Unrepresentable parameter: " + pair.field}});
      }
      return std::nullopt;
    }
    if (!first) out += "&";
    out += *text;
    first = false;
  }
  return out;
}

}  // namespace kesto
