#pragma once

#include "Model/StoredText.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

// What one bookmark file holds, read in one pass over the file (see HTMLImportReader.cpp for
// the rules). Compact on purpose: a file of 50,000 bookmarks is held whole before it is stored.
struct HTMLImportRecords {
  enum class Kind { Netscape, Pocket, Instapaper };
  static constexpr int kReceivingFolder = -1;
  struct Folder {
    std::string name;
    int parent = kReceivingFolder;  // index into folders, or the receiving folder
    std::int64_t orderIndex = 0;    // 1, 2, 3 ... among the folders of one parent
    int draft = 0;                  // the DraftFolder it was announced as
  };
  struct Bookmark {
    int folder = kReceivingFolder;
    std::string url;  // harmless escapes decoded
    std::string baseURL;
    std::string title;
    std::string notes;
    std::vector<int> tags;  // indices into tags
    int draft = 0;          // the DraftBookmark it was announced as
  };
  Kind kind = Kind::Netscape;
  std::vector<Folder> folders;      // parents before children
  std::vector<Bookmark> bookmarks;  // document order
  std::vector<std::string> tags;    // each once, first-seen order
  // Folders nested deeper than the reader keeps; their bookmarks went to the deepest kept one.
  std::size_t flattenedFolders = 0;
  // Entries whose address a library does not take from a file, by reason.
  stored::LeftOutCounts leftOut;
  // Bookmarks skipped as duplicates (when skipping them): already in the library, or an address
  // the file gave before.
  std::size_t alreadyHeld = 0, repeated = 0;
  // Links (A elements with an HREF, as the parser reads them) neither kept, left out for a
  // reason nor skipped as duplicates: those the parser did not hand on (it stopped or misread
  // the file before its end), those of shapes the file's reading does not keep (a reading
  // list's file keeps only its lists; a list giving way to the next takes what came between),
  // and any the reader failed to place.
  std::size_t unread = 0;
  // Of those, the links the parser did not hand on, and those the reader failed to place (none,
  // unless it is at fault).
  std::size_t notHandedOn = 0, unaccounted = 0;
  // Of those too, the links in the text of a text-only element (TITLE, TEXTAREA, XMP, IFRAME,
  // NOEMBED, NOFRAMES), a SCRIPT, STYLE, TEMPLATE or comment the file never closes, or after a
  // PLAINTEXT: a browser reads them as text or leaves them out of the page, so they are not
  // stored. `unendedTextElement` names that element (lower case; "#comment" for a comment).
  std::size_t inUnendedText = 0;
  std::string unendedTextElement;
  // Titles, names and notes cut to the length the reader keeps.
  std::size_t cutTexts = 0;
  // Times a piece of text went up to an element keeping it (a title, notes, a name): the
  // reading's work, which grows with the file's text and not with how deeply its lists nest.
  std::size_t textSteps = 0;
  // The most elements the reading kept open at once: at most about the bound on open elements,
  // however deeply the file nests.
  std::size_t mostOpenElements = 0;
};

// Folders and bookmarks as the reader meets them, before the end of the file settles which are
// kept (an empty menu list may give way to the next one, a file without items may turn out a
// reading list, repeats may be skipped), how folders are named and in what order.
struct HTMLImportDraftFolder {
  int draft = 0;
  int parentDraft = HTMLImportRecords::kReceivingFolder;
  std::string name;
};
struct HTMLImportDraftBookmark {
  int draft = 0;
  int folderDraft = HTMLImportRecords::kReceivingFolder;
  std::string url, baseURL, title, notes;
  std::vector<std::string> tags;
};

class HTMLImportReader {
 public:
  // Folders deeper than this are flattened into the deepest kept folder.
  static constexpr int kMaxFolderDepth = stored::kMaximumFolderDepth;
  // Elements nest this deep at most, as in browsers; deeper ones become siblings (lists and
  // items still keep what they read, so no bookmark is lost).
  static constexpr int kMaxOpenElements = 512;
  // Longest title or folder name, and longest notes, kept (in bytes); longer ones are cut.
  static constexpr std::size_t kMaxTitleBytes = stored::kMaximumTitleBytes;
  static constexpr std::size_t kMaxNotesBytes = stored::kMaximumNoteBytes;

  struct Options {
    bool skipDuplicates = false;
    // Answers whether the store already holds a bookmark of this address (in the form
    // fnd::decodeAddressForStorage gives); asked only when skipping duplicates.
    std::function<bool(const std::string& address)> isKnown;
    // Told of every draft as it is read (on the reading thread), so that storing can start
    // before the file ends. The records then carry the bookmarks' addresses, folders and tags
    // only: their titles, notes and base addresses were in the drafts.
    std::function<void(const HTMLImportDraftFolder&)> onFolder;
    std::function<void(const HTMLImportDraftBookmark&)> onBookmark;
    // How deep elements nest (tests read with a lower bound).
    int maxOpenElements = kMaxOpenElements;
  };
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;

  // Absent when nothing could be read at all.
  static std::optional<HTMLImportRecords> read(const Source& source, const Options& options);
  static std::optional<HTMLImportRecords> read(std::string_view bytes, const Options& options);
};

}  // namespace kesto
