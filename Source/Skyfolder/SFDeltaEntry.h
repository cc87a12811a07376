#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <string>

namespace kesto {

class SFMetadata;

// One entry of the delta feed: a lower-case path and its record, or no record when the path
// was removed.
class SFDeltaEntry final : public fnd::Object {
 public:
  // Absent unless `value` is a two-element array of a path and a dictionary or null.
  static std::shared_ptr<const SFDeltaEntry> initWithArray(const fnd::Value& value);
  SFDeltaEntry(std::string lowercasePath, std::shared_ptr<const SFMetadata> metadata);

  fnd::Dictionary encodeWithCoder() const;
  static std::shared_ptr<const SFDeltaEntry> initWithCoder(const fnd::Dictionary& archive);

  const std::string& lowercasePath() const { return lowercasePath_; }
  const std::shared_ptr<const SFMetadata>& metadata() const { return metadata_; }
  bool isEqualToDeltaEntry(const SFDeltaEntry& other) const;
  bool isEqual(const fnd::Object& other) const override;

 private:
  std::string lowercasePath_;
  std::shared_ptr<const SFMetadata> metadata_;
};

}  // namespace kesto
