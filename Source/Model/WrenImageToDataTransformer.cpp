#include "Model/WrenImageToDataTransformer.h"

#include "Model/DataModel.h"

namespace kesto {

fnd::Value WrenImageToDataTransformer::transformedValue(const fnd::Value& value) const {
  if (!value.isData() || value.data().empty()) return {};
  return value;
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
