#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kesto::intake {

// The reserved payload the menu-bar extension sends to bring up the menu; it adds nothing.
inline constexpr const char* kMenuBarPayload = "http://kesto_menubar";
inline constexpr const char* kSchemePrefix = "kesto:";

// Intake text comes from other processes, so it is bounded: a longer text is refused whole,
// a longer line is no address, and one text adds at most so many bookmarks.
inline constexpr std::size_t kMaximumIntakeBytes = 256 * 1024;
inline constexpr std::size_t kMaximumAddressBytes = 8 * 1024;
inline constexpr std::size_t kMaximumAddressesPerIntake = 100;

// Given among a launch's arguments, its addresses add only what the library does not hold yet,
// whatever the duplicates preference says: a launch says so when it takes the library over from
// an instance that ended before answering, which may have saved them already.
inline constexpr const char* kOnlyMissingArgument = "--only-missing";

// The intake text of a "kesto:" URL: the scheme prefix removed at the start of the text and of
// each line (never inside an address), escaped line breaks made lines, and each line in the form
// its address is stored in. A line escaped as a whole ("https%3A%2F%2F...") is decoded once
// first (kept when it does not decode as UTF-8). Absent for a text without the prefix and for
// the reserved menu-bar payload.
std::optional<std::string> textFromSchemeURL(const std::string& url);

// The text split at line feeds (empty pieces kept, so every line is counted); a carriage return
// ending a line (text from a CRLF source) is dropped.
std::vector<std::string> splitLines(const std::string& text);

// The text with each run of spaces, tabs, vertical tabs and form feeds made a line feed: two
// addresses on one line are two lines, and a space inside an address ends it. Applied to text
// as it is handed in, so a space a "kesto:" URL carries escaped stays part of its address.
std::string separatedOnWhiteSpace(const std::string& text);

// Whether a line is meant as an address: it begins with "http" in any case. Such a line that is
// no address is told to the user; other lines are passed over silently.
bool looksLikeAddress(const std::string& line);

// The address a line stands for: the line without invisible characters (bidirectional controls,
// line and paragraph separators, C1 controls, which would show an address other than the one
// stored), when it begins with "http" (in any case), is at most kMaximumAddressBytes long,
// holds no control character, neither as it stands nor with its escapes removed once or more (a
// "%00", "%0D", "%250A" or "%E2%80%AE"), and parses as an http or https URL with a host. Its scheme
// is answered in lower case, as schemes ignore case. Absent for any other line.
std::optional<std::string> addressFromLine(const std::string& line);
bool isAddressLine(const std::string& line);

// The form an address is stored in, for duplicate checks: fnd::decodeAddressForStorage, as
// bookmark creation stores it.
std::string storedFormOfAddress(const std::string& line);

// The program's arguments with each archive path made absolute against `workingDirectory`, so
// they still name the same files when handed to a running instance started elsewhere. "kesto:"
// URLs, options and the text after "--add-text" are kept as they are.
std::vector<std::string> argumentsWithAbsolutePaths(const std::vector<std::string>& arguments,
                                                    const std::string& workingDirectory);

}  // namespace kesto::intake
