#include "Synchronize/HTMLExport.h"

#include "Support/AlertPresenter.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/Predicate.h"

#include <unordered_map>
#include <unordered_set>

namespace kesto {

void HTMLExportDelegate::exportFailed(const std::string& message) { AlertPresenter::alert("Export failed", message); }

namespace {

constexpr const char* kHeader =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<HTML>\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<Title>Kesto Bookmarks</Title>\n"
    "<H1>Kesto Bookmarks</H1>\n";
constexpr const char* kFooter = "</HTML>";

// The length of the well-formed UTF-8 sequence at `i` (no overlong forms, surrogates or code
// points past U+10FFFF), 0 when there is none.
std::size_t utf8SequenceAt(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

// Escapes markup and drops what is not text: whatever stored text never holds (control
// characters, DEL, separators and bidirectional controls, which older data may still carry) and
// bytes that are not UTF-8, which would make browsers reject or mangle the file.
std::string escape(const std::string& text, bool attribute) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (const std::size_t forbidden = stored::forbiddenCharacterAt(text, i)) {
      i += forbidden - 1;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (attribute) out += "&quot;";
        else out.push_back('"');
        break;
      default:
        if (c >= 0x80) {
          if (const std::size_t n = utf8SequenceAt(text, i)) {
            out.append(text, i, n);
            i += n - 1;
          }
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

// The folders that are not under "root" but that the library shows, by the names it shows.
struct SpecialFolder {
  const char* folderID;
  const char* name;
};
constexpr SpecialFolder kSpecialFolders[] = {{Folder::kInboxID, "Inbox"}, {Folder::kImportedID, "Imported"}};

// How much of a streamed export is made before it goes to the file.
constexpr std::size_t kSpillBytes = 64 * 1024;

}  // namespace

struct HTMLExport::Impl {
  HTMLExportDelegate* delegate = nullptr;
  std::string exportString;
  bool includeLocked = false;
  std::size_t lockedLeftOut = 0;
  // While a whole export runs: the file its text goes to, piece by piece.
  fnd::AtomicFileWriter* writer = nullptr;

  // Read once per export: the folders' children by parent identifier, in store order. A
  // folder's bookmarks are read when it is written (one indexed query each), so an export holds
  // one folder's bookmarks at a time, never the whole library's.
  bool loaded = false;
  std::unordered_map<std::string, std::vector<Folder::Ref>> children;
  std::unordered_map<std::string, Folder::Ref> byID;

  void load() {
    if (loaded) return;
    loaded = true;
    lockedLeftOut = 0;
    if (auto folders = Folder::fetchEntities())
      for (const auto& f : *folders) {
        children[f->parentFolderID()].push_back(f);
        byID.emplace(f->folderID(), f);
      }
  }
  void unload() {
    loaded = false;
    children.clear();
    byID.clear();
  }

  // The bookmarks written for a folder, in store order. A trashed bookmark keeps its folder (the
  // Inbox, after a folder delete): written, it would come back wherever the file is imported.
  // The rows' keys come from the folder column's index alone; the test of the trash is made on
  // the objects, which the program holds already (so no row is looked up in the table).
  store::PredicateRef live = store::Predicate::parse("trashed < 1");
  std::vector<Bookmark::Ref> bookmarksOf(const Folder::Ref& folder) const {
    auto context = WrenDataManager::sharedInstance().managedObjectContext();
    if (!folder || !context) return {};
    store::FetchRequest request(Bookmark::entityName());
    request.predicate = store::Predicate::comparison("folder", store::ComparisonOperator::Equal, fnd::Value(fnd::ObjectRef(folder)));
    request.includesPropertyValues = false;
    std::vector<Bookmark::Ref> out;
    if (auto found = context->fetch(request))
      for (auto& o : *found)
        if (live->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o))))
          if (auto b = std::dynamic_pointer_cast<Bookmark>(std::move(o))) out.push_back(std::move(b));
    return out;
  }

