#include "Model/StoredText.h"

#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"

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

// The byte length of the line break or tab at `i`, 0 when there is none.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
  const auto at = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned b0 = at(i);
  if (b0 == '\r' && at(i + 1) == '\n') return 2;
  if (b0 == '\n' || b0 == '\r' || b0 == '\t') return 1;
  if (b0 == 0xC2 && at(i + 1) == 0x85) return 2;                                     // NEL
  if (b0 == 0xE2 && at(i + 1) == 0x80 && (at(i + 2) == 0xA8 || at(i + 2) == 0xA9)) return 3;  // U+2028, U+2029
  return 0;
}

// The text cleaned, on one line.
std::string oneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (lineBreakAt(text, i)) {
      // The blanks before the break, the break and what follows it, up to the next text.
      while (!out.empty() && out.back() == ' ') out.pop_back();
      for (std::size_t n; i < text.size() && ((n = lineBreakAt(text, i)) || text[i] == ' ');) i += n ? n : 1;
      if (!out.empty() && i < text.size()) out += ' ';
    } else if (std::size_t n = forbiddenCharacterAt(text, i)) {
      i += n;
    } else {
      out += text[i++];
    }
  }
  return out;
}
}  // namespace

std::string address(std::string_view text) {
  std::string out = bounded(text, kMaximumAddressBytes, false);
  for (std::size_t i = 0, n = schemeLength(out); i < n; ++i) out[i] = fnd::asciiLowercase(out[i]);
  return out;
}
std::string title(std::string_view text) { return oneLine(truncated(text, kMaximumTitleBytes)); }
std::string note(std::string_view text) { return bounded(text, kMaximumNoteBytes, true); }
std::string tagName(std::string_view text) { return bounded(text, kMaximumTagBytes, false); }

bool isWebAddress(std::string_view text) {
  if (text.size() > kMaximumAddressBytes) return false;
  std::size_t start = fnd::asciiHasPrefixIgnoringCase(text, "https://")  ? 8
                      : fnd::asciiHasPrefixIgnoringCase(text, "http://") ? 7
                                                                          : 0;
  if (!start) return false;
  // A host follows: something before the path, query or fragment.
  return start < text.size() && text[start] != '/' && text[start] != '?' && text[start] != '#';
}

std::size_t schemeLength(std::string_view text) {
  const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isLetter(text[0])) return 0;
  for (std::size_t i = 1; i < colon; ++i)
    if (!isLetter(text[i]) && !isDigit(text[i]) && text[i] != '+' && text[i] != '-' && text[i] != '.') return 0;
  return colon + 1 < text.size() && isDigit(text[colon + 1]) ? 0 : colon;
}

bool isLibraryAddress(std::string_view text) { return text.size() <= kMaximumAddressBytes && schemeLength(text) > 0; }

namespace {

// Longer schemes are none of those judged here (escaped, a character takes three bytes).
constexpr std::size_t kLongestJudgedSchemeBytes = 3 * 32;

// Escapes decoded one by one (one that does not decode spoils none of the others), then what
// a browser drops inside an address (and no stored text holds).
std::string unescaped(std::string_view text) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  return withoutForbiddenCharacters(fnd::decodeEachPercentEscape(text));
}

// The text from `i` up to the first `end` (or its end), without blanks (when `dropBlanks`) and
// what a browser drops inside an address, at most `maximumBytes` of it; `i` is left at `end`.
// One walk, whatever runs of blanks or controls a file pads the address with.
std::string keptUntil(std::string_view text, std::size_t& i, char end, bool dropBlanks, std::size_t maximumBytes) {
  std::string kept;
  while (i < text.size() && text[i] != end) {
    if (dropBlanks && text[i] == ' ') {
      ++i;
    } else if (std::size_t n = forbiddenCharacterAt(text, i)) {
      i += n;
    } else if (kept.size() < maximumBytes) {
      kept += text[i++];
    } else {
      ++i;
    }
  }
  return kept;
}

// The scheme of an address as a browser reads it, in lower case ("" when it names none), and
// where what follows its colon starts.
std::string schemeAsBrowsersRead(std::string_view text, std::size_t& afterColon) {
  std::size_t i = 0;
  // Blanks before the address go; the ones inside a scheme spoil it.
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
    } else if (std::size_t n = forbiddenCharacterAt(text, i)) {
      i += n;
    } else {
      break;
    }
  }
  const std::string seen = keptUntil(text, i, ':', false, kLongestJudgedSchemeBytes + 1);
  if (i >= text.size() || seen.size() > kLongestJudgedSchemeBytes) return {};
  afterColon = i + 1;
  std::string scheme = fnd::asciiLowercase(unescaped(seen));
  if (scheme.empty() || scheme[0] < 'a' || scheme[0] > 'z') return {};
  for (char c : scheme)
    if (!fnd::isAsciiLetterOrDigit(c) && c != '+' && c != '-' && c != '.') return {};
  return scheme;
}

