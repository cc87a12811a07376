#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Model/Base64.h"

using kesto::Base64;

// Stored and synced passwords: what decodes must encode and decode to the same bytes.
KESTO_FUZZ_TARGET(Base64) {
  auto text = kesto::fuzz::asText(data, size);
  auto decoded = Base64::decodeBase64WithString(text);
  (void)Base64::decodeToString(text);
  if (!decoded || decoded->empty()) return 0;
  auto encoded = Base64::encodeBase64WithData(*decoded);
  KESTO_FUZZ_CHECK(encoded.has_value());
  auto again = Base64::decodeBase64WithString(*encoded);
  KESTO_FUZZ_CHECK(again.has_value() && *again == *decoded);
  return 0;
}
