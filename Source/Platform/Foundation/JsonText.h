#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The pieces of JSON text every reader and writer here shares: string quoting, escapes, and
// numbers. The readers differ only in how they report a failure.
namespace kesto::fnd::json {

// `s` as a JSON string: quotes, backslashes and control characters escaped, the rest as it is.
void appendQuoted(std::string& out, std::string_view s);
// The character a one-letter escape stands for (after the backslash); absent for "u" and for
// letters that are no escape.
std::optional<char> simpleEscape(char letter);

enum class UnicodeEscapeError {
  None,
  HighDigits,        // fewer than four hex digits
  LoneLowSurrogate,  // a low surrogate with no high one before it
  NoLowEscape,       // a high surrogate not followed by "\u"
  LowDigits,         // fewer than four hex digits in the low half
  NotALowSurrogate,  // a high surrogate followed by something else
};
// Reads the digits of a "\u" escape from `p` (just after the "u"), a surrogate pair's second
// escape included, and appends the character. `p` moves past what was read.
UnicodeEscapeError readUnicodeEscape(const char*& p, const char* end, std::string& out);

// The value of a number already checked against the JSON grammar: integers that fit 64 bits stay
// exact (sizes and revisions must not pass through a double), the rest become finite reals;
// absent when out of range. Independent of the C locale.
std::optional<Value> numberValue(const char* begin, const char* end, bool integral);

}  // namespace kesto::fnd::json