  bool leavesOut(const Folder& folder) const { return !includeLocked && folder.blocked() > 0; }
  bool leavesOut(const Bookmark& bookmark) const { return !includeLocked && bookmark.blocked() > 0; }

  // Hands what has been made to the file once it is worth a write; a text asked for is kept.
  void spill(std::string& out) {
    if (!writer || out.size() < kSpillBytes) return;
    writer->append(out);
    out.clear();
  }

  // A special folder (Inbox, Imported) as a folder block of its own, when it holds anything
  // not written already.
  void appendSpecial(std::string& out, const SpecialFolder& special, std::unordered_set<const Folder*>& visited) {
    auto row = byID.find(special.folderID);
    const Folder* self = row == byID.end() ? nullptr : row->second.get();
    if (self && !visited.insert(self).second) return;
    const std::vector<Folder::Ref>* kids = nullptr;
    if (auto it = children.find(special.folderID); it != children.end()) kids = &it->second;
    bool holdsAny = false;
    if (kids)
      for (const auto& f : *kids) holdsAny = holdsAny || (f && !visited.count(f.get()) && !leavesOut(*f));
    const auto own = bookmarksOf(row == byID.end() ? nullptr : row->second);
    for (const auto& b : own) holdsAny = holdsAny || !leavesOut(*b);
    if (!holdsAny) {
      // Nothing written, but the locked folders kept back are still told.
      if (kids)
        for (const auto& f : *kids)
          if (f && leavesOut(*f) && visited.insert(f.get()).second) ++lockedLeftOut;
      return;
    }
    out += "<DT><H3 FOLDED>";
    out += special.name;
    out += "</H3>\n<DL><p>\n";
    if (kids)
      for (const auto& f : *kids) appendFolder(out, f, visited);
    appendBookmarks(out, own);
    out += "</DL><p>\n";
  }

  void appendBookmarks(std::string& out, const std::vector<Bookmark::Ref>& bookmarks) {
    for (const auto& b : bookmarks) {
      if (leavesOut(*b)) continue;
      out += "<DT><A HREF=\"";
      out += escape(b->url().value_or(""), true);
      out += "\">";
      out += escape(b->title().value_or(""), false);
      out += "</A>\n";
      spill(out);
    }
  }

  // Depth first with an explicit stack: folder parents come from sync files and archives, so a
  // chain may be far deeper than the call stack allows. Each folder is written once, so a parent
  // cycle ends too. A locked folder left out takes its subtree with it.
  void appendFolder(std::string& out, const Folder::Ref& top, std::unordered_set<const Folder*>& visited) {
    struct Frame {
      Folder::Ref folder;
      const std::vector<Folder::Ref>* children;
      std::size_t next;
    };
    std::vector<Frame> stack;
    auto open = [&](const Folder::Ref& folder) {
      if (!folder || !visited.insert(folder.get()).second) return;
      if (leavesOut(*folder)) {
        ++lockedLeftOut;
        return;
      }
      out += "<DT><H3 FOLDED>";
      out += escape(folder->name(), false);
      out += "</H3>\n<DL><p>\n";
      spill(out);
      auto it = children.find(folder->folderID());
      stack.push_back({folder, it == children.end() ? nullptr : &it->second, 0});
    };
    open(top);
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.children && frame.next < frame.children->size()) {
        open((*frame.children)[frame.next++]);
        continue;
      }
      appendBookmarks(out, bookmarksOf(frame.folder));
      out += "</DL><p>\n";
      stack.pop_back();
    }
  }

  // Tells the delegate (or, without one, the user) how the writing ended.
  bool report(const std::string& path, bool written, const fnd::Error& error) {
    if (!written) {
      fnd::logError("Export failed: " + error.localizedDescription());
      const std::string message = "Your Kesto Export file could not be written to: " + path;
      if (delegate)
        delegate->exportFailed(message);
      else
        AlertPresenter::alert("Export failed", message);
      return false;
    }
    if (delegate) delegate->exportSucces("Your Kesto Export file has been exported to: " + path);
    return true;
  }
};

