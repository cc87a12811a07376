#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "App/BookmarkIntake.h"
#include "Model/StoredText.h"

#include <string>

// Text handed in by other processes: a "kesto:" URL or a Services text (the first byte picks).
// Whatever a line becomes, the address taken is stored exactly as it was checked: no control,
// separator or bidirectional character, within the bound, unchanged by the model's cleaning.
KESTO_FUZZ_TARGET(Intake) {
  if (size == 0) return 0;
  const bool scheme = data[0] & 1;
  const std::string input(kesto::fuzz::asText(data + 1, size - 1));
  // The add-text door separates addresses on white space; a scheme URL is split before decoding.
  std::string text = kesto::intake::separatedOnWhiteSpace(input);
  if (scheme) {
    auto decoded = kesto::intake::textFromSchemeURL(std::string(kesto::intake::kSchemePrefix) + input);
    if (!decoded) return 0;
    text = *decoded;
  }
  for (const auto& line : kesto::intake::splitLines(text)) {
    auto address = kesto::intake::addressFromLine(line);
    if (!address) continue;
    const std::string stored = kesto::intake::storedFormOfAddress(*address);
    KESTO_FUZZ_CHECK(!kesto::stored::hasForbiddenCharacters(stored));
    KESTO_FUZZ_CHECK(stored.size() <= kesto::stored::kMaximumAddressBytes);
    KESTO_FUZZ_CHECK(kesto::stored::address(stored) == stored);
  }
  return 0;
}
