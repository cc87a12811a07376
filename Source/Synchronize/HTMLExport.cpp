#include "Synchronize/HTMLExport.h"

#include "Support/AlertPresenter.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/Predicate.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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

// What an export writes, in order: folders opened, their bookmarks, folders closed. The texts are
// the library's own values, shared and never changed once made, so a snapshot copies no text and
// a worker thread can write it while the main thread goes on.
struct Line {
  enum class Kind : std::uint8_t { Folder, Bookmark, End };
  Kind kind = Kind::End;
  fnd::Value first, second;  // a folder's name; a bookmark's address and title
};
using Lines = std::vector<Line>;

const std::string& textOf(const fnd::Value& v) {
  static const std::string empty;
  return v.isString() ? v.string() : empty;
}

void render(const Line& line, std::string& out) {
  switch (line.kind) {
    case Line::Kind::Folder:
      out += "<DT><H3 FOLDED>";
      out += escape(textOf(line.first), false);
      out += "</H3>\n<DL><p>\n";
      break;
    case Line::Kind::Bookmark:
      out += "<DT><A HREF=\"";
      out += escape(textOf(line.first), true);
      out += "\">";
      out += escape(textOf(line.second), false);
      out += "</A>\n";
      break;
    case Line::Kind::End: out += "</DL><p>\n"; break;
  }
}

// How much of a streamed export is made before it goes to the file.
constexpr std::size_t kSpillBytes = 64 * 1024;
constexpr std::size_t kSpillLines = 512;

// Writes the header, the lines and the end into `path` (any thread): false with `error` when
// the file was not written.
bool writeLines(const std::string& path, const Lines& lines, fnd::Error* error) {
  fnd::AtomicFileWriter file(path);
  std::string text = kHeader;
  for (const auto& line : lines) {
    render(line, text);
    if (text.size() >= kSpillBytes) {
      file.append(text);
      text.clear();
    }
  }
  text += kFooter;
  file.append(text);
  return file.commit(error);
}

// A bookmark that is not in the trash. A missing flag fails too, as "trashed < 1" does.
bool isLive(const Bookmark& b) {
  const auto& trashed = b.value(bookmark_attr::trashed);
  return trashed.isNumber() && trashed.doubleValue() < 1;
}

}  // namespace

struct HTMLExport::Impl : std::enable_shared_from_this<HTMLExport::Impl> {
  HTMLExportDelegate* delegate = nullptr;
  DataManager* dataManager = nullptr;
  std::string exportString;
  bool includeLocked = false;
  std::size_t lockedLeftOut = 0;
  bool exporting = false;
  // While a whole export runs on the calling thread: the file its lines go to, a part at a time.
  fnd::AtomicFileWriter* writer = nullptr;
  std::shared_ptr<fnd::DispatchQueue> writing;

  // The tree, depth first, a step at a time, so a walk can stop between steps and go on later.
  // An explicit stack: folder parents come from sync files and archives, so a chain may be far
  // deeper than the call stack allows. Each folder is written once, so a parent cycle ends too.
  struct Walk {
    // Read once, when the walk begins: the folders' children by parent identifier, in store order.
    std::unordered_map<std::string, std::vector<Folder::Ref>> children;
    std::unordered_map<std::string, Folder::Ref> byID;
    std::unordered_set<std::string> sharedIDs;  // identifiers more than one folder has
    // Whether the library in memory answers which bookmarks a folder holds (it held what the
    // store holds when the walk began): then no folder's bookmarks are fetched.
    bool fromMemory = false;
    // For a walk whose steps lie turns of the main loop apart: the bookmarks each folder held
    // when it began, so one the user moves meanwhile is written once, where it was.
    std::optional<std::unordered_map<const store::ManagedObject*, std::vector<Bookmark::Ref>>> filed;

    struct Frame {
      Folder::Ref folder;
      const std::vector<Folder::Ref>* children = nullptr;
      std::size_t next = 0;
      std::optional<std::vector<Bookmark::Ref>> own;  // read already (a special folder's)
    };
    std::vector<Folder::Ref> top;               // the folders whose blocks are written, in order
    std::vector<const SpecialFolder*> special;  // then these, when they hold anything
    std::size_t nextTop = 0, nextSpecial = 0;
    std::vector<Frame> stack;
    std::unordered_set<const Folder*> visited;
    // The bookmarks of the folder on top of the stack, being written a part at a time.
    std::vector<Bookmark::Ref> closing;
    std::size_t nextClosing = 0;
    bool isClosing = false;
  };
  // Bookmarks written in one step.
  static constexpr std::size_t kBookmarksPerStep = 2000;

