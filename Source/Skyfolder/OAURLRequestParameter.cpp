#include "Skyfolder/OAURLRequestParameter.h"

#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/StringFormat.h"

#include <cstdio>

namespace kesto {

namespace {

template <typename F>
void scanPairs(std::string_view text, F&& onPair) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto eq = text.find('=', pos);
    const auto nameEnd = eq == std::string_view::npos ? text.size() : eq;
    std::string_view name = text.substr(pos, nameEnd - pos);
    pos = nameEnd == text.size() ? nameEnd : nameEnd + 1;
    const auto amp = text.find('&', pos);
    const auto valueEnd = amp == std::string_view::npos ? text.size() : amp;
    std::string_view value = text.substr(pos, valueEnd - pos);
    pos = valueEnd == text.size() ? valueEnd : valueEnd + 1;
    onPair(name, fnd::removePercentEscapes(value));
  }
}

std::string valueText(const fnd::Value& v) { return v.isString() ? v.string() : fnd::describe(v); }

}  // namespace

std::string OAURLRequestParameter::URLEncodedParameterString() const {
  return fnd::percentEncodeUnreserved(name_) + "=" + (value_ ? fnd::percentEncodeUnreserved(*value_) : "");
}

int OAURLRequestParameter::compare(const OAURLRequestParameter& other) const {
  if (const int c = name_.compare(other.name_)) return c;
  return value_.value_or("").compare(other.value_.value_or(""));
}

std::string OAURLRequestParameter::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<OAURLRequestParameter: " + std::string(address) + " " + URLEncodedParameterString() + ">";
}

std::vector<OAURLRequestParameter> OAURLRequestParameter::parametersFromString(std::string_view text) {
  std::vector<OAURLRequestParameter> out;
  scanPairs(text, [&](std::string_view name, std::optional<std::string> value) {
    out.emplace_back(std::string(name), std::move(value));
  });
  return out;
}

std::vector<OAURLRequestParameter> OAURLRequestParameter::parametersFromDictionary(const fnd::Dictionary& dictionary) {
  std::vector<OAURLRequestParameter> out;
  out.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) out.emplace_back(key, valueText(value));
  return out;
}

fnd::Dictionary OAURLRequestParameter::parameterDictionaryFromString(const std::string* text) {
  fnd::Dictionary out;
  if (!text) return out;
  scanPairs(*text, [&](std::string_view name, std::optional<std::string> value) {
    if (value) out.insert_or_assign(std::string(name), fnd::Value(std::move(*value)));
  });
  return out;
}

std::string OAURLRequestParameter::parameterStringForParameters(const std::vector<OAURLRequestParameter>& parameters) {
  std::string out;
  for (const auto& p : parameters) {
    if (!out.empty()) out += '&';
    out += p.URLEncodedParameterString();
  }
  return out;
}

std::string OAURLRequestParameter::parameterStringForDictionary(const fnd::Dictionary& dictionary) {
  return parameterStringForParameters(parametersFromDictionary(dictionary));
}

}  // namespace kesto
