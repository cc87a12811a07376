#include "Synchronize/SyncFile.h"

#include "Synchronize/SliceWork.h"

#include "Model/StoredText.h"

#include "Model/Bookmark.h"
#include "Model/Config.h"
#include "Model/DateAdditions.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace kesto {

namespace {

constexpr std::string_view kSemicolonEscape = "##semicolon##";

std::string escapeSemicolons(std::string_view text) { return fnd::replaceAll(text, ";", kSemicolonEscape); }
std::string unescapeSemicolons(std::string_view text) { return fnd::replaceAll(text, kSemicolonEscape, ";"); }

// The leading decimal integer of the text: blanks, an optional sign, digits; anything else 0.
std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) break;
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string trimmed(std::string_view text) {
  auto b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  auto e = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(b, e - b + 1));
}

std::string intText(std::int64_t v) { return std::to_string(v); }

void line(std::string& out, int indent, std::string_view tag, std::string_view escapedContent) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out += '<';
  out += tag;
  out += '>';
  out += escapedContent;
  out += "</";
  out += tag;
  out += ">\n";
}

void open(std::string& out, int indent, std::string_view tag) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out += '<';
  out += tag;
  out += ">\n";
}

void close(std::string& out, int indent, std::string_view tag) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out += "</";
  out += tag;
  out += ">\n";
}

struct BookmarkFields {
  std::optional<std::string> folderID;
  std::vector<std::string> services;
  std::string uniqueID;
  std::int64_t version = 0;
  std::string title, url, notes;
  std::int64_t rating = 0, trashed = 0;
  std::vector<std::string> tags;
  std::optional<fnd::Date> added, updated, lastVisited, importedOn;
  std::int64_t timesVisited = 0;
  std::string importedFrom;
  std::int64_t broken = 0;
  std::string login, password, color;
  std::int64_t favorite = 0, blocked = 0;
};

void writeBookmark(std::string& out, const BookmarkFields& f) {
  open(out, 2, "bookmark");
  open(out, 4, "folders");
  if (f.folderID) line(out, 6, "folder-id", SyncFile::escapeText(*f.folderID));
  close(out, 4, "folders");
  open(out, 4, "services");
  for (const auto& s : f.services) line(out, 2, "service-name", SyncFile::escapeText(s));
  close(out, 4, "services");
  line(out, 4, "id", SyncFile::cdata(f.uniqueID));
  line(out, 4, "version", intText(f.version));
  line(out, 4, "title", SyncFile::cdata(escapeSemicolons(f.title)));
  line(out, 4, "url", SyncFile::cdata(escapeSemicolons(f.url)));
  line(out, 4, "notes", SyncFile::cdata(f.notes));
  line(out, 4, "rating", intText(f.rating));
  line(out, 4, "trashed", intText(f.trashed));
  open(out, 4, "tags");
  for (const auto& t : f.tags) {
    out.append(6, ' ');
    out += "<tag><name>";
    out += SyncFile::cdata(t);
    out += "</name></tag>\n";
  }
  close(out, 4, "tags");
  line(out, 4, "added-date", SyncFile::dateText(f.added));
  line(out, 4, "updated-date", SyncFile::dateText(f.updated));
  line(out, 4, "times-visited", intText(f.timesVisited));
  line(out, 4, "last-visited", SyncFile::dateText(f.lastVisited));
  line(out, 4, "imported-on", SyncFile::dateText(f.importedOn));
  line(out, 4, "imported-from", SyncFile::cdata(f.importedFrom));
  line(out, 4, "broken", intText(f.broken));
  line(out, 4, "login", SyncFile::escapeText(f.login));
  line(out, 4, "password", SyncFile::escapeText(f.password));
  line(out, 4, "color", SyncFile::escapeText(f.color));
  line(out, 4, "favorite", intText(f.favorite));
  line(out, 4, "blocked", intText(f.blocked));
  close(out, 2, "bookmark");
}

// The records' text, formatted in slices on several threads once their fields are read: a
// library's file is tens of megabytes.
void writeBookmarks(std::string& out, const std::vector<BookmarkFields>& records) {
  constexpr std::size_t kPerSlice = 2000;
  std::vector<std::string> slices((records.size() + kPerSlice - 1) / kPerSlice);
  runSlices(slices.size(), [&](std::size_t i) {
    const std::size_t end = std::min(records.size(), (i + 1) * kPerSlice);
    for (std::size_t k = i * kPerSlice; k < end; ++k) writeBookmark(slices[i], records[k]);
  });
  std::size_t total = out.size();
  for (const auto& slice : slices) total += slice.size();
  out.reserve(total);
  for (const auto& slice : slices) out += slice;
}

