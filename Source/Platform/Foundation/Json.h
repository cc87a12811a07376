#pragma once

#include "Platform/Foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

namespace kesto::fnd {

class Error;

// The platform's JSON serializer: UTF-8 JSON text to and from Value.
// Objects become dictionaries, arrays arrays, strings strings, true/false booleans, numbers
// integers when they are whole and fit in 64 bits (else reals), and null the null Value.
class Json {
 public:
  enum ReadingOptions : unsigned {
    // Containers and leaves are always fresh values here; the bits are accepted for callers
    // that pass them through.
    MutableContainers = 1 << 0,
    MutableLeaves = 1 << 1,
    // Accept a top-level value that is neither an object nor an array.
    AllowFragments = 1 << 2,
  };
  enum WritingOptions : unsigned {
    PrettyPrinted = 1 << 0,
    // Keys are always written in sorted order (dictionaries are ordered by key).
    SortedKeys = 1 << 1,
    // Write a top-level value that is neither an object nor an array.
    FragmentsAllowed = 1 << 2,
  };

  // Error domain and codes of reading and writing failures.
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr long kReadCorruptError = 3840;  // the text is not valid JSON
  static constexpr long kWriteInvalidError = 3851;  // a value JSON cannot carry

  // Inputs larger than this are refused without parsing; so is nesting deeper than kMaxDepth.
  static constexpr std::size_t kMaxInputBytes = 256u * 1024 * 1024;
  static constexpr int kMaxDepth = 512;

  // Parses UTF-8 JSON text. Absent (with `error` filled when given) when the text is empty,
  // not JSON, not UTF-8, or a bare fragment without AllowFragments.
  static std::optional<Value> parse(std::string_view utf8, unsigned options = 0, Error* error = nullptr);

  // Writes `value` as UTF-8 JSON text. Absent (with `error`) when the value holds dates, data,
  // objects, non-finite reals, or is a bare fragment without FragmentsAllowed.
  static std::optional<std::string> write(const Value& value, unsigned options = 0, Error* error = nullptr);

  // Whether write() would accept `value` as a top-level object or array.
  static bool isValidJSONObject(const Value& value);
};

}  // namespace kesto::fnd