  // A walk over the folders as they are now; what it writes is up to the caller (`top`, special).
  // A walk taken in turns (`inTurns`) notes at once which bookmarks each folder holds.
  Walk begin(bool inTurns = false) {
    lockedLeftOut = 0;
    Walk walk;
    std::vector<Folder::Ref> all;
    if (auto folders = Folder::fetchEntities()) all = std::move(*folders);
    for (const auto& f : all) {
      walk.children[f->parentFolderID()].push_back(f);
      if (!walk.byID.emplace(f->folderID(), f).second) walk.sharedIDs.insert(f->folderID());
    }
    walk.fromMemory = dataManager && !dataManager->isReadingLibrary() &&
                      static_cast<std::int64_t>(dataManager->allBookmarks().size()) ==
                          Bookmark::countWithPredicate(nullptr);
    if (inTurns) {
      auto& filed = walk.filed.emplace();
      if (walk.fromMemory) {
        // One pass over the library in memory, each bookmark under the folder it is filed in.
        for (const auto& b : dataManager->allBookmarks())
          if (auto folder = b->toOne(bookmark_rel::folder)) filed[folder.get()].push_back(b);
      } else {
        for (const auto& f : all) filed[f.get()] = filedIn(walk, f);
      }
    }
    return walk;
  }

  // A walk of the whole tree: the folders under "root", then the Inbox and the Imported folder,
  // which hang outside "root" but which the user sees.
  Walk wholeTree(bool inTurns = false) {
    Walk walk = begin(inTurns);
    if (auto it = walk.children.find(Folder::kRootID); it != walk.children.end()) walk.top = it->second;
    for (const auto& special : kSpecialFolders) walk.special.push_back(&special);
    return walk;
  }

  // The bookmarks filed in a folder, trashed ones too, in no set order.
  std::vector<Bookmark::Ref> filedIn(const Walk& walk, const Folder::Ref& folder) const {
    std::vector<Bookmark::Ref> out;
    if (walk.fromMemory && !dataManager->isReadingLibrary()) {
      // The library in memory files bookmarks by folder identifier: where folders share one, only
      // this folder's own go.
      const bool shared = walk.sharedIDs.count(folder->folderID()) > 0;
      for (auto& b : dataManager->bookmarksWithFolder(folder->folderID()))
        if (!shared || b->toOne(bookmark_rel::folder) == folder) out.push_back(std::move(b));
      return out;
    }
    // The rows' keys come from the folder column's index alone; the test of the trash is made
    // on the objects, which the program holds already (so no row is looked up in the table).
    auto context = WrenDataManager::sharedInstance().managedObjectContext();
    if (!context) return {};
    store::FetchRequest request(Bookmark::entityName());
    request.predicate = store::Predicate::comparison("folder", store::ComparisonOperator::Equal, fnd::Value(fnd::ObjectRef(folder)));
    request.includesPropertyValues = false;
    if (auto found = context->fetch(request))
      for (auto& o : *found)
        if (auto b = std::dynamic_pointer_cast<Bookmark>(std::move(o))) out.push_back(std::move(b));
    return out;
  }

  // The bookmarks written for a folder, in store order (by row; unsaved new ones last). A trashed
  // bookmark keeps its folder (the Inbox, after a folder delete): written, it would come back
  // wherever the file is imported.
  // Each folder is asked for once (a walk writes a folder once), so what was noted is handed over.
  std::vector<Bookmark::Ref> bookmarksOf(Walk& walk, const Folder::Ref& folder) const {
    if (!folder) return {};
    std::vector<Bookmark::Ref> filed;
    if (walk.filed) {
      if (auto it = walk.filed->find(folder.get()); it != walk.filed->end()) filed = std::move(it->second);
    } else {
      filed = filedIn(walk, folder);
    }
    std::vector<std::pair<std::int64_t, Bookmark::Ref>> keyed;
    keyed.reserve(filed.size());
    for (auto& b : filed)
      if (isLive(*b)) {
        const std::int64_t key = b->storeKey();
        keyed.emplace_back(key > 0 ? key : std::numeric_limits<std::int64_t>::max(), std::move(b));
      }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Bookmark::Ref> out;
    out.reserve(keyed.size());
    for (auto& [key, b] : keyed) out.push_back(std::move(b));
    return out;
  }

  bool leavesOut(const Folder& folder) const { return !includeLocked && folder.blocked() > 0; }
  bool leavesOut(const Bookmark& bookmark) const { return !includeLocked && bookmark.blocked() > 0; }

