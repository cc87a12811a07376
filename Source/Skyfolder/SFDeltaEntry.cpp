#include "Skyfolder/SFDeltaEntry.h"

#include "Skyfolder/SFMetadata.h"

namespace kesto {

SFDeltaEntry::SFDeltaEntry(std::string lowercasePath, std::shared_ptr<const SFMetadata> metadata)
    : lowercasePath_(std::move(lowercasePath)), metadata_(std::move(metadata)) {}

std::shared_ptr<const SFDeltaEntry> SFDeltaEntry::initWithArray(const fnd::Value& value) {
  if (!value.isArray() || value.array().size() != 2 || !value.at(0).isString()) return nullptr;
  const auto& second = value.at(1);
  if (!second.isNull() && !second.isDictionary()) return nullptr;
  return std::make_shared<const SFDeltaEntry>(value.at(0).string(), SFMetadata::initWithDictionary(second));
}

fnd::Dictionary SFDeltaEntry::encodeWithCoder() const {
  fnd::Dictionary a{{"lowercasePath", fnd::Value(lowercasePath_)}};
  if (metadata_) a.emplace("metadata", fnd::Value(metadata_->encodeWithCoder()));
  return a;
}

std::shared_ptr<const SFDeltaEntry> SFDeltaEntry::initWithCoder(const fnd::Dictionary& a) {
  std::shared_ptr<const SFMetadata> metadata;
  if (const auto it = a.find("metadata"); it != a.end() && it->second.isDictionary())
    metadata = SFMetadata::initWithCoder(it->second.dictionary());
  const auto it = a.find("lowercasePath");
  return std::make_shared<const SFDeltaEntry>(it == a.end() ? std::string() : it->second.string(), metadata);
}

bool SFDeltaEntry::isEqualToDeltaEntry(const SFDeltaEntry& other) const {
  if (this == &other) return true;
  if (lowercasePath_ != other.lowercasePath_) return false;
  if (metadata_ == other.metadata_) return true;
  return metadata_ && other.metadata_ && metadata_->isEqual(*other.metadata_);
}

bool SFDeltaEntry::isEqual(const fnd::Object& other) const {
  const auto* entry = dynamic_cast<const SFDeltaEntry*>(&other);
  return entry && isEqualToDeltaEntry(*entry);
}

}  // namespace kesto
