#pragma once

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

}  // namespace kesto::net
