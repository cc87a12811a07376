#include "Synchronize/HTMLExport.h"

#include "Views/AlertPresenter.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
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

// Drops what is not text: control characters (other than tab and line ends) and bytes that are
// not UTF-8, which would make browsers reject or mangle the file.
void appendClean(std::string& out, unsigned char c) {
  if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return;
  if (c == 0x7F) return;
  out.push_back(static_cast<char>(c));
}

std::string escape(const std::string& text, bool attribute) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (attribute) out += "&quot;";
        else out.push_back('"');
        break;
      default: appendClean(out, c);
    }
  }
  return out;
}

}  // namespace

struct HTMLExport::Impl {
  HTMLExportDelegate* delegate = nullptr;
  std::string exportString;

  // Read once per export: children by parent identifier and bookmarks by folder, both in store
  // order, instead of two store fetches per folder.
  bool loaded = false;
  std::unordered_map<std::string, std::vector<Folder::Ref>> children;
  std::unordered_map<const Folder*, std::vector<Bookmark::Ref>> bookmarks;

  void load() {
    if (loaded) return;
    loaded = true;
    if (auto folders = Folder::fetchEntities())
      for (const auto& f : *folders) children[f->parentFolderID()].push_back(f);
    auto withFolder = store::Predicate::parse("folder != nil");
    if (auto all = Bookmark::fetchEntitiesWithPredicate(withFolder))
      for (const auto& b : *all)
        if (auto f = b->folder()) bookmarks[f.get()].push_back(b);
  }
  void unload() {
    loaded = false;
    children.clear();
    bookmarks.clear();
  }

  // Depth first with an explicit stack: folder parents come from sync files and archives, so a
  // chain may be far deeper than the call stack allows. Each folder is written once, so a parent
  // cycle ends too.
  void appendFolder(std::string& out, const Folder::Ref& top, std::unordered_set<const Folder*>& visited) {
    struct Frame {
      const Folder* folder;
      const std::vector<Folder::Ref>* children;
      std::size_t next;
    };
    std::vector<Frame> stack;
    auto open = [&](const Folder::Ref& folder) {
      if (!folder || !visited.insert(folder.get()).second) return;
      out += "<DT><H3 FOLDED>";
      out += escape(folder->name(), false);
      out += "</H3>\n<DL><p>\n";
      auto it = children.find(folder->folderID());
      stack.push_back({folder.get(), it == children.end() ? nullptr : &it->second, 0});
    };
    open(top);
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.children && frame.next < frame.children->size()) {
        open((*frame.children)[frame.next++]);
        continue;
      }
      if (auto it = bookmarks.find(frame.folder); it != bookmarks.end())
        for (const auto& b : it->second) {
          out += "<DT><A HREF=\"";
          out += escape(b->url().value_or(""), true);
          out += "\">";
          out += escape(b->title().value_or(""), false);
          out += "</A>\n";
        }
      out += "</DL><p>\n";
      stack.pop_back();
    }
  }
};

HTMLExport::HTMLExport() : d_(std::make_unique<Impl>()) {}
HTMLExport::~HTMLExport() = default;

void HTMLExport::setDelegate(HTMLExportDelegate* delegate) { d_->delegate = delegate; }
HTMLExportDelegate* HTMLExport::delegate() const { return d_->delegate; }
const std::string& HTMLExport::exportString() const { return d_->exportString; }

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
  createExportStringInit();
  d_->load();
  std::vector<Folder::Ref> top;
  if (auto it = d_->children.find(Folder::kRootID); it != d_->children.end()) top = it->second;
  d_->exportString += createHTMLByFolders(top);
  d_->unload();
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
  if (path.empty() || !fnd::FileManager::writeFile(path, d_->exportString, true, 0644, &error)) {
    fnd::logError("Export failed: " + error.localizedDescription());
    const std::string message = "Your Kesto Export file could not be written to: " + path;
    if (d_->delegate)
      d_->delegate->exportFailed(message);
    else
      AlertPresenter::alert("Export failed", message);
    return false;
  }
  if (d_->delegate) d_->delegate->exportSucces("Your Kesto Export file has been exported to: " + path);
  return true;
}

}  // namespace kesto