BookmarkFields fieldsOf(const Bookmark& b) {
  BookmarkFields f;
  if (auto folder = b.folder()) f.folderID = folder->folderID();
  f.services = b.serviceNames();
  f.uniqueID = b.uniqueIDValue().value_or("");
  f.version = b.version();
  f.title = b.title().value_or("");
  f.url = b.url().value_or("");
  f.notes = b.notes().value_or("");
  f.rating = static_cast<std::int64_t>(std::llround(b.rating().value_or(0)));
  f.trashed = b.trashed();
  for (const auto& t : b.tags())
    if (t) f.tags.push_back(t->name());
  f.added = b.addedDate();
  f.updated = b.updatedDate();
  f.timesVisited = b.timesOpened();
  f.lastVisited = b.lastOpened();
  f.importedOn = b.importDate();
  f.importedFrom = b.importedFrom().value_or("");
  f.broken = b.broken();
  f.login = b.login().value_or("");
  f.password = b.password().value_or("");
  f.color = b.color().value_or("");
  f.favorite = b.isFavorite();
  f.blocked = b.blocked();
  return f;
}

void writeFolder(std::string& out, const Folder& folder, const std::string& id, const std::string& parent) {
  open(out, 2, "folder");
  line(out, 4, "folderID", SyncFile::escapeText(id));
  line(out, 4, "parentFolderID", SyncFile::escapeText(parent.empty() ? "(null)" : parent));
  line(out, 4, "name", SyncFile::cdata(folder.name()));
  line(out, 4, "orderIndex", intText(folder.orderIndex()));
  line(out, 4, "isExpanded", intText(folder.isExpanded()));
  line(out, 4, "blocked", intText(folder.blocked()));
  line(out, 4, "color", SyncFile::escapeText(folder.color().value_or("(null)")));
  line(out, 4, "version", intText(folder.version()));
  close(out, 2, "folder");
}

void appendHeader(std::string& out, const char* root, const std::string& kestoID, const std::string& uploadID = {}) {
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += '<';
  out += root;
  out += ">\n";
  if (uploadID.empty()) return line(out, 0, "kesto-id", SyncFile::escapeText(kestoID));
  // An attribute, so readers that know only the identifier read it as before.
  out += "<kesto-id " + std::string(kUploadAttribute) + "=\"" + SyncFile::escapeText(uploadID) + "\">" +
         SyncFile::escapeText(kestoID) + "</kesto-id>\n";
}

// One record element as the reader sees it: the text of the first child element of each name
// (every text below it joined), and the lists a bookmark carries.
struct Record {
  std::vector<std::pair<std::string, std::string>> first;
  std::vector<std::string> tagNames;      // tags/tag: the first name of each tag, of the first tags
  std::vector<std::string> serviceNames;  // services/service-name, of the first services
  std::vector<std::string> folderIDs;     // folders/folder-id, of the first folders
  const std::string* find(std::string_view name) const {
    for (const auto& [n, text] : first)
      if (n == name) return &text;
    return nullptr;
  }
  std::optional<std::string> text(std::string_view name) const {
    auto t = find(name);
    if (!t) return std::nullopt;
    return *t;
  }
  void clear() {
    first.clear();
    tagNames.clear();
    serviceNames.clear();
    folderIDs.clear();
  }
};

// "yyyy-MM-dd HH:mm:ss +hhmm", the form this system writes, without the general formatter (a
// sync file holds three dates per bookmark). Anything else goes to the formatter.
std::optional<fnd::Date> fastDate(std::string_view t) {
  if (t.size() != 25 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':' || t[19] != ' ' ||
      (t[20] != '+' && t[20] != '-'))
    return std::nullopt;
  auto num = [&](std::size_t pos, std::size_t len, int* out) {
    int v = 0;
    for (std::size_t i = pos; i < pos + len; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (t[i] - '0');
    }
    *out = v;
    return true;
  };
  int y, m, d, hh, mm, ss, oh, om;
  if (!num(0, 4, &y) || !num(5, 2, &m) || !num(8, 2, &d) || !num(11, 2, &hh) || !num(14, 2, &mm) ||
      !num(17, 2, &ss) || !num(21, 2, &oh) || !num(23, 2, &om))
    return std::nullopt;
  if (m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60) return std::nullopt;
  // Days from the civil date (proleptic Gregorian).
  const int yy = y - (m <= 2);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(yy - era * 400);
  const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
  long long secs = days * 86400 + hh * 3600 + mm * 60 + ss;
  const long long offset = (oh * 3600 + om * 60) * (t[20] == '-' ? -1 : 1);
  return fnd::Date::withTimeIntervalSince1970(static_cast<double>(secs - offset));
}

