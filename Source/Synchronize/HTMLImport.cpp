#include "Synchronize/HTMLImport.h"

#include "Views/AlertPresenter.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/FetchRequest.h"

#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace kesto {

namespace {

constexpr const char* kUntitled = "Untitled";
constexpr const char* kImportedFrom = "HTML File";
// Folder nesting deeper than this is not a bookmark file anyone made by hand or by browser.
constexpr int kMaxFolderDepth = 200;
constexpr std::size_t kBookmarkBatch = 25000;

using fnd::XmlNode;

// Titles come from text that may hold line breaks (CRLF files) or only blanks; an empty
// result would make a nameless folder, which start-up deletes with its bookmarks' folder.
std::string folderTitle(std::string_view text) {
  std::string t = fnd::trimWhitespaceAndNewlines(fnd::replaceAll(fnd::replaceAll(text, "\r", ""), "\n", ""));
  return t.empty() ? std::string(kUntitled) : t;
}

XmlNode nextElement(XmlNode n) {
  for (n = n.nextSibling(); n; n = n.nextSibling())
    if (n.kind() == XmlNode::Kind::Element) return n;
  return {};
}

XmlNode previousElement(XmlNode n) {
  for (n = n.previousSibling(); n; n = n.previousSibling())
    if (n.kind() == XmlNode::Kind::Element) return n;
  return {};
}

XmlNode firstChildElement(const XmlNode& n, std::string_view name) {
  for (XmlNode c = n.firstChild(); c; c = c.nextSibling())
    if (c.kind() == XmlNode::Kind::Element && c.name() == name) return c;
  return {};
}

class Parser {
 public:
  Parser(bool skipDuplicates, const std::unordered_set<std::string>& skipURLs)
      : skip_(skipDuplicates), skipURLs_(skipURLs) {}

  HTMLImport::Parsed parsed;

  void processFolder(const std::string& parent, std::string_view title, const XmlNode& list, bool readingList,
                     int depth = 0) {
    if (depth > kMaxFolderDepth) return;
    FolderDummy folder;
    const std::string folderID = WrenEntity::uniqueID();
    folder.folderID = folderID;
    folder.name = folderTitle(title);
    folder.parentFolderID = parent;
    folder.version = 1;
    folder.orderIndex = ++childCount_[parent];
    folder.isExpanded = 0;

    for (const XmlNode& item : list.elementChildren(readingList ? "li" : "dt")) processItem(item, folderID);
    parsed.folders.push_back(std::move(folder));

    // Each subfolder is a DD holding its H3 and DL. The pairing is made inside each DD, so a
    // heading without a list cannot shift every later name by one. A folder with a description
    // (<DT><H3>name</H3><DD>text<DL>) keeps its heading in the DT and its list beside it.
    for (XmlNode child = list.firstChild(); child; child = child.nextSibling()) {
      if (child.kind() != XmlNode::Kind::Element) continue;
      XmlNode sublist;
      std::string name;
      if (child.name() == "dd") {
        if (!(sublist = firstChildElement(child, "dl"))) continue;
        if (XmlNode h3 = firstChildElement(child, "h3"))
          name = h3.stringValue();
        else
          name = headingBefore(child);
      } else if (child.name() == "dl") {
        sublist = child;
        name = headingBefore(child);
      } else {
        continue;
      }
      processFolder(folderID, name, sublist, readingList, depth + 1);
    }
  }

  // The name of a folder whose heading stayed in a DT before its list, skipping a description.
  static std::string headingBefore(const XmlNode& node) {
    XmlNode prev = previousElement(node);
    if (prev && prev.name() == "dd" && !firstChildElement(prev, "dl")) prev = previousElement(prev);
    if (prev && prev.name() == "dt" && !firstChildElement(prev, "a"))
      if (XmlNode h3 = firstChildElement(prev, "h3")) return h3.stringValue();
    return {};
  }

