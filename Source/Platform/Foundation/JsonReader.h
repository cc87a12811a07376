#pragma once

#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace kesto::fnd::json {

// What went wrong while reading, by kind; the values are the codes the Skyfolder client reports.
enum class Fault : int {
  Number = 2,
  Syntax = 3,
  ControlCharacter = 5,
  Unicode = 6,
  Depth = 7,
  Escape = 8,
  TrailingComma = 9,
  Garbage = 10,
  EndOfInput = 11,
};

// The one recursive-descent JSON reader. Objects become dictionaries (a repeated key keeps its
// last value), arrays arrays, strings UTF-8 strings, integers that fit 64 bits exact integers,
// other numbers reals, true/false booleans, null the null value. A fault is told to the sink
// innermost first, then each enclosing construct adds its own.
class Reader {
 public:
  struct Options {
    // Nesting of arrays and objects allowed; 0 for no limit.
    unsigned maxDepth = 512;
    // The Skyfolder client's reading: vertical tab and form feed count as white space, and the
    // commas between elements may be left out.
    bool lenient = false;
  };
  using FaultSink = std::function<void(Fault fault, const std::string& message)>;

  Reader(Options options, FaultSink sink) : options_(options), sink_(std::move(sink)) {}

  // One value filling [begin, end) but for white space around it; absent after a fault. The text
  // must be valid UTF-8 (callers check it first).
  std::optional<Value> read(const char* begin, const char* end);
  // Where the last read stopped, from the beginning of its text.
  std::size_t offset() const { return offset_; }

 private:
  bool fault(Fault kind, const std::string& message);
  bool scanValue(Value& out);
  bool scanArray(Value& out);
  bool scanObject(Value& out);
  bool scanString(std::string& out);
  bool scanNumber(Value& out);
  bool scanUnicodeChar(std::string& out);
  bool scanLiteral(const char* rest, Value value, const char* message, Value& out);
  // After an element: a comma, or the container's end, or (lenient) the next element.
  bool scanSeparator(char close, const char* what);
  // The members of an array or object up to `close` (the opening bracket already read), each
  // read by `member`.
  bool scanMembers(char close, const char* what, const std::function<bool()>& member);
  bool enterCollection();
  void skipWhitespace();
  unsigned char peek() const { return c_ < end_ ? static_cast<unsigned char>(*c_) : 0; }

  Options options_;
  FaultSink sink_;
  const char* begin_ = nullptr;
  const char* c_ = nullptr;
  const char* end_ = nullptr;
  unsigned depth_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace kesto::fnd::json
