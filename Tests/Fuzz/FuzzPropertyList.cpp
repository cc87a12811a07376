#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/PropertyList.h"

using kesto::fnd::PropertyList;
using kesto::fnd::PropertyListFormat;

// Settings files: XML and binary lists. Whatever reads must write in both forms and read back.
KESTO_FUZZ_TARGET(PropertyList) {
  const auto bytes = kesto::fuzz::asText(data, size);
  PropertyListFormat format{};
  auto value = PropertyList::read(bytes, &format);
  if (!value || !PropertyList::isValid(*value)) return 0;
  for (auto out : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    auto written = PropertyList::write(*value, out);
    if (!written) continue;
    auto again = PropertyList::read(*written);
    KESTO_FUZZ_CHECK(again.has_value());
    // Compared through the written form, since NaN is unequal to itself.
    KESTO_FUZZ_CHECK(PropertyList::write(*again, out) == written);
  }
  return 0;
}