  // A folder's block opens, unless it was written already or is locked and left out (with its
  // subtree).
  void open(Walk& walk, Lines& out, const Folder::Ref& folder) {
    if (!folder || !walk.visited.insert(folder.get()).second) return;
    if (leavesOut(*folder)) {
      ++lockedLeftOut;
      return;
    }
    out.push_back({Line::Kind::Folder, folder->value(folder_attr::name), {}});
    auto it = walk.children.find(folder->folderID());
    walk.stack.push_back({folder, it == walk.children.end() ? nullptr : &it->second, 0, std::nullopt});
  }

  // A special folder (Inbox, Imported) as a folder block of its own, when it holds anything not
  // written already.
  void openSpecial(Walk& walk, Lines& out, const SpecialFolder& special) {
    auto row = walk.byID.find(special.folderID);
    const Folder* self = row == walk.byID.end() ? nullptr : row->second.get();
    if (self && !walk.visited.insert(self).second) return;
    const std::vector<Folder::Ref>* kids = nullptr;
    if (auto it = walk.children.find(special.folderID); it != walk.children.end()) kids = &it->second;
    bool holdsAny = false;
    if (kids)
      for (const auto& f : *kids) holdsAny = holdsAny || (f && !walk.visited.count(f.get()) && !leavesOut(*f));
    auto own = bookmarksOf(walk, row == walk.byID.end() ? nullptr : row->second);
    for (const auto& b : own) holdsAny = holdsAny || !leavesOut(*b);
    if (!holdsAny) {
      // Nothing written, but the locked folders kept back are still told.
      if (kids)
        for (const auto& f : *kids)
          if (f && leavesOut(*f) && walk.visited.insert(f.get()).second) ++lockedLeftOut;
      return;
    }
    out.push_back({Line::Kind::Folder, fnd::Value(special.name), {}});
    walk.stack.push_back({nullptr, kids, 0, std::move(own)});
  }

  // One step: a folder opened, a folder's bookmarks read, or a part of them written (the block
  // closing after the last). False once the walk is over.
  bool step(Walk& walk, Lines& out) {
    if (walk.isClosing) {
      const std::size_t end = std::min(walk.closing.size(), walk.nextClosing + kBookmarksPerStep);
      for (; walk.nextClosing < end; ++walk.nextClosing) {
        const Bookmark& b = *walk.closing[walk.nextClosing];
        if (!leavesOut(b))
          out.push_back({Line::Kind::Bookmark, b.value(bookmark_attr::url), b.value(bookmark_attr::title)});
      }
      if (walk.nextClosing < walk.closing.size()) return true;
      out.push_back({Line::Kind::End, {}, {}});
      walk.closing.clear();
      walk.isClosing = false;
      walk.stack.pop_back();
      return true;
    }
    if (!walk.stack.empty()) {
      Walk::Frame& frame = walk.stack.back();
      if (frame.children && frame.next < frame.children->size()) {
        open(walk, out, (*frame.children)[frame.next++]);
        return true;
      }
      walk.closing = frame.own ? std::move(*frame.own) : bookmarksOf(walk, frame.folder);
      walk.nextClosing = 0;
      walk.isClosing = true;
      return true;
    }
    if (walk.nextTop < walk.top.size()) {
      open(walk, out, walk.top[walk.nextTop++]);
      return true;
    }
    if (walk.nextSpecial < walk.special.size()) {
      openSpecial(walk, out, *walk.special[walk.nextSpecial++]);
      return true;
    }
    return false;
  }

  // Hands what has been made to the file once it is worth a write (a whole export on the calling
  // thread); otherwise the lines are kept.
  void spill(Lines& lines) {
    if (!writer || lines.size() < kSpillLines) return;
    for (const auto& line : lines) render(line, exportString);
    lines.clear();
    if (exportString.size() < kSpillBytes) return;
    writer->append(exportString);
    exportString.clear();
  }

  // A background export whose tree is being taken, until its lines go to the writer.
  struct Running {
    Walk walk;
    Lines lines;
    std::string path;
  };
  std::shared_ptr<Running> running;

  // Takes the tree in steps, a turn of the main loop at a time, then writes it on a thread of its
  // own. Each turn works for a short while, so the window keeps answering however large the
  // library; the delegate is told in a turn of its own once the file is written.
  void takeInTurns(const std::shared_ptr<Running>& run) {
    if (run != running) return;  // finished at once meanwhile
    constexpr auto kTurn = std::chrono::milliseconds(8);
    const auto until = std::chrono::steady_clock::now() + kTurn;
    bool more = true;
    while ((more = step(run->walk, run->lines)) && std::chrono::steady_clock::now() < until) {
    }
    std::weak_ptr<Impl> weak = weak_from_this();
    if (more) {
      fnd::DispatchQueue::main().async([weak, run] {
        if (auto d = weak.lock()) d->takeInTurns(run);
      });
      return;
    }
    running.reset();
    if (!writing) writing = fnd::DispatchQueue::create("Export");
    writing->async([weak, run] {
      fnd::Error error;
      const bool written = writeLines(run->path, run->lines, &error);
      run->lines.clear();
      fnd::DispatchQueue::main().async([weak, path = run->path, written, error] {
        if (auto d = weak.lock()) {
          d->exporting = false;
          d->report(path, written, error);
        }
      });
    });
  }

