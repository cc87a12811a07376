#pragma once

#include "Platform/Store/ValueTransformer.h"

namespace kesto {

// The transformer the image attributes name. Images reach the library core as encoded image
// data in any format the image readers know (an ICO favicon, a JPEG picked by hand); the store
// keeps them as PNG (through fnd::transcodeToPNG). Data that is already PNG is kept as it is; data
// that decodes to no image, and anything that is not data, stores nothing. A process without
// the image codecs installed (one that shows no images) keeps the data unchanged.
class WrenImageToDataTransformer : public store::ValueTransformer {
 public:
  static bool allowsReverseTransformation() { return true; }
  fnd::Value transformedValue(const fnd::Value& value) const override;
  fnd::Value reverseTransformedValue(const fnd::Value& data) const override;
  // Registers the shared instance under DataModel::kImageTransformerName.
  static void registerShared();
};

}  // namespace kesto
