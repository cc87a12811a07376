#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Json.h"

using kesto::fnd::Json;

// Network replies: whatever parses must write back and parse to an equal value.
KESTO_FUZZ_TARGET(Json) {
  const auto text = kesto::fuzz::asText(data, size);
  auto value = Json::parse(text, Json::AllowFragments);
  if (!value) return 0;
  auto written = Json::write(*value, Json::FragmentsAllowed);
  if (!written) return 0;  // e.g. reals JSON cannot carry
  auto again = Json::parse(*written, Json::AllowFragments);
  KESTO_FUZZ_CHECK(again.has_value());
  // One round may still change the form (a real -0 reads back as the integer 0); after that
  // the text is stable.
  auto second = Json::write(*again, Json::FragmentsAllowed);
  KESTO_FUZZ_CHECK(second.has_value());
  auto third = Json::parse(*second, Json::AllowFragments);
  KESTO_FUZZ_CHECK(third.has_value() && Json::write(*third, Json::FragmentsAllowed) == second);
  return 0;
}