std::optional<fnd::Date> dateOf(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  auto t = trimmed(*text);
  if (t.empty()) return std::nullopt;
  if (auto fast = fastDate(t)) return fast;
  return brightwren::dateFromString(t);
}

FolderDummy readFolder(const Record& c) {
  FolderDummy d;
  auto str = [&](const char* name, fnd::Value& target) {
    if (auto t = c.text(name)) target = fnd::Value(trimmed(*t));
  };
  if (auto t = c.text("name")) d.name = fnd::Value(stored::title(*t));
  str("folderID", d.folderID);
  str("parentFolderID", d.parentFolderID);
  if (auto t = c.text("version")) d.version = fnd::Value(leadingInteger(*t));
  if (auto t = c.text("orderIndex")) d.orderIndex = fnd::Value(leadingInteger(*t));
  if (auto t = c.text("isExpanded")) d.isExpanded = fnd::Value(leadingInteger(*t));
  if (auto color = c.text("color")) {
    auto name = fnd::replaceAll(trimmed(*color), ".png", "");
    d.color = name == "(null)" || name.empty() ? fnd::Value() : fnd::Value(name);
    if (auto b = c.text("blocked")) d.blocked = fnd::Value(leadingInteger(*b));
  }
  return d;
}

// `blank` is a record as a new BookmarkDummy starts, made once per document.
BookmarkDummy readBookmark(const Record& c, bool isSync, const BookmarkDummy& blank) {
  BookmarkDummy d = blank;
  d.folderID = fnd::Value();
  auto id = isSync ? c.text("id") : std::nullopt;
  if (id && !trimmed(*id).empty()) {
    d.uniqueID = fnd::Value(trimmed(*id));
  } else {
    if (isSync) fnd::logError("Exception trying to read XML file value");
    d.uniqueID = fnd::Value(WrenEntity::uniqueID());
  }
  if (auto t = c.text("url")) {
    auto url = unescapeSemicolons(trimmed(*t));
    // Kept whole or not at all (the caller drops the record): a cut address leads elsewhere. A
    // sync keeps another library's text letter for letter; an archive comes in as a bookmark
    // file does, in the form an import stores.
    if (url.size() > stored::kMaximumAddressBytes)
      d.url = fnd::Value();
    else
      d.url = fnd::Value(stored::address(isSync ? url : fnd::decodeAddressForStorage(url)));
  }
  if (auto t = c.text("title")) d.title = fnd::Value(stored::title(unescapeSemicolons(*t)));
  d.version = fnd::Value(leadingInteger(c.text("version").value_or("")));
  d.rating = fnd::Value(leadingInteger(c.text("rating").value_or("")));
  d.trashed = fnd::Value(leadingInteger(c.text("trashed").value_or("")));
  d.timesOpened = fnd::Value(leadingInteger(c.text("times-visited").value_or("")));
  d.notes = fnd::Value(stored::note(c.text("notes").value_or("")));
  if (auto date = dateOf(c.text("last-visited"))) d.lastOpened = fnd::Value(*date);
  auto added = dateOf(c.text("added-date"));
  if (added) d.addedDate = fnd::Value(*added);
  if (auto updated = dateOf(c.text("updated-date")))
    d.updatedDate = fnd::Value(*updated);
  else
    d.updatedDate = added ? fnd::Value(*added) : fnd::Value();
  d.importDate = fnd::Value(fnd::Date::now());
  if (auto t = c.text("imported-from"); t && !t->empty()) d.importedFrom = fnd::Value(*t);
  for (const auto& name : c.tagNames) {
    if (d.tagStrings.size() == stored::kMaximumTagsPerBookmark) break;
    auto text = stored::tagName(name);
    if (!text.empty()) d.tagStrings.push_back(text);
  }
  // broken, login, password: the first one missing ends the group; then favorite and color.
  if (auto b = c.text("broken")) {
    d.broken = fnd::Value(leadingInteger(*b));
    if (auto l = c.text("login")) {
      d.login = fnd::Value(*l);
      if (auto p = c.text("password")) d.password = fnd::Value(trimmed(*p));
    }
  }
  if (auto f = c.text("favorite")) {
    d.isFavorite = fnd::Value(leadingInteger(*f));
    if (auto col = c.text("color")) d.color = fnd::Value(trimmed(*col));
  }
  if (auto b = c.text("blocked")) d.blocked = fnd::Value(leadingInteger(*b));
  for (const auto& s : c.serviceNames) {
    auto name = trimmed(s);
    if (!name.empty()) d.serviceStrings.push_back(name);
  }
  std::string folderID;
  if (!c.folderIDs.empty()) folderID = trimmed(c.folderIDs.front());
  d.folderID = fnd::Value(folderID.empty() ? std::string(Folder::kInboxID) : folderID);
  return d;
}

