#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesto::net {

// HTTP header fields: names compare without case, the first spelling set is kept (servers'
// spelling for responses), order is insertion order.
class HTTPHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  std::optional<std::string> value(std::string_view name) const;
  // Only a field spelled exactly `name`.
  std::optional<std::string> valueExact(std::string_view name) const;
  bool contains(std::string_view name) const { return value(name).has_value(); }
  // Replaces the value of an existing field (keeping its spelling) or adds one.
  void set(std::string_view name, std::string_view value);
  // Joins with ", " when the field exists, as repeated response fields combine.
  void add(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  std::size_t size() const { return fields_.size(); }

 private:
  std::vector<Field> fields_;
};

// Whether text can stand in a header line: no CR, LF or NUL (read from files and archives).
bool isSafeHeaderText(std::string_view text);

// A "Content-Range" value: "bytes 100-199/200", "bytes 100-199/*" or "bytes */200".
struct ContentRange {
  std::optional<std::uint64_t> first;  // absent for "*"
  std::optional<std::uint64_t> total;  // absent for "*"
  static std::optional<ContentRange> parse(std::string_view value);
};

}  // namespace kesto::net
