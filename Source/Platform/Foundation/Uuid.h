#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

// A random (version 4) universally unique identifier.
class Uuid {
 public:
  // A new random identifier.
  Uuid();
  explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

  // Parses the 8-4-4-4-12 hexadecimal form in either case; absent for anything else.
  static std::optional<Uuid> fromString(std::string_view text);

  // The canonical form: upper-case 8-4-4-4-12, e.g. "6BA7B810-9DAD-41D1-80B4-00C04FD430C8".
  std::string string() const;
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  bool operator==(const Uuid&) const = default;

  // Shorthand for Uuid().string().
  static std::string newString();

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

// New identifiers in quantity (an import makes one per record): the random bytes are drawn a
// block at a time instead of once per identifier. Not shared between threads.
class UuidGenerator {
 public:
  Uuid next();
  std::string nextString() { return next().string(); }

 private:
  std::vector<std::uint8_t> pool_;
  std::size_t at_ = 0;
};

}  // namespace kesto::fnd
