#pragma once

#include "Platform/Store/ValueTransformer.h"

namespace kesto {

// The transformer the image attributes name. Images reach the library core as encoded image
// data (PNG from the page fetcher and the thumbnail service), so the stored form is that data
// unchanged; anything that is not data stores nothing.
class WrenImageToDataTransformer : public store::ValueTransformer {
 public:
  static bool allowsReverseTransformation() { return true; }
  fnd::Value transformedValue(const fnd::Value& value) const override;
  fnd::Value reverseTransformedValue(const fnd::Value& data) const override;
  // Registers the shared instance under DataModel::kImageTransformerName.
  static void registerShared();
};

}  // namespace kesto
