#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Skyfolder/SFJsonParser.h"

#include <string>

// Replies of the Skyfolder service.
KESTO_FUZZ_TARGET(SFJsonParser) {
  // Replies arrive as owned strings, whose data is never null.
  const std::string text(kesto::fuzz::asText(data, size));
  kesto::SFJsonParser parser;
  auto object = parser.objectWithString(text);
  if (object) KESTO_FUZZ_CHECK(object->isDictionary() || object->isArray());
  kesto::SFJsonParser fragments;
  (void)fragments.fragmentWithString(text);
  return 0;
}
