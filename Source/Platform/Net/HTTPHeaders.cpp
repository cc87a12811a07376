#include "Platform/Net/HTTPHeaders.h"

#include <algorithm>

namespace kesto::net {

namespace {
bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

std::optional<std::string> HTTPHeaders::value(std::string_view name) const {
  for (const auto& f : fields_)
    if (sameName(f.first, name)) return f.second;
  return std::nullopt;
}

std::optional<std::string> HTTPHeaders::valueExact(std::string_view name) const {
  for (const auto& f : fields_)
    if (f.first == name) return f.second;
  return std::nullopt;
}

void HTTPHeaders::set(std::string_view name, std::string_view value) {
  for (auto& f : fields_) {
    if (sameName(f.first, name)) {
      f.second = std::string(value);
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
  for (auto& f : fields_) {
    if (sameName(f.first, name)) {
      f.second += ", ";
      f.second += value;
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaders::remove(std::string_view name) {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(), [&](const Field& f) { return sameName(f.first, name); }),
                fields_.end());
}

}  // namespace kesto::net