 private:
  void processItem(const XmlNode& item, const std::string& folderID) {
    XmlNode anchor;
    std::optional<std::string> href;
    for (const XmlNode& a : item.elementChildren("a")) {
      if (!anchor) anchor = a;
      if ((href = a.attribute("href"))) break;
    }
    // An item without a link (a separator, a folder heading) is skipped; the items after it
    // still belong to the folder.
    if (!href) return;
    const std::string url = fnd::trimWhitespaceAndNewlines(*href);
    if (!fnd::hasPrefix(url, "http")) return;

    BookmarkDummy bookmark(url, folderID);
    bookmark.title = fnd::trimWhitespaceAndNewlines(anchor.stringValue());
    bookmark.uniqueID = WrenEntity::uniqueID();
    if (auto tagText = anchor.attribute("tags")) {
      for (const std::string& piece : fnd::split(*tagText, ",")) {
        std::string tag = fnd::trimWhitespaceAndNewlines(fnd::replaceAll(piece, "_", " "));
        if (tag.empty()) continue;
        if (seenTags_.insert(tag).second) parsed.tags.push_back(tag);
        bookmark.tagStrings.push_back(tag);
      }
    }
    // A DD right after the item is its description, unless it is a subfolder.
    std::string notes;
    if (XmlNode dd = nextElement(item); dd && dd.name() == "dd" && !firstChildElement(dd, "h3") &&
                                        !firstChildElement(dd, "dl"))
      notes = fnd::trimWhitespaceAndNewlines(dd.stringValue());
    bookmark.notes = notes;

    if (skip_) {
      const std::string& key = bookmark.url.string();
      if (skipURLs_.count(key) || !processed_.insert(key).second) return;
    }
    parsed.bookmarks.push_back(std::move(bookmark));
  }

  bool skip_;
  const std::unordered_set<std::string>& skipURLs_;
  std::unordered_set<std::string> processed_;
  std::unordered_set<std::string> seenTags_;
  std::unordered_map<std::string, std::int64_t> childCount_;
};


// A folder description (<DD>text) runs on into the folder's <DL> in the source. Left open, the
// description would take the list in and the next DD would close both, spilling the rest of
// the folder into its parent. Closing any open DD right before a DL keeps the list a sibling;
// where no DD is open the parser ignores the end tag.
std::string closeDescriptionsBeforeLists(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 64);
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t lt = bytes.find('<', i);
    if (lt == std::string_view::npos) break;
    out.append(bytes.substr(i, lt - i));
    if (bytes.compare(lt, 4, "<!--") == 0) {
      std::size_t end = bytes.find("-->", lt + 4);
      end = end == std::string_view::npos ? bytes.size() : end + 3;
      out.append(bytes.substr(lt, end - lt));
      i = end;
      continue;
    }
    const char next = lt + 1 < bytes.size() ? bytes[lt + 1] : 0;
    if (!std::isalpha(static_cast<unsigned char>(next)) && next != '/' && next != '!') {
      // A bare "<" in text opens no tag.
      out.push_back('<');
      i = lt + 1;
      continue;
    }
    // The whole tag, quoted attribute values included, is copied as it stands.
    std::size_t end = lt + 1;
    char quote = 0;
    for (; end < bytes.size(); ++end) {
      const char c = bytes[end];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        ++end;
        break;
      }
    }
    const bool listStart = lt + 3 < bytes.size() && (bytes[lt + 1] | 0x20) == 'd' && (bytes[lt + 2] | 0x20) == 'l' &&
                           (bytes[lt + 3] == '>' || bytes[lt + 3] == ' ' || bytes[lt + 3] == '\t' ||
                            bytes[lt + 3] == '\r' || bytes[lt + 3] == '\n');
    if (listStart) out.append("</dd>");
    out.append(bytes.substr(lt, end - lt));
    i = end;
  }
  if (i < bytes.size()) out.append(bytes.substr(i));
  return out;
}

}  // namespace

namespace {
std::shared_ptr<fnd::XmlDocument> parseBookmarkHTML(std::string_view bytes) {
  // UTF-16 files have no ASCII tags to adjust; they go to the reader as they are.
  const bool utf16 = bytes.size() >= 2 && ((static_cast<unsigned char>(bytes[0]) == 0xFF &&
                                            static_cast<unsigned char>(bytes[1]) == 0xFE) ||
                                           (static_cast<unsigned char>(bytes[0]) == 0xFE &&
                                            static_cast<unsigned char>(bytes[1]) == 0xFF));
  if (utf16) return fnd::HtmlDocument::parse(bytes);
  return fnd::HtmlDocument::parse(closeDescriptionsBeforeLists(bytes));
}
}  // namespace

