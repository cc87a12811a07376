#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kesto::intake {

// The reserved payload the menu-bar extension sends to bring up the menu; it adds nothing.
inline constexpr const char* kMenuBarPayload = "http://kesto_menubar";
inline constexpr const char* kSchemePrefix = "kesto:";

// The intake text of a "kesto:" URL: the scheme prefix removed at the start of the text and of
// each line (never inside an address), the percent escapes decoded as UTF-8 (kept when they do
// not decode). Absent for a text without the prefix and for the reserved menu-bar payload.
std::optional<std::string> textFromSchemeURL(const std::string& url);

// The text split at line feeds (empty pieces kept, so every line is counted).
std::vector<std::string> splitLines(const std::string& text);

// Whether a line is taken as an address: it begins with "http", case-sensitive.
bool isAddressLine(const std::string& line);

// The form an address is stored in, for duplicate checks: percent escapes removed as bookmark
// creation removes them.
std::string storedFormOfAddress(const std::string& line);

}  // namespace kesto::intake