// Reads the document in one streaming pass, each record straight into its transfer record: a
// library's file is tens of megabytes, and a tree of it would cost several times that in small
// allocations. Input is untrusted: the network is never used, documents declaring entities are
// refused, and undeclared ones fail the parse.
class StreamReader {
 public:
  StreamReader(SyncDocument& out, bool isSync) : out_(out), isSync_(isSync) {}

  bool parse(std::string_view text, fnd::Error* error) {
    if (text.size() > fnd::XmlDocument::kDefaultMaxInputBytes || text.size() > static_cast<std::size_t>(INT32_MAX))
      return fail(error, fnd::XmlDocument::kRefusedInputError, "The document is too large to read.");
    xmlInitParser();
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = startElement;
    sax.endElementNs = endElement;
    sax.characters = characters;
    sax.cdataBlock = characters;
    sax.entityDecl = refuseEntity;
    sax.unparsedEntityDecl = refuseUnparsedEntity;
    sax.serror = recordError;
    // The first bytes let the parser see a byte-order mark; the rest follow in slices, read
    // straight from the caller's buffer.
    const std::size_t head = std::min<std::size_t>(text.size(), 4);
    ctxt_ = xmlCreatePushParserCtxt(&sax, this, text.data(), static_cast<int>(head), nullptr);
    if (!ctxt_) return fail(error, 1, "The document could not be read");
    xmlCtxtUseOptions(ctxt_, XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOWARNING);
    constexpr std::size_t kSlice = 1 << 20;
    for (std::size_t at = head; at < text.size() && !stopped(); at += kSlice) {
      const std::size_t n = std::min(kSlice, text.size() - at);
      xmlParseChunk(ctxt_, text.data() + at, static_cast<int>(n), 0);
    }
    if (!stopped()) xmlParseChunk(ctxt_, nullptr, 0, 1);
    const bool wellFormed = ctxt_->wellFormed != 0;
    // The parser makes a document of its own to hold a declared subset; nothing else owns it.
    if (ctxt_->myDoc) xmlFreeDoc(ctxt_->myDoc);
    ctxt_->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt_);
    ctxt_ = nullptr;
    if (refused_) return fail(error, fnd::XmlDocument::kRefusedInputError, "Entity declarations are not accepted.");
    if (!wellFormed) {
      std::string message = message_.empty() ? std::string("The document is not well-formed.") : message_;
      if (line_ > 0) message += " (line " + std::to_string(line_) + ")";
      return fail(error, XML_ERR_DOCUMENT_END, message);
    }
    return true;
  }

 private:
  enum class List { None, Bookmarks, Folders, Services, Deletions };
  enum class Item { None, Tag, TagName, ServiceName, FolderID };

  static bool fail(fnd::Error* error, long code, const std::string& message) {
    if (error) *error = fnd::Error::withDescription(fnd::XmlDocument::kErrorDomain, code, message);
    return false;
  }
  bool stopped() const { return refused_ || !ctxt_->wellFormed || ctxt_->disableSAX; }

  static std::string nameOf(const xmlChar* local, const xmlChar* prefix) {
    std::string name;
    if (prefix) (name = reinterpret_cast<const char*>(prefix)) += ':';
    name += reinterpret_cast<const char*>(local);
    return name;
  }

  static void startElement(void* self, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                           int attributeCount, int, const xmlChar** attributes) {
    auto& r = *static_cast<StreamReader*>(self);
    const std::string name = nameOf(local, prefix);
    const int depth = ++r.depth_;
    if (depth == 1) {
      r.out_.rootName = name;
    } else if (depth == 2) {
      r.list_ = name == "bookmarks" ? List::Bookmarks
                : name == "folders" ? List::Folders
                : name == "services" ? List::Services
                : name == "deletions" ? List::Deletions
                                      : List::None;
      if (name == "kesto-id" || name == "kesto-password") {
        r.topField_ = name;
        r.fieldText_ = &r.topText_;
        r.topText_.clear();
        r.topNil_ = false;
        r.topUpload_.clear();
        // Five pointers per attribute: local name, prefix, URI, value start, value end.
        for (int i = 0; i < attributeCount; ++i) {
          if (attributes[i * 5 + 1]) continue;
          const std::string_view attribute(reinterpret_cast<const char*>(attributes[i * 5]));
          if (attribute == "nil") r.topNil_ = true;
          if (attribute == kUploadAttribute && name == "kesto-id")
            r.topUpload_.assign(reinterpret_cast<const char*>(attributes[i * 5 + 3]),
                                reinterpret_cast<const char*>(attributes[i * 5 + 4]));
        }
      }
    } else if (depth == 3) {
      const bool record = (r.list_ == List::Bookmarks && name == "bookmark") ||
                          (r.list_ == List::Folders && name == "folder") ||
                          (r.list_ == List::Services && name == "service") ||
                          (r.list_ == List::Deletions && name == "deleted-object");
      r.inRecord_ = record;
      if (record) r.record_.clear(), r.seenLists_ = 0;
    } else if (depth == 4 && r.inRecord_) {
      if (!r.record_.find(name)) {
        r.record_.first.emplace_back(name, std::string());
        r.fieldText_ = &r.record_.first.back().second;
      }
      // Only the first of each list is read, as for every other field.
      const auto list = name == "tags" ? 1 : name == "services" ? 2 : name == "folders" ? 4 : 0;
      r.listField_ = list && !(r.seenLists_ & list) && r.list_ == List::Bookmarks ? list : 0;
      r.seenLists_ |= list;
    } else if (depth == 5 && r.listField_) {
      if (r.listField_ == 1 && name == "tag") {
        r.item_ = Item::Tag;
        r.tagNamed_ = false;
      } else if (r.listField_ == 2 && name == "service-name") {
        r.item_ = Item::ServiceName;
        r.itemText_ = &r.record_.serviceNames.emplace_back();
      } else if (r.listField_ == 4 && name == "folder-id" && r.record_.folderIDs.empty()) {
        r.item_ = Item::FolderID;
        r.itemText_ = &r.record_.folderIDs.emplace_back();
      }
    } else if (depth == 6 && r.item_ == Item::Tag && name == "name" && !r.tagNamed_) {
      r.tagNamed_ = true;
      r.item_ = Item::TagName;
      r.itemText_ = &r.record_.tagNames.emplace_back();
    }
  }

  static void endElement(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto& r = *static_cast<StreamReader*>(self);
    const int depth = r.depth_--;
    if (depth == 2) {
      if (!r.topField_.empty()) r.endTopField();
      r.list_ = List::None;
      r.fieldText_ = nullptr;
    } else if (depth == 3 && r.inRecord_) {
      r.endRecord();
      r.inRecord_ = false;
    } else if (depth == 4) {
      r.fieldText_ = nullptr;
      r.listField_ = 0;
    } else if (depth == 5) {
      if (r.item_ != Item::None) r.item_ = Item::None, r.itemText_ = nullptr;
    } else if (depth == 6 && r.item_ == Item::TagName) {
      r.item_ = Item::Tag;
      r.itemText_ = nullptr;
    }
  }

  static void characters(void* self, const xmlChar* text, int length) {
    auto& r = *static_cast<StreamReader*>(self);
    if (length <= 0) return;
    const auto* chars = reinterpret_cast<const char*>(text);
    if (r.fieldText_) r.fieldText_->append(chars, static_cast<std::size_t>(length));
    if (r.itemText_) r.itemText_->append(chars, static_cast<std::size_t>(length));
  }

  static void refuseEntity(void* self, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    static_cast<StreamReader*>(self)->refuse();
  }
  static void refuseUnparsedEntity(void* self, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
    static_cast<StreamReader*>(self)->refuse();
  }
  void refuse() {
    refused_ = true;
    xmlStopParser(ctxt_);
  }

  static void recordError(void* self, xmlErrorPtr error) {
    auto& r = *static_cast<StreamReader*>(self);
    if (!error || error->level < XML_ERR_ERROR || !r.message_.empty()) return;
    r.message_ = error->message ? error->message : "XML error";
    while (!r.message_.empty() && (r.message_.back() == '\n' || r.message_.back() == ' ')) r.message_.pop_back();
    r.line_ = error->line;
  }

  void endTopField() {
    if (topField_ == "kesto-id") {
      auto id = trimmed(topText_);
      if (!topNil_ && !id.empty()) {
        out_.kestoID = id;
        // Without entity replacement the parser hands an escaped "&" on as "&#38;".
        out_.uploadID = topUpload_.empty() ? std::nullopt
                                           : std::optional<std::string>(trimmed(fnd::replaceAll(topUpload_, "&#38;", "&")));
      }
    } else if (!out_.password) {
      out_.password = trimmed(topText_);
    }
    topField_.clear();
  }

  void endRecord() {
    switch (list_) {
      case List::Bookmarks: {
        auto bookmark = readBookmark(record_, isSync_, blank_);
        if (bookmark.url.isNull()) {
          fnd::logWarning("A bookmark whose address is longer than " + std::to_string(stored::kMaximumAddressBytes) +
                          " bytes was not read");
          return;
        }
        out_.bookmarks.push_back(std::move(bookmark));
        return;
      }
      case List::Folders: out_.folders.push_back(readFolder(record_)); return;
      case List::Services: {
        auto n = record_.text("name");
        if (!n || trimmed(*n).empty()) return;
        out_.services.push_back(
            {trimmed(*n), record_.text("login").value_or(""), trimmed(record_.text("password").value_or(""))});
        return;
      }
      case List::Deletions: {
        auto id = record_.text("object-id");
        auto type = record_.text("object-type");
        if (!id || trimmed(*id).empty() || !type) {
          fnd::logError("Exception trying to read XML file value");
          return;
        }
        out_.deletions.push_back(
            {trimmed(*id), leadingInteger(record_.text("object-version").value_or("")), trimmed(*type)});
        return;
      }
      case List::None: return;
    }
  }

  SyncDocument& out_;
  const bool isSync_;
  const BookmarkDummy blank_{"http://unknown", ""};
  xmlParserCtxtPtr ctxt_ = nullptr;
  int depth_ = 0;
  List list_ = List::None;
  bool inRecord_ = false;
  Record record_;
  int listField_ = 0;  // 1 tags, 2 services, 4 folders: the list the current field reads
  int seenLists_ = 0;
  Item item_ = Item::None;
  bool tagNamed_ = false;
  std::string* fieldText_ = nullptr;  // the field (or top-level element) whose text is gathered
  std::string* itemText_ = nullptr;   // the list item whose text is gathered
  std::string topField_, topText_, topUpload_;
  bool topNil_ = false;
  bool refused_ = false;
  std::string message_;
  int line_ = 0;
};

}  // namespace

