#pragma once

#include "Platform/Foundation/Range.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text helpers. Strings are stored as UTF-8; where lengths and ranges are counted in characters
// they count UTF-16 code units, as the stored formats and predicates do.
namespace kesto::fnd {

// Options of searches and comparisons (bit values as the stored formats know them).
enum CompareOptions : unsigned {
  CaseInsensitiveSearch = 1,
  LiteralSearch = 2,
  BackwardsSearch = 4,
  AnchoredSearch = 8,
  NumericSearch = 64,
  DiacriticInsensitiveSearch = 128,
};

enum class ComparisonResult : int { Ascending = -1, Same = 0, Descending = 1 };

// --- UTF-8 / UTF-16 ------------------------------------------------------------------------
bool isValidUtf8(std::string_view s);
bool isAscii(std::string_view s);
// 0-15 for a hexadecimal digit (either case), else -1.
int hexDigitValue(char c);
// Ill-formed sequences become U+FFFD.
std::string makeValidUtf8(std::string_view s);
std::u16string toUtf16(std::string_view utf8);
std::string fromUtf16(std::u16string_view utf16);
// Appends a code point as UTF-8; one that is no character (a surrogate, past U+10FFFF) becomes U+FFFD.
void appendUtf8(std::string& out, std::uint32_t codePoint);
// Number of UTF-16 code units (a character outside the BMP counts 2).
std::int64_t utf16Length(std::string_view s);
// The text in `range` (UTF-16 units, clamped to the string). A range that splits a surrogate
// pair yields U+FFFD for the broken half.
std::string substring(std::string_view s, Range range);
std::string substringFrom(std::string_view s, std::int64_t utf16Index);
std::string substringTo(std::string_view s, std::int64_t utf16Index);
// The text with its UTF-16 code units in reverse order (surrogate pairs kept together).
std::string reversed(std::string_view s);

// --- Searching ------------------------------------------------------------------------------
// The UTF-16 range of the first (or, with BackwardsSearch, last) occurrence; Range::notFound()
// when absent or when `needle` is empty. Options: CaseInsensitive, DiacriticInsensitive,
// Backwards, Anchored.
Range rangeOf(std::string_view haystack, std::string_view needle, unsigned options = 0);
bool contains(std::string_view haystack, std::string_view needle, unsigned options = 0);
bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);
// Prefix test honouring CaseInsensitive / DiacriticInsensitive (the predicates' BEGINSWITH).
bool beginsWith(std::string_view s, std::string_view prefix, unsigned options);
bool endsWith(std::string_view s, std::string_view suffix, unsigned options);

// --- Comparing ------------------------------------------------------------------------------
// Non-localised comparison by UTF-16 code units; CaseInsensitive folds case, Diacritic-
// Insensitive strips marks, NumericSearch compares digit runs by value.
ComparisonResult compare(std::string_view a, std::string_view b, unsigned options = 0);
ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);
// Collation of `localeId` (empty: the current locale, see Locale.h).
ComparisonResult localizedCompare(std::string_view a, std::string_view b, std::string_view localeId = {});
ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                 std::string_view localeId = {});
// Equality under the predicate operators' [c] and [d] flags.
bool equals(std::string_view a, std::string_view b, unsigned options);

// --- Case and normalisation -----------------------------------------------------------------
// Full Unicode case folding (locale independent).
std::string foldCase(std::string_view s);
// Removes combining marks after canonical decomposition ("é" -> "e"), then recomposes.
std::string foldDiacritics(std::string_view s);
// foldCase and/or foldDiacritics, as the options ask.
std::string fold(std::string_view s, unsigned options);
std::string uppercase(std::string_view s, std::string_view localeId = "en_US_POSIX");
std::string lowercase(std::string_view s, std::string_view localeId = "en_US_POSIX");
// Title case of each word in the locale (empty: the current locale).
std::string capitalized(std::string_view s, std::string_view localeId = {});
// The first character upper-cased, the rest unchanged.
std::string uppercaseFirst(std::string_view s);
// ASCII letters only, byte by byte: for keywords, schemes, header and charset names and
// type-select keys, not for text. The same in every locale (the C library's tables are not: in
// Turkish they do not pair "i" with "I").
constexpr bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool isAsciiLetterOrDigit(char c) { return isAsciiLetter(c) || (c >= '0' && c <= '9'); }
constexpr bool isAsciiUppercase(char c) { return c >= 'A' && c <= 'Z'; }
constexpr char asciiLowercase(char c) { return isAsciiUppercase(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char asciiUppercase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string asciiUppercase(std::string_view s);
std::string asciiLowercase(std::string_view s);
// Equality and prefix ignoring the case of ASCII letters only.
bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b);
bool asciiHasPrefixIgnoringCase(std::string_view s, std::string_view prefix);
std::string normalizeNFC(std::string_view s);
std::string normalizeNFD(std::string_view s);
// ICU transliteration by transform id (e.g. "Any-Latin; Latin-ASCII"); the input when the id
// is invalid.
std::string transliterate(std::string_view s, std::string_view transformId);

// --- Trimming, splitting, replacing ---------------------------------------------------------
// Unicode white space (including no-break space) but not line breaks.
std::string trimWhitespace(std::string_view s);
// White space and line breaks (\n \r U+0085 U+2028 U+2029, ...).
std::string trimWhitespaceAndNewlines(std::string_view s);
// Removes every leading and trailing character that appears in `chars` (UTF-8).
std::string trimCharacters(std::string_view s, std::string_view chars);
// Splits at every occurrence of `separator`, keeping empty pieces; an empty text gives one
// empty piece; an empty separator gives the whole text.
std::vector<std::string> split(std::string_view s, std::string_view separator);
// Splits at every character that appears in `chars` (UTF-8), keeping empty pieces.
std::vector<std::string> splitAny(std::string_view s, std::string_view chars);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
// One pass, left to right; an empty target leaves the text unchanged.
std::string replaceAll(std::string_view s, std::string_view target, std::string_view replacement);
// CR LF and a lone CR become LF, as HTML and XML readers see line ends.
std::string normalizeLineEnds(std::string_view s);

// --- Numbers from text ----------------------------------------------------------------------
// The leading decimal integer after optional white space and sign; 0 when there is none;
// clamped to the 64-bit range on overflow.
std::int64_t leadingInteger(std::string_view s);
// As leadingInteger, clamped to the 32-bit range.
std::int32_t leadingInt32(std::string_view s);
// The leading decimal number (digits, point, exponent); 0 when there is none.
double leadingDouble(std::string_view s);
// The whole text as a decimal integer (optional sign); absent for anything else or overflow.
std::optional<std::int64_t> parseInteger(std::string_view s);

// --- Regular expressions --------------------------------------------------------------------
// True when the ICU regular expression matches the whole text. An invalid pattern matches
// nothing (and sets *valid to false when given).
bool matchesRegex(std::string_view s, std::string_view pattern, bool* valid = nullptr);

// --- Paths as text --------------------------------------------------------------------------
std::string lastPathComponent(std::string_view path);
std::string deletingLastPathComponent(std::string_view path);
// The extension after the last "." of the last component, without the dot; "" when none.
std::string pathExtension(std::string_view path);
std::string deletingPathExtension(std::string_view path);
std::string appendingPathComponent(std::string_view path, std::string_view component);
std::string appendingPathExtension(std::string_view path, std::string_view ext);

}  // namespace kesto::fnd
