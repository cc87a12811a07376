#pragma once

#include "Platform/Foundation/Value.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

// printf-style formatting with the object directive "%@", which writes a Value's text form
// (see describe). Supported: %@ %d %i %u %x %X %o %c %s %f %F %e %E %g %G %%, flags "-+ #0",
// width and precision (digits or "*"), length modifiers h hh l ll q z t j L, and positional
// arguments ("%1$@"). A directive whose argument is missing writes nothing; an unknown directive
// is copied as it stands. Never throws.
std::string formatValues(std::string_view format, const std::vector<Value>& args);

template <typename... Args>
std::string format(std::string_view fmt, const Args&... args) {
  return formatValues(fmt, std::vector<Value>{Value(args)...});
}

// The text a value gives under "%@": a string itself, integers in decimal, reals as the shortest text
// that reads back the same, booleans "1"/"0", dates in description form
// ("2014-03-01 10:20:30 +0000"), data as "<0a1b2c3d 4e>", null as "(null)", arrays and
// dictionaries and objects by their description.
std::string describe(const Value& v);

}  // namespace kesto::fnd