bool isScriptScheme(const std::string& scheme) {
  return scheme == "javascript" || scheme == "vbscript" || scheme == "livescript" || scheme == "mocha";
}

// A "data:" address whose media type (what comes before its comma, blanks left out) a browser
// shows as a page, an image or a program that can run a script: HTML and XHTML, any XML (an XSL
// sheet or an XHTML part can), SVG and scripts. A type longer than an address a library holds
// is not read to its end: such an address is left out whatever it holds.
bool isScriptData(std::string_view text, std::size_t afterColon) {
  std::string type = fnd::asciiLowercase(unescaped(keptUntil(text, afterColon, ',', true, kMaximumAddressBytes)));
  std::erase_if(type, [](char c) { return c == ' '; });
  for (const char* kind : {"html", "xml", "svg", "script"})
    if (type.find(kind) != std::string::npos) return true;
  return false;
}

bool isBrowserInternal(const std::string& scheme) {
  for (const char* internal : {"place", "about", "chrome", "chrome-extension", "chrome-search", "chrome-untrusted",
                               "edge", "brave", "opera", "vivaldi", "moz-extension", "resource", "view-source",
                               "devtools"})
    if (scheme == internal) return true;
  return false;
}

}  // namespace

LeftOut whyImportLeavesOut(std::string_view text, ImportedFrom from) {
  std::size_t afterColon = 0;
  const std::string scheme = schemeAsBrowsersRead(text, afterColon);
  if (isScriptScheme(scheme) || (scheme == "data" && isScriptData(text, afterColon))) return LeftOut::Script;
  if (from == ImportedFrom::BookmarkFile && isBrowserInternal(scheme)) return LeftOut::BrowserInternal;
  if (!isLibraryAddress(text)) return LeftOut::NoAddress;
  return LeftOut::None;
}

void LeftOutCounts::count(LeftOut why) {
  switch (why) {
    case LeftOut::NoAddress: ++noAddress; break;
    case LeftOut::Script: ++script; break;
    case LeftOut::BrowserInternal: ++browserInternal; break;
    case LeftOut::None: break;
  }
}

std::string leftOutMessage(const LeftOutCounts& counts) {
  if (!counts.total()) return {};
  auto some = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string parts;
  auto add = [&](std::size_t n, const std::string& part) {
    if (!n) return;
    if (!parts.empty()) parts += ", ";
    parts += part;
  };
  add(counts.script,
      some(counts.script, "script (javascript:, vbscript: or a data: page)",
           "scripts (javascript:, vbscript: or data: pages)"));
  add(counts.browserInternal,
      some(counts.browserInternal, "browser-internal address (place:, about:, chrome:)",
           "browser-internal addresses (place:, about:, chrome:)"));
  add(counts.noAddress, std::to_string(counts.noAddress) + " without an address Kesto can keep");
  std::string message = some(counts.total(), "entry was", "entries were") + " left out: " + parts + ".";
  if (counts.script) message += " Scripts from a file would run inside whatever page is open when they are opened.";
  if (counts.browserInternal) message += " Browser-internal addresses work only in the browser that wrote the file.";
  return message + " ";
}

std::string importMessage(const std::string& fileName, const ImportTally& tally) {
  auto bookmarks = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " bookmark" : " bookmarks"); };
  std::string message = bookmarks(tally.imported) + (tally.imported == 1 ? " was" : " were") + " imported from '" +
                        fileName + "'. ";
  const std::size_t skipped = tally.alreadyHeld + tally.repeated;
  if (tally.alreadyHeld && tally.repeated)
    message += bookmarks(skipped) + " were skipped as duplicates: " + std::to_string(tally.alreadyHeld) +
               " already in the library, " + std::to_string(tally.repeated) + " repeated in the file. ";
  else if (skipped)
    message += bookmarks(skipped) + (tally.alreadyHeld ? " already in the library" : " repeated in the file") +
               (skipped == 1 ? " was" : " were") + " skipped. ";
  message += leftOutMessage(tally.leftOut);
  if (tally.flattenedFolders) message += flattenedFoldersMessage(fileName, tally.flattenedFolders);
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

std::string flattenedFoldersMessage(const std::string& fileName, std::size_t flattened) {
  return "Folders in '" + fileName + "' were nested more than " + std::to_string(kMaximumFolderDepth) +
         " levels deep. " + std::to_string(flattened) + (flattened == 1 ? " folder was" : " folders were") +
         " flattened: their bookmarks are in the deepest folder kept.";
}

}  // namespace kesto::stored
