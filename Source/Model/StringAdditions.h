#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text, array and object helpers shared by the library core and its callers. Texts are UTF-8;
// lengths and indexes count UTF-16 code units where the operation says so.
namespace kesto::brightwren {

// A found range in UTF-16 code units; location is kNotFound when nothing was found.
struct Range {
  std::int64_t location = 0;
  std::int64_t length = 0;
};
inline constexpr std::int64_t kNotFound = INT64_MAX;

// Replaces every occurrence, searching again from the start after each replacement so
// replacements cascade ("%2525" with "%25" -> "%" gives "%"). A replacement that contains the
// search text would never finish; it gets one left-to-right pass instead.
void replaceString(std::string& text, std::string_view target, std::string_view replacement);
std::string stringByReplacingString(std::string_view text, std::string_view target,
                                    std::string_view replacement);

bool contains(std::string_view text, std::string_view part);
// Whole-text regular expression match; false for an invalid expression.
bool matches(std::string_view text, std::string_view regex);
// The last occurrence of `part` in `text`, in UTF-16 units.
Range lastIndexOf(std::string_view part, std::string_view text);
// Pieces of splitting `text` at `part`, minus one.
std::int32_t occurrencesOfString(std::string_view text, std::string_view part);
// Without leading and trailing white space and line breaks.
std::string stringByTrimmingString(std::string_view text);
// At most one blank removed at each end (the search fields' rule); tabs and line breaks stay.
std::string stringByRemovingLeadingAndTrailingSpaces(std::string_view text);
std::string stringByCapitalizingFirstCharacter(std::string_view text);
std::string stringByReversingString(std::string_view text);
// The scheme and host part: "scheme://host" of "scheme://host/path".
std::string stringWithFirstURLComponent(std::string_view url);
// MD5 of the UTF-8 bytes, 32 lower-case hexadecimal characters.
std::string md5(std::string_view text);
bool equals(std::string_view a, std::string_view b);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Nothing when the text is not plain ASCII.
std::optional<std::string> ascii(std::string_view text);

std::string stringWithNewUUID();
std::string stringByConcatenatingStrings(const std::vector<std::string>& parts);
// Percent-encoded for a query value: "?=&+" and everything a URL may not hold are escaped.
std::string stringByURLEncodingString(std::string_view text);
// Decodes only the fixed set of codes the legacy URL texts use (%21 ! ... %3F ?).
std::string stringByDecodingPercentEscapesInURL(std::string_view text);
// Contents of a file: URL or path, read as UTF-8; nothing when unreadable. Network URLs are not
// fetched here.
std::optional<std::string> stringFromURL(std::string_view url);

// Array helpers. "Identical" means the same object for object values and equal otherwise.
fnd::Array arrayBySortingStrings(const fnd::Array& array);
std::string stringValue(const fnd::Array& array);
std::string stringValueWithSeparator(const fnd::Array& array, std::string_view separator);
// Every distinct element once, in the order of its last occurrence.
fnd::Array uniqueMembers(const fnd::Array& array);
fnd::Array unionWithArray(const fnd::Array& array, const fnd::Array* other);
fnd::Array intersectionWithArray(const fnd::Array& array, const fnd::Array& other);

}  // namespace kesto::brightwren