HTMLExport::HTMLExport() : d_(std::make_unique<Impl>()) {}
HTMLExport::~HTMLExport() = default;

void HTMLExport::setDelegate(HTMLExportDelegate* delegate) { d_->delegate = delegate; }
HTMLExportDelegate* HTMLExport::delegate() const { return d_->delegate; }
const std::string& HTMLExport::exportString() const { return d_->exportString; }
void HTMLExport::setIncludesLockedFolders(bool include) { d_->includeLocked = include; }
std::size_t HTMLExport::lockedFoldersLeftOut() const { return d_->lockedLeftOut; }

std::string HTMLExport::escapeText(const std::string& text) { return escape(text, false); }
std::string HTMLExport::escapeAttribute(const std::string& text) { return escape(text, true); }

void HTMLExport::createExportStringInit() { d_->exportString = kHeader; }
void HTMLExport::createExportStringEnd() { d_->exportString += kFooter; }

std::string HTMLExport::createHTMLByFolders(const std::vector<std::shared_ptr<Folder>>& folders) {
  const bool outer = !d_->loaded;
  d_->load();
  std::string out;
  std::unordered_set<const Folder*> visited;
  for (const auto& f : folders) d_->appendFolder(out, f, visited);
  if (outer) d_->unload();
  return out;
}

std::string HTMLExport::createHTMLByFolder(const std::shared_ptr<Folder>& folder) {
  return createHTMLByFolders({folder});
}

bool HTMLExport::exportAllTofile(const std::string& path) {
  fnd::AtomicFileWriter file(path);
  d_->writer = &file;
  createExportStringInit();
  d_->load();
  std::vector<Folder::Ref> top;
  if (auto it = d_->children.find(Folder::kRootID); it != d_->children.end()) top = it->second;
  std::unordered_set<const Folder*> visited;
  for (const auto& f : top) d_->appendFolder(d_->exportString, f, visited);
  // Imports and the inbox hang under folders of their own, outside "root"; the user sees them,
  // so the file holds them too.
  for (const auto& special : kSpecialFolders) d_->appendSpecial(d_->exportString, special, visited);
  d_->unload();
  createExportStringEnd();
  file.append(d_->exportString);
  d_->exportString.clear();
  d_->writer = nullptr;
  fnd::Error error;
  const bool written = file.commit(&error);
  return d_->report(path, written, error);
}

bool HTMLExport::exportBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks, const std::string& folderName,
                                 const std::string& path) {
  createExportStringInit();
  std::string& out = d_->exportString;
  out += "<DT><H3 FOLDED>" + escape(folderName, false) + "</H3>\n<DL><p>\n";
  for (const auto& b : bookmarks) {
    if (!b) continue;
    out += "<DT><A HREF=\"" + escape(b->url().value_or(""), true) + "\">";
    out += escape(b->title().value_or(""), false) + "</A>\n";
  }
  out += "</DL><p>\n";
  createExportStringEnd();
  return writeFile(path);
}

std::string HTMLExport::exportToHTML(const std::shared_ptr<Folder>& folder) {
  createExportStringInit();
  d_->exportString += createHTMLByFolder(folder);
  createExportStringEnd();
  return d_->exportString;
}

bool HTMLExport::exportFolder(const std::shared_ptr<Folder>& folder, const std::string& path) {
  exportToHTML(folder);
  return writeFile(path);
}

bool HTMLExport::writeFile(const std::string& path) {
  fnd::Error error;
  const bool written =
      !path.empty() && fnd::FileManager::writeFile(path, d_->exportString, true, fnd::kPrivateFileMode, &error);
  return d_->report(path, written, error);
}

}  // namespace kesto
