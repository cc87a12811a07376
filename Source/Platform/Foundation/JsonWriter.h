#pragma once

#include "Platform/Foundation/Value.h"

#include <functional>
#include <optional>
#include <string>

namespace kesto::fnd::json {

// The one JSON writer. Dictionaries come out in key order; pretty output puts each element on a
// line of its own, indented two spaces a level, with " : " between key and value. A value JSON
// cannot carry stops the writing and is told to the sink, then each dictionary around it adds
// the key it was under.
class Writer {
 public:
  enum class Fault {
    Unsupported,      // data, a date or an object: `culprit` is the value
    NotFinite,        // NaN or an infinity
    InvalidUtf8,      // a string or key that is not UTF-8 (when asked to check)
    Depth,            // nested deeper than allowed
    UnderKey,         // the failure above happened under the key `key`
  };
  struct Options {
    bool pretty = false;
    // Nesting of arrays and dictionaries allowed; 0 for no limit.
    unsigned maxDepth = 512;
    bool checkUtf8 = false;
  };
  using FaultSink = std::function<void(Fault fault, const Value* culprit, const std::string* key)>;

  Writer(Options options, FaultSink sink) : options_(options), sink_(std::move(sink)) {}
  std::optional<std::string> write(const Value& value);

 private:
  bool fault(Fault kind, const Value* culprit = nullptr, const std::string* key = nullptr);
  bool append(const Value& value);
  bool appendString(const std::string& s);
  void newline();

  Options options_;
  FaultSink sink_;
  std::string out_;
  unsigned depth_ = 0;
};

}  // namespace kesto::fnd::json