std::optional<HTMLImport::Parsed> HTMLImport::parseDocument(std::string_view bytes, const std::string& rootFolderID,
                                                            bool skipDuplicates,
                                                            const std::unordered_set<std::string>& skipURLs,
                                                            FileKind* kindOut) {
  auto doc = parseBookmarkHTML(bytes);
  if (!doc) return std::nullopt;
  XmlNode body = doc->firstNodeForXPath("/html/body");
  if (!body) return std::nullopt;

  FileKind kind = FileKind::Netscape;
  if (!doc->firstNodeForXPath("//dt")) {
    const std::string title = fnd::trimWhitespaceAndNewlines(doc->firstNodeForXPath("/html/head/title").stringValue());
    if (title == "Read It Later Export" || title == "Pocket Export")
      kind = FileKind::Pocket;
    else if (title == "Instapaper: Export")
      kind = FileKind::Instapaper;
  }
  if (kindOut) *kindOut = kind;

  Parser parser(skipDuplicates, skipURLs);
  if (kind == FileKind::Netscape) {
    std::vector<XmlNode> lists = body.elementChildren("dl");
    std::size_t i = 0;
    for (XmlNode child = body.firstChild(); child; child = child.nextSibling()) {
      if (child.kind() != XmlNode::Kind::Element) continue;
      if (child.name() == "dd") {
        // A top-level folder written without an enclosing list (our own export does this, as
        // some browsers do) arrives as a DD holding its heading and list.
        if (XmlNode sublist = firstChildElement(child, "dl")) {
          XmlNode h3 = firstChildElement(child, "h3");
          parser.processFolder(rootFolderID, h3 ? h3.stringValue() : std::string(), sublist, false);
        }
        continue;
      }
      if (child.name() != "dl" || i >= lists.size() || !(child == lists[i])) continue;
      XmlNode list = lists[i];
      XmlNode before = list.previousSibling();
      std::string title = folderTitle(before ? before.stringValue() : std::string());
      // Some browsers write an empty menu list followed by the real one.
      if ((title == "Bookmarks Menu" || title == "Favorites Bar") && list.elementChildren("dt").empty() &&
          list.nextSibling() && i + 1 < lists.size()) {
        XmlNode nextBefore = lists[i + 1].previousSibling();
        if (!(nextBefore && nextBefore.hasAttribute("folded"))) {
          list = lists[++i];
          child = list;
        }
      }
      ++i;
      parser.processFolder(rootFolderID, title, list, false);
    }
  } else {
    std::vector<XmlNode> headings = body.elementChildren("h3");
    if (headings.empty()) headings = body.elementChildren("h1");
    std::vector<XmlNode> lists = body.elementChildren(kind == FileKind::Pocket ? "ul" : "ol");
    for (std::size_t k = 0; k < lists.size(); ++k)
      parser.processFolder(rootFolderID, k < headings.size() ? headings[k].stringValue() : std::string(), lists[k],
                           true);
  }
  return std::move(parser.parsed);
}

// ----------------------------------------------------------------------------------------------

struct HTMLImport::Impl : std::enable_shared_from_this<HTMLImport::Impl> {
  mutable std::mutex mutex;
  DataManager* dataManager = nullptr;
  std::function<void(bool)> sheet;
  std::function<void(bool)> completion;
  bool skipDuplicates = false;
  std::atomic<bool> running{false};
  std::string importFilePath;
  std::string importRootFolderID;

  enum class Outcome { Imported, Unreadable, NotStored };

