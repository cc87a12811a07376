#pragma once

#include "Platform/Foundation/Error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kesto {

// The domain of every error record of the JSON reader and writer.
extern const char* const kSFJsonErrorDomain;

// Codes of the JSON error records.
enum SFJsonErrorCode : int {
  kSFJsonErrorUnsupported = 1,
  kSFJsonErrorNumber = 2,
  kSFJsonErrorSyntax = 3,
  kSFJsonErrorTopLevel = 4,
  kSFJsonErrorControlCharacter = 5,
  kSFJsonErrorUnicode = 6,
  kSFJsonErrorDepth = 7,
  kSFJsonErrorEscape = 8,
  kSFJsonErrorTrailingComma = 9,
  kSFJsonErrorGarbage = 10,
  kSFJsonErrorEndOfInput = 11,
  kSFJsonErrorNoInput = 12,
};

// State shared by the reader and the writer: the error trace of the last operation and the
// nesting limit. Each record's underlying error is the record before it, so the last record is
// the outermost failure.
class SFJsonBase {
 public:
  SFJsonBase() = default;
  virtual ~SFJsonBase() = default;

  // Empty after a successful operation.
  const std::vector<fnd::Error>& errorTrace() const { return errorTrace_; }
  // 0 means no limit.
  unsigned maxDepth() const { return maxDepth_; }
  void setMaxDepth(unsigned depth) { maxDepth_ = depth; }

  void addErrorWithCode(int code, const std::string& description);
  void clearErrorTrace() { errorTrace_.clear(); }
  // The trace as one line per record, innermost first, for logs.
  std::string errorTraceDescription() const;

 protected:
  friend class SFJSON;
  unsigned maxDepth_ = 512;
  std::vector<fnd::Error> errorTrace_;
};

}  // namespace kesto
