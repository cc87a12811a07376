#include "Model/StoredText.h"

#include <cctype>

namespace kesto::stored {

std::size_t forbiddenCharacterAt(std::string_view text, std::size_t i, bool keepLineBreaks) {
  auto at = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned b0 = at(i);
  if (b0 < 0x20 || b0 == 0x7f) {
    if (i >= text.size()) return 0;
    return keepLineBreaks && (b0 == '\n' || b0 == '\t') ? 0 : 1;
  }
  if (b0 == 0xC2 && at(i + 1) >= 0x80 && at(i + 1) <= 0x9F) return 2;  // C1
  if (b0 == 0xD8 && at(i + 1) == 0x9C) return 2;                        // U+061C
  if (b0 == 0xE2) {
    const unsigned b1 = at(i + 1), b2 = at(i + 2);
    // U+200E, U+200F, U+2028-U+202E
    if (b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F || (b2 >= 0xA8 && b2 <= 0xAE))) return 3;
    if (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9) return 3;  // U+2066-U+2069
  }
  return 0;
}

bool hasForbiddenCharacters(std::string_view text, bool keepLineBreaks) {
  for (std::size_t i = 0; i < text.size(); ++i)
    if (forbiddenCharacterAt(text, i, keepLineBreaks)) return true;
  return false;
}

std::string withoutForbiddenCharacters(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (std::size_t n = forbiddenCharacterAt(text, i, keepLineBreaks)) {
      i += n;
      continue;
    }
    out += text[i++];
  }
  return out;
}

std::string truncated(std::string_view text, std::size_t maximumBytes) {
  if (text.size() <= maximumBytes) return std::string(text);
  std::size_t end = maximumBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

namespace {
// Cut first, so a huge text is never copied whole; the cleaning only shortens it further.
std::string bounded(std::string_view text, std::size_t maximumBytes, bool keepLineBreaks) {
  return withoutForbiddenCharacters(truncated(text, maximumBytes), keepLineBreaks);
}
}  // namespace

std::string address(std::string_view text) { return bounded(text, kMaximumAddressBytes, false); }
std::string title(std::string_view text) { return bounded(text, kMaximumTitleBytes, false); }
std::string note(std::string_view text) { return bounded(text, kMaximumNoteBytes, true); }
std::string tagName(std::string_view text) { return bounded(text, kMaximumTagBytes, false); }

bool isWebAddress(std::string_view text) {
  if (text.size() > kMaximumAddressBytes) return false;
  auto startsWithNoCase = [&](std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
  };
  std::size_t start = startsWithNoCase("https://") ? 8 : startsWithNoCase("http://") ? 7 : 0;
  if (!start) return false;
  // A host follows: something before the path, query or fragment.
  return start < text.size() && text[start] != '/' && text[start] != '?' && text[start] != '#';
}

std::string flattenedFoldersMessage(const std::string& fileName, std::size_t flattened) {
  return "Folders in '" + fileName + "' were nested more than " + std::to_string(kMaximumFolderDepth) +
         " levels deep. " + std::to_string(flattened) + (flattened == 1 ? " folder was" : " folders were") +
         " flattened: their bookmarks are in the deepest folder kept.";
}

}  // namespace kesto::stored