  // Parse thread: read, parse, write through a context of its own.
  Outcome parseAndWrite(const std::string& path, const std::string& rootID, bool skip) {
    auto context = WrenDataManager::sharedInstance().newManagedObjectContext();
    if (!context) {
      fnd::logError("Unable to read bookmark file '" + path + "' for import: no store");
      return Outcome::Unreadable;
    }
    fnd::Error error;
    auto bytes = fnd::FileManager::readFile(path, fnd::HtmlDocument::kDefaultMaxInputBytes, &error);
    if (!bytes) {
      fnd::logError("Unable to read bookmark file '" + path + "' for import");
      return Outcome::Unreadable;
    }

    // Duplicates are checked against one read of the store's URLs, on this thread's own
    // context, rather than one query per bookmark.
    std::unordered_set<std::string> existing;
    if (skip) {
      store::FetchRequest request;
      request.entityName = Bookmark::entityName();
      request.resultType = store::FetchRequest::ResultType::Dictionaries;
      request.propertiesToFetch = {"url"};
      if (auto rows = context->fetchDictionaries(request)) {
        existing.reserve(rows->size());
        for (const auto& row : *rows)
          if (auto it = row.find("url"); it != row.end() && it->second.isString()) existing.insert(it->second.string());
      }
    }

    auto parsed = HTMLImport::parseDocument(*bytes, rootID, skip, existing);
    // The file's text is not needed for the writes; a large export should not be held twice.
    bytes.reset();
    existing = {};
    if (!parsed) {
      fnd::logError("Unable to read bookmark file '" + path + "' for import");
      return Outcome::Unreadable;
    }
    if (!HTMLImport::finalizeImport(*parsed, context, rootID)) {
      fnd::logError("Bookmarks from '" + path + "' could not all be stored");
      return Outcome::NotStored;
    }
    return Outcome::Imported;
  }

  // Main thread.
  void finish(Outcome outcome) {
    const bool imported = outcome == Outcome::Imported;
    // What a failed write stored before it stays, in its folders, and is shown.
    if (outcome != Outcome::Unreadable) {
      if (dataManager) dataManager->fetchAllBookmarksFromCoreData();
      ViewUpdater::updateTags();
      ViewUpdater::updateFoldersCompletely();
    } else {
      // Nothing was imported: the empty receiving folder goes again, and the user hears why.
      if (auto root = Folder::existingFolderWithFolderID(importRootFolderID)) {
        root->deleteEntity();
        WrenEntity::saveContext();
      }
      ViewUpdater::updateFoldersCompletely();
    }
    if (sheet) sheet(false);
    ViewUpdater::stopActivity();
    running = false;
    const std::string file = fnd::FileManager::lastPathComponent(importFilePath);
    if (imported)
      ViewUpdater::showMessage("Import complete", 250, 100);
    else if (outcome == Outcome::NotStored)
      AlertPresenter::alert("Import failed", "The bookmarks from '" + file + "' could not all be stored.");
    else
      AlertPresenter::alert("Import failed", "Unable to read bookmark file '" + file + "' for import.");
    if (completion) completion(imported);
  }
};

