#include "Skyfolder/SFJsonParser.h"

#include "Platform/Foundation/JsonReader.h"
#include "Platform/Foundation/Strings.h"

#include <cstring>

namespace kesto {

std::optional<fnd::Value> SFJsonParser::fragmentWithString(const std::string_view* text) {
  clearErrorTrace();
  // Bytes that are not UTF-8 could not have been a text in the first place.
  if (!text || !fnd::isValidUtf8(*text)) {
    addErrorWithCode(kSFJsonErrorNoInput, "Input was 'nil'");
    return std::nullopt;
  }
  const char* begin = text->data();
  // Reading stops at a NUL byte as it does at the end of the text.
  // An empty text may have no buffer at all, and memchr must not be given a null one.
  const void* nul = text->empty() ? nullptr : std::memchr(begin, 0, text->size());
  const char* end = nul ? static_cast<const char*>(nul) : begin + text->size();
  fnd::json::Reader reader({maxDepth_, true}, [this](fnd::json::Fault fault, const std::string& message) {
    addErrorWithCode(static_cast<int>(fault), message);
  });
  return reader.read(begin, end);
}

std::optional<fnd::Value> SFJsonParser::objectWithString(const std::string_view* text) {
  auto value = fragmentWithString(text);
  if (!value) return std::nullopt;
  if (!value->isDictionary() && !value->isArray()) {
    addErrorWithCode(kSFJsonErrorTopLevel, "Valid fragment, but not JSON");
    return std::nullopt;
  }
  return value;
}

}  // namespace kesto
