#pragma once

#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kesto::fnd {

class Error;

enum class PropertyListFormat { OpenStep = 1, Xml = 100, Binary = 200 };

// Property lists to and from Value: XML ("<plist version="1.0">") and binary ("bplist00").
// Types: dictionary (string keys), array, string, data, date, integer, real, boolean. Null
// and object values cannot be written. Binary sets read as arrays and keyed-archive UIDs as
// {"CF$UID": n}. Input is untrusted: sizes, nesting and object references are checked.
class PropertyList {
 public:
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr long kReadCorruptError = 3840;
  static constexpr long kWriteInvalidError = 3851;
  static constexpr std::size_t kMaxInputBytes = 64u * 1024 * 1024;
  static constexpr int kMaxDepth = 512;

  // Reads either format, told apart by the "bplist00" header. `format`, when given, receives
  // the format read.
  static std::optional<Value> read(std::string_view bytes, PropertyListFormat* format = nullptr,
                                   Error* error = nullptr);
  static std::optional<Value> read(const Data& bytes, PropertyListFormat* format = nullptr, Error* error = nullptr);

  // Writes XML (tab-indented, with the usual DOCTYPE) or binary. OpenStep is not written.
  static std::optional<Data> write(const Value& value, PropertyListFormat format, Error* error = nullptr);

  // Whether write() accepts `value`.
  static bool isValid(const Value& value);
};

}  // namespace kesto::fnd