std::string SyncFile::stripInvalidXmlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      if (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D) out += static_cast<char>(c);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      ++i;  // stray continuation or invalid lead byte
      continue;
    }
    if (i + len > n) break;
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    const bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    const bool allowed = (cp >= 0x80 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (!ok) {
      ++i;
      continue;
    }
    if (!overlong && allowed) out.append(text.substr(i, static_cast<std::size_t>(len)));
    i += static_cast<std::size_t>(len);
  }
  return out;
}

std::string SyncFile::escapeText(std::string_view text) {
  auto clean = stripInvalidXmlChars(text);
  std::string out;
  out.reserve(clean.size());
  for (char c : clean) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SyncFile::cdata(std::string_view text) {
  auto clean = stripInvalidXmlChars(text);
  return "<![CDATA[" + fnd::replaceAll(clean, "]]>", "]]]]><![CDATA[>") + "]]>";
}

std::string SyncFile::dateText(const std::optional<fnd::Date>& date) { return date ? date->description() : std::string(); }

std::string SyncFile::writeSyncFile(const ContextRef& context, const std::string& kestoID,
                                    const std::vector<SyncTombstone>& deletions, const std::string& uploadID) {
  std::string out;
  appendHeader(out, kSyncFileRoot, kestoID, uploadID);
  std::string password;
  if (auto config = Config::fetchEntityWhereProperty("kestoKey", std::string(Config::kPasswordKey), context))
    password = config->kestoValue();
  line(out, 0, "kesto-password", escapeText(password));

  out += "<bookmarks>\n";
  std::vector<BookmarkFields> records;
  for (const auto& b : Bookmark::fetchEntities(context).value_or(Bookmark::List{})) {
    if (!b->folder() || !b->uniqueIDValue() || b->uniqueIDValue()->empty()) continue;
    records.push_back(fieldsOf(*b));
  }
  writeBookmarks(out, records);
  out += "</bookmarks>\n<folders>\n";
  for (const auto& f : Folder::fetchEntities(context).value_or(Folder::List{})) {
    if (f->name().empty()) continue;
    writeFolder(out, *f, f->folderID(), f->parentFolderID());
  }
  out += "</folders>\n<services>\n";
  for (const auto& s : Service::fetchEntities(context).value_or(Service::List{})) {
    open(out, 2, "service");
    line(out, 4, "name", escapeText(s->name()));
    line(out, 4, "login", escapeText(s->login()));
    line(out, 4, "password", escapeText(s->password()));
    close(out, 2, "service");
  }
  out += "</services>\n";
  if (!deletions.empty()) {
    out += "<deletions>\n";
    for (const auto& t : deletions) {
      open(out, 2, "deleted-object");
      line(out, 4, "object-id", escapeText(t.objectID));
      line(out, 4, "object-type", escapeText(t.type));
      line(out, 4, "object-version", intText(t.version));
      close(out, 2, "deleted-object");
    }
    out += "</deletions>\n";
  }
  out += "</kesto-sync-file>\n";
  return out;
}

std::string SyncFile::writeSharedFolderFile(const std::vector<std::shared_ptr<Folder>>& folders,
                                            const std::vector<std::shared_ptr<Bookmark>>& bookmarks,
                                            const std::string& kestoID, const std::string& sharerName,
                                            bool includeCredentials) {
  // Fresh identifiers for every folder written, so references stay consistent.
  std::unordered_map<std::string, std::string> newIDs;
  for (const auto& f : folders)
    if (f && !newIDs.count(f->folderID())) newIDs.emplace(f->folderID(), WrenEntity::uniqueID());
  auto mapped = [&](const std::string& id) {
    auto it = newIDs.find(id);
    return it == newIDs.end() ? id : it->second;
  };

  std::string out;
  appendHeader(out, kSharedFolderFileRoot, kestoID);
  out += "<bookmarks>\n";
  std::unordered_map<const Bookmark*, bool> seen;
  for (const auto& b : bookmarks) {
    if (!b || !seen.emplace(b.get(), true).second) continue;
    if (!b->uniqueIDValue() || b->uniqueIDValue()->empty()) continue;
    auto f = fieldsOf(*b);
    if (f.folderID) f.folderID = mapped(*f.folderID);
    f.uniqueID = WrenEntity::uniqueID();
    f.timesVisited = 0;
    f.lastVisited.reset();
    f.importedFrom = sharerName;
    if (!includeCredentials) {
      f.login.clear();
      f.password.clear();
    }
    writeBookmark(out, f);
  }
  out += "</bookmarks>\n<folders>\n";
  bool first = true;
  for (const auto& f : folders) {
    if (!f || f->name().empty()) continue;
    std::string parent = first ? std::string(Folder::kImportedID) : mapped(f->parentFolderID());
    writeFolder(out, *f, mapped(f->folderID()), parent);
    first = false;
  }
  out += "</folders>\n</kesto-file>\n";
  return out;
}

std::optional<BookmarkDummy> SyncFile::syncedRecord(const Bookmark& bookmark) {
  std::string xml = "<kesto-sync-file><bookmarks>";
  writeBookmark(xml, fieldsOf(bookmark));
  xml += "</bookmarks></kesto-sync-file>";
  auto doc = read(xml, true);
  if (!doc || doc->bookmarks.size() != 1) return std::nullopt;
  return std::move(doc->bookmarks.front());
}

std::optional<FolderDummy> SyncFile::syncedRecord(const Folder& folder) {
  std::string xml = "<kesto-sync-file><folders>";
  writeFolder(xml, folder, folder.folderID(), folder.parentFolderID());
  xml += "</folders></kesto-sync-file>";
  auto doc = read(xml, true);
  if (!doc || doc->folders.size() != 1) return std::nullopt;
  return std::move(doc->folders.front());
}

std::optional<SyncDocument> SyncFile::read(std::string_view text, bool isSync, fnd::Error* error) {
  if (text.size() < 10) {
    if (error) *error = fnd::Error::withDescription(fnd::XmlDocument::kErrorDomain, 1, "The document is empty");
    return std::nullopt;
  }
  SyncDocument result;
  fnd::Error parseError;
  if (!StreamReader(result, isSync).parse(text, &parseError)) {
    fnd::logFormat(fnd::LogFlag::Error, "Error parsing xml: %s", parseError.description().c_str());
    if (error) *error = parseError;
    return std::nullopt;
  }
  return result;
}

std::size_t SyncFile::flattenDeepFolders(SyncDocument& document) {
  const int kDeepest = stored::kMaximumFolderDepth;
  std::unordered_map<std::string, std::size_t> byID;
  for (std::size_t i = 0; i < document.folders.size(); ++i)
    if (document.folders[i].folderID.isString()) byID.emplace(document.folders[i].folderID.string(), i);
  // Depth and kept folder of each, by walking up to a known one; a parent cycle counts as the
  // top (the merge breaks it later).
  std::vector<int> depth(document.folders.size(), 0);
  std::vector<std::size_t> kept(document.folders.size());
  std::vector<char> onPath(document.folders.size(), 0);
  std::vector<std::size_t> path;
  auto parentOf = [&](std::size_t i) -> std::optional<std::size_t> {
    const auto& parent = document.folders[i].parentFolderID;
    if (!parent.isString()) return std::nullopt;
    auto it = byID.find(parent.string());
    if (it == byID.end() || it->second == i) return std::nullopt;
    return it->second;
  };
  for (std::size_t start = 0; start < document.folders.size(); ++start) {
    if (depth[start]) continue;
    path.clear();
    std::optional<std::size_t> at = start;
    while (at && !depth[*at] && !onPath[*at]) {
      onPath[*at] = 1;
      path.push_back(*at);
      at = parentOf(*at);
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      const std::size_t i = *it;
      const auto parent = parentOf(i);
      if (!parent || !depth[*parent]) {
        depth[i] = 1;
        kept[i] = i;
      } else {
        depth[i] = depth[*parent] + 1;
        kept[i] = depth[i] <= kDeepest ? i : depth[*parent] <= kDeepest ? *parent : kept[*parent];
      }
      onPath[i] = 0;
    }
  }
  const auto flattened =
      static_cast<std::size_t>(std::count_if(depth.begin(), depth.end(), [&](int d) { return d > kDeepest; }));
  if (!flattened) return 0;
  std::unordered_map<std::string, std::string> movedTo;
  for (std::size_t i = 0; i < document.folders.size(); ++i)
    if (depth[i] > kDeepest && document.folders[i].folderID.isString())
      movedTo[document.folders[i].folderID.string()] = document.folders[kept[i]].folderID.string();
  std::vector<FolderDummy> folders;
  folders.reserve(document.folders.size() - flattened);
  for (std::size_t i = 0; i < document.folders.size(); ++i)
    if (depth[i] <= kDeepest) folders.push_back(std::move(document.folders[i]));
  for (auto& bookmark : document.bookmarks)
    if (bookmark.folderID.isString())
      if (auto it = movedTo.find(bookmark.folderID.string()); it != movedTo.end()) bookmark.folderID = fnd::Value(it->second);
  document.folders = std::move(folders);
  fnd::logWarning(std::to_string(flattened) + " folders nested more than " + std::to_string(kDeepest) +
                  " levels deep were flattened");
  return flattened;
}

std::optional<std::string> SyncFile::readKestoID(std::string_view text) {
  if (text.size() < 10) return std::nullopt;
  auto doc = fnd::XmlDocument::parse(text, fnd::XmlDocument::HugeInput);
  if (!doc) return std::nullopt;
  for (const auto& child : doc->rootElement().elementChildren("kesto-id")) {
    if (child.hasAttribute("nil")) continue;
    auto id = trimmed(child.stringValue());
    if (!id.empty()) return id;
  }
  return std::nullopt;
}

}  // namespace kesto
