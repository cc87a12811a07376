#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/PercentEncoding.h"

#include <string>

// URLs from files and peers. The first byte picks a charset for the second reader.
KESTO_FUZZ_TARGET(PercentEscapes) {
  auto text = kesto::fuzz::asText(data, size);
  auto decoded = kesto::fnd::removePercentEscapes(text);
  if (decoded) {
    // Decoding only shrinks the text, and unescaped text is left as it is.
    KESTO_FUZZ_CHECK(decoded->size() <= text.size());
    if (text.find('%') == std::string_view::npos) KESTO_FUZZ_CHECK(*decoded == text);
  }
  (void)kesto::fnd::removePercentEscapesOrKeep(text);
  // An address in its stored form stays as it is, whichever door stores it again.
  const std::string stored = kesto::fnd::decodeAddressForStorage(text);
  KESTO_FUZZ_CHECK(stored.size() <= text.size());
  KESTO_FUZZ_CHECK(kesto::fnd::decodeAddressForStorage(stored) == stored);
  static const char* const charsets[] = {"UTF-8", "ISO-8859-1", "windows-1252", "Shift_JIS", "UTF-16", "bogus"};
  if (!text.empty()) {
    const char* charset = charsets[static_cast<unsigned char>(text[0]) % 6];
    (void)kesto::fnd::removePercentEscapes(text.substr(1), charset);
  }
  return 0;
}
