#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Skyfolder/SFJsonParser.h"

// Replies of the Skyfolder service.
KESTO_FUZZ_TARGET(SFJsonParser) {
  auto text = kesto::fuzz::asText(data, size);
  kesto::SFJsonParser parser;
  auto object = parser.objectWithString(text);
  if (object) KESTO_FUZZ_CHECK(object->isDictionary() || object->isArray());
  kesto::SFJsonParser fragments;
  (void)fragments.fragmentWithString(text);
  return 0;
}
