#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The bounds and the cleaning every text of the library gets on its way into the store,
// whichever door it came through (typing, the "kesto" scheme, HTML files, archives, sync
// files). Stored text holds no C0 or C1 control characters, no line or paragraph separators
// (U+2028, U+2029) and no bidirectional controls, which would show text other than the one
// stored; notes keep their line feeds and tabs, and in the one-line texts (titles, folder names)
// a line break or tab becomes one space. Schemes are stored in lower case.
namespace kesto::stored {

inline constexpr std::size_t kMaximumTitleBytes = 64 * 1024;
inline constexpr std::size_t kMaximumNoteBytes = 1024 * 1024;
inline constexpr std::size_t kMaximumAddressBytes = 8 * 1024;
inline constexpr std::size_t kMaximumTagBytes = 256;
inline constexpr std::size_t kMaximumTagsPerBookmark = 1000;
// Folders nested deeper are flattened into the deepest one kept.
inline constexpr int kMaximumFolderDepth = 200;

// The byte length of the character at `i` when it is one a stored text never holds; 0 otherwise.
// `keepLineBreaks` lets line feeds and tabs through (for notes).
std::size_t forbiddenCharacterAt(std::string_view text, std::size_t i, bool keepLineBreaks = false);
bool hasForbiddenCharacters(std::string_view text, bool keepLineBreaks = false);
std::string withoutForbiddenCharacters(std::string_view text, bool keepLineBreaks = false);

// At most `maximumBytes`, cut at a character boundary.
std::string truncated(std::string_view text, std::size_t maximumBytes);

// The stored forms: cleaned, then cut to their bound. An address's scheme is lower-cased. In a
// title (and a folder's name) each run of line breaks and tabs (CR, LF, CR LF, NEL, U+2028,
// U+2029), with the blanks around it, becomes one space; at either end it goes.
std::string address(std::string_view text);
std::string title(std::string_view text);
std::string note(std::string_view text);
std::string tagName(std::string_view text);

// The length of the scheme that begins `text` ("ftp" in "ftp://a"), 0 when it names none: a
// letter, then letters, digits, "+", "-" or ".", then a colon that no digit follows (a host and
// its port, "localhost:8080/x", names no scheme).
std::size_t schemeLength(std::string_view text);

// Whether a library may hold the address as a bookmark's: one that names its scheme, within the
// address bound. Every address the add sheet stores is one; a restore keeps every one.
bool isLibraryAddress(std::string_view text);

// Why a file from other people does not bring an address in (None: it takes it). At every such
// door scripts ("javascript:", "vbscript:", a "data:" page that can run one: HTML, XML, SVG or a
// script) stay out, for they would run inside the page open when they are opened, and so does
// what names no scheme. A browser's bookmark file also leaves out browser-internal addresses
// ("place:", "about:", "chrome:", "edge:" ...), which work only in the browser that wrote them; a
// shared-folder archive, another library's folder, brings them as that library held them. The
// scheme and a "data:" address's media type are read as a browser reads them: in any case,
// escaped or not, without the control characters, tabs and line breaks a browser drops inside an
// address and the blanks around them, however many.
enum class LeftOut { None, NoAddress, Script, BrowserInternal };
enum class ImportedFrom { BookmarkFile, Archive };
LeftOut whyImportLeavesOut(std::string_view address, ImportedFrom from = ImportedFrom::BookmarkFile);

// What an import or restore tells of the entries it left out ("" when none), a sentence ending
// in a space, and its log line.
struct LeftOutCounts {
  std::size_t noAddress = 0, script = 0, browserInternal = 0;
  void count(LeftOut why);
  std::size_t total() const { return noAddress + script + browserInternal; }
};
std::string leftOutMessage(const LeftOutCounts& counts);

// What an import from a file tells when it ends: how many bookmarks it added, how many it
// skipped as duplicates (already in the library, or repeated in the file) and what it left out
// and why, so that every entry of the file is accounted for.
struct ImportTally {
  std::size_t imported = 0;
  std::size_t alreadyHeld = 0, repeated = 0;  // skipped as duplicates
  LeftOutCounts leftOut;
  std::size_t flattenedFolders = 0;
  // Whether there is more to tell than the number imported.
  bool hasNews() const { return alreadyHeld || repeated || leftOut.total() || flattenedFolders; }
};
std::string importMessage(const std::string& fileName, const ImportTally& tally);

// Whether an address may be stored as a bookmark's: an http or https address (the scheme in any
// case) with a host, within the address bound. Other schemes ("javascript:", "file:") are
// refused at every door.
bool isWebAddress(std::string_view text);

// What an import tells the user when it flattened folders nested too deep.
std::string flattenedFoldersMessage(const std::string& fileName, std::size_t flattened);

}  // namespace kesto::stored
