#include "Model/WrenImageToDataTransformer.h"

#include "Model/DataModel.h"
#include "Platform/Foundation/ImageTranscoding.h"

#include <algorithm>

namespace kesto {

namespace {
bool isPNG(const fnd::Data& data) {
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return data.size() > sizeof kSignature && std::equal(std::begin(kSignature), std::end(kSignature), data.begin());
}
}  // namespace

fnd::Value WrenImageToDataTransformer::transformedValue(const fnd::Value& value) const {
  if (!value.isData() || value.data().empty()) return {};
  // Saves write every attribute again: a PNG is not decoded and encoded once more each time.
  if (isPNG(value.data())) return value;
  auto png = fnd::transcodeToPNG(value.data());
  // Without the widget layer's codecs (a process that shows no images) nothing is decoded or lost.
  if (!png) return value;
  if (png->empty()) return {};
  return fnd::Value(std::move(*png));
}

fnd::Value WrenImageToDataTransformer::reverseTransformedValue(const fnd::Value& data) const {
  if (!data.isData() || data.data().empty()) return {};
  return data;
}

void WrenImageToDataTransformer::registerShared() {
  store::ValueTransformer::registerTransformer(DataModel::kImageTransformerName,
                                               std::make_shared<WrenImageToDataTransformer>());
}

}  // namespace kesto
