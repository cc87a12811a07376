#include "Platform/Net/HTTPHeaders.h"

#include "Platform/Foundation/Strings.h"

#include <algorithm>

namespace kesto::net {

namespace {
bool sameName(std::string_view a, std::string_view b) { return fnd::asciiEqualsIgnoringCase(a, b); }
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

namespace {
std::optional<std::uint64_t> digits(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t n = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(ch - '0');
  }
  return n;
}
}  // namespace

bool isSafeHeaderText(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::optional<ContentRange> ContentRange::parse(std::string_view value) {
  constexpr std::string_view unit = "bytes ";
  if (value.substr(0, unit.size()) != unit) return std::nullopt;
  value.remove_prefix(unit.size());
  auto slash = value.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view range = value.substr(0, slash), total = value.substr(slash + 1);
  ContentRange out;
  if (total != "*" && !(out.total = digits(total))) return std::nullopt;
  if (range == "*") return out.total ? std::optional<ContentRange>(out) : std::nullopt;
  auto dash = range.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  out.first = digits(range.substr(0, dash));
  auto last = digits(range.substr(dash + 1));
  if (!out.first || !last || *last < *out.first || (out.total && *last >= *out.total)) return std::nullopt;
  return out;
}

}  // namespace kesto::net