  // The text of `lines`, for the exports that are not streamed.
  static std::string text(const Lines& lines) {
    std::string out;
    for (const auto& line : lines) render(line, out);
    return out;
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

HTMLExport::HTMLExport() : d_(std::make_shared<Impl>()) {}
HTMLExport::~HTMLExport() = default;

void HTMLExport::setDelegate(HTMLExportDelegate* delegate) { d_->delegate = delegate; }
HTMLExportDelegate* HTMLExport::delegate() const { return d_->delegate; }
void HTMLExport::setDataManager(DataManager* dataManager) { d_->dataManager = dataManager; }
const std::string& HTMLExport::exportString() const { return d_->exportString; }
void HTMLExport::setIncludesLockedFolders(bool include) { d_->includeLocked = include; }
std::size_t HTMLExport::lockedFoldersLeftOut() const { return d_->lockedLeftOut; }
bool HTMLExport::isExporting() const { return d_->exporting; }

std::string HTMLExport::escapeText(const std::string& text) { return escape(text, false); }
std::string HTMLExport::escapeAttribute(const std::string& text) { return escape(text, true); }

void HTMLExport::createExportStringInit() { d_->exportString = kHeader; }
void HTMLExport::createExportStringEnd() { d_->exportString += kFooter; }

std::string HTMLExport::createHTMLByFolders(const std::vector<std::shared_ptr<Folder>>& folders) {
  auto walk = d_->begin();
  walk.top = folders;
  Lines lines;
  while (d_->step(walk, lines)) {
  }
  return Impl::text(lines);
}

std::string HTMLExport::createHTMLByFolder(const std::shared_ptr<Folder>& folder) {
  return createHTMLByFolders({folder});
}

bool HTMLExport::exportAllTofile(const std::string& path) {
  fnd::AtomicFileWriter file(path);
  d_->writer = &file;
  createExportStringInit();
  auto walk = d_->wholeTree();
  Lines lines;
  while (d_->step(walk, lines)) d_->spill(lines);
  for (const auto& line : lines) render(line, d_->exportString);
  createExportStringEnd();
  file.append(d_->exportString);
  d_->exportString.clear();
  d_->writer = nullptr;
  fnd::Error error;
  const bool written = file.commit(&error);
  return d_->report(path, written, error);
}

void HTMLExport::exportAllTofileInBackground(const std::string& path) {
  KESTO_ASSERT_MAIN_THREAD();
  d_->exporting = true;
  auto run = std::make_shared<Impl::Running>(Impl::Running{d_->wholeTree(true), {}, path});
  if (run->walk.fromMemory)
    run->lines.reserve(d_->dataManager->allBookmarks().size() + 2 * run->walk.byID.size() + 4);
  d_->running = run;
  // The tree was taken in this turn; its lines are made from the next.
  std::weak_ptr<Impl> weak = d_;
  fnd::DispatchQueue::main().async([weak, run] {
    if (auto d = weak.lock()) d->takeInTurns(run);
  });
}

void HTMLExport::finishBeforeQuit() {
  KESTO_ASSERT_MAIN_THREAD();
  if (auto run = std::exchange(d_->running, nullptr)) {
    while (d_->step(run->walk, run->lines)) {
    }
    fnd::Error error;
    const bool written = writeLines(run->path, run->lines, &error);
    d_->exporting = false;
    if (written) fnd::logInfo("Exported the library to " + run->path + " before quitting");
    else fnd::logError("Export failed: " + error.localizedDescription());
  }
  // A file already handed to the writer is written whole before this returns.
  if (d_->writing) d_->writing->sync([] {});
}

bool HTMLExport::exportBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks, const std::string& folderName,
                                 const std::string& path) {
  Lines lines{{Line::Kind::Folder, fnd::Value(folderName), {}}};
  for (const auto& b : bookmarks)
    if (b) lines.push_back({Line::Kind::Bookmark, b->value(bookmark_attr::url), b->value(bookmark_attr::title)});
  lines.push_back({Line::Kind::End, {}, {}});
  createExportStringInit();
  d_->exportString += Impl::text(lines);
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