bool HTMLImport::finalizeImport(const Parsed& parsed, const std::shared_ptr<store::Context>& context,
                                const std::string& rootID) {
  std::unordered_map<std::string, Folder::Ref> folders;
  if (auto root = Folder::folderWithFolderID(rootID, context)) folders[rootID] = root;
  for (const FolderDummy& record : parsed.folders) {
    auto folder = Folder::initEntityInContext(context);
    if (!folder) return false;
    folder->setName(record.name.string());
    folder->setFolderID(record.folderID.string());
    folder->setParentFolderID(record.parentFolderID.string());
    folder->setOrderIndex(record.orderIndex.intValue());
    folder->setVersion(1);
    folder->setIsExpanded(0);
    folders[record.folderID.string()] = folder;
  }
  if (!WrenEntity::saveContext(context)) return false;

  std::unordered_map<std::string, Tag::Ref> tags;
  if (auto all = Tag::fetchEntities(context))
    for (const auto& tag : *all) tags.emplace(tag->name(), tag);
  for (const std::string& name : parsed.tags) {
    if (name.empty() || tags.count(name)) continue;
    auto tag = Tag::initEntityInContext(context);
    if (!tag) continue;
    tag->setName(name);
    tags[name] = tag;
  }
  if (!WrenEntity::saveContext(context)) return false;

  // Bookmarks are saved in batches and the context forgets each saved batch, so a large file
  // never holds every new object in memory at once. Folders and tags are found again by their
  // object identifiers after each batch.
  std::unordered_map<std::string, store::ObjectIDRef> folderIDs, tagIDs;
  for (const auto& [id, folder] : folders)
    if (folder) folderIDs[id] = folder->objectID();
  for (const auto& [name, tag] : tags)
    if (tag) tagIDs[name] = tag->objectID();

  const fnd::Date now = fnd::Date::now();
  std::size_t inBatch = 0;
  for (const BookmarkDummy& record : parsed.bookmarks) {
    auto bookmark = Bookmark::initEntityInContext(context);
    if (!bookmark) return false;
    bookmark->setAddedDate(now);
    bookmark->setUniqueID(record.uniqueID.string());
    bookmark->setNeedsUpdate(1);
    bookmark->setVersion(1);
    bookmark->setTitle(record.title.string());
    bookmark->setUrl(record.url.string());
    bookmark->setImportDate(now);
    bookmark->setImportedFrom(std::string(kImportedFrom));
    if (!record.notes.string().empty()) bookmark->setNotes(record.notes.string());
    bookmark->setTitleUpdated(1);
    const std::string& folderID = record.folderID.string();
    auto& folder = folders[folderID];
    if (!folder) {
      if (auto it = folderIDs.find(folderID); it != folderIDs.end())
        folder = std::dynamic_pointer_cast<Folder>(context->objectWithID(it->second));
      if (!folder && (folder = Folder::folderWithFolderID(folderID, context))) folderIDs[folderID] = folder->objectID();
    }
    bookmark->setFolder(folder);
    if (record.baseURL.isString()) bookmark->setBaseURL(record.baseURL.string());
    if (record.updatedDate.isDate()) bookmark->setUpdatedDate(record.updatedDate.date());
    bookmark->setTrashed(record.trashed.intValue());
    for (const std::string& name : record.tagStrings) {
      auto& tag = tags[name];
      if (!tag)
        if (auto it = tagIDs.find(name); it != tagIDs.end())
          tag = std::dynamic_pointer_cast<Tag>(context->objectWithID(it->second));
      if (tag) bookmark->addTag(tag);
    }
    if (++inBatch == kBookmarkBatch) {
      inBatch = 0;
      if (!WrenEntity::saveContext(context)) return false;
      folders.clear();
      tags.clear();
      context->reset();
    }
  }
  return WrenEntity::saveContext(context);
}

HTMLImport::HTMLImport() : d_(std::make_shared<Impl>()) {}
HTMLImport::~HTMLImport() = default;

void HTMLImport::setDataManager(DataManager* dataManager) { d_->dataManager = dataManager; }
void HTMLImport::setImportFolderSheet(std::function<void(bool)> sheet) { d_->sheet = std::move(sheet); }
void HTMLImport::setCompletionHandler(std::function<void(bool)> completion) { d_->completion = std::move(completion); }
bool HTMLImport::skipDuplicates() const { return d_->skipDuplicates; }
void HTMLImport::setSkipDuplicates(bool skip) { d_->skipDuplicates = skip; }
bool HTMLImport::isImporting() const { return d_->running; }
std::string HTMLImport::importRootFolderID() const { return d_->importRootFolderID; }

void HTMLImport::openDialog() {
  if (d_->sheet) d_->sheet(true);
}
void HTMLImport::closeDialog() {
  if (d_->sheet) d_->sheet(false);
}

bool HTMLImport::importFromFile(const std::string& path) {
  // A second import would otherwise start while the first is still writing.
  if (path.empty() || d_->running.exchange(true)) return false;
  ViewUpdater::startActivity();
  ViewUpdater::showMessage("Importing Bookmarks", 250, 100, 2);
  d_->importFilePath = path;
  openDialog();

  auto root = Folder::initEntity();
  if (!root) {
    d_->running = false;
    d_->finish(Impl::Outcome::Unreadable);
    return false;
  }
  root->setName(fnd::FileManager::lastPathComponent(path));
  root->setParentFolderID(Folder::kImportedID);
  root->setOrderIndex(0);
  root->setOrderIndex(root->lastOrderIndex() + 1);
  d_->importRootFolderID = root->folderID();
  root->saveFolder();

  std::thread([impl = d_, path, rootID = d_->importRootFolderID, skip = d_->skipDuplicates] {
    const auto outcome = impl->parseAndWrite(path, rootID, skip);
    std::weak_ptr<Impl> weak = impl;
    fnd::DispatchQueue::main().async([weak, outcome] {
      if (auto strong = weak.lock()) strong->finish(outcome);
    });
  }).detach();
  return true;
}

}  // namespace kesto
