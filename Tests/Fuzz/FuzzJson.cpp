#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Json.h"

using kesto::fnd::Json;

// Network replies: whatever parses must write back and parse to the same value.
KESTO_FUZZ_TARGET(Json) {
  const auto text = kesto::fuzz::asText(data, size);
  auto value = Json::parse(text, Json::AllowFragments);
  if (!value) return 0;
  auto written = Json::write(*value, Json::FragmentsAllowed);
  if (!written) return 0;  // e.g. reals JSON cannot carry
  auto again = Json::parse(*written, Json::AllowFragments);
  KESTO_FUZZ_CHECK(again.has_value());
  return 0;
}
