#include "Synchronize/HTMLImportReader.h"

#include "Model/Bookmark.h"
#include "Model/StoredText.h"

#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

// The reader follows the parser's elements as they open and close and keeps, for each open
// element, only what the bookmark file's shape needs. Browsers write that shape loosely, and
// their importers read it loosely, so the tree it stands for is read with these repairs:
// - only the file's own elements count: HTML, HEAD, BODY, TITLE, DL, DT, DD, H1, H3, A, HR,
//   UL, OL and LI. Every other element (P, DIV, TABLE and its parts, CENTER, FONT, FORM, SPAN,
//   unknown names, a stray HTML or BODY) is transparent: what it holds belongs to the element
//   around it, closed or not, however nested. SCRIPT and STYLE hold no elements to the parser;
// - what a browser reads as text holds no elements either: the contents of TEXTAREA, TITLE,
//   XMP, IFRAME, NOEMBED and NOFRAMES, all after a PLAINTEXT, and "<!x>", "<?x>" and "</3>" up
//   to their first '>'; SCRIPT and STYLE end only at their own end tag as a browser reads it;
//   what a TEMPLATE holds is no part of the document, a tag the file ends in is dropped (its
//   link counted as not read), and SVG and MathML hold no raw text (see HtmlStreamReader).
//   Where such an element, a SCRIPT, STYLE, TEMPLATE or comment (or a PLAINTEXT) runs to the
//   end of the file, the links it holds are counted as not read: none is stored, as in a
//   browser, but the file meant them;
// - libxml2 ends a list at a FORM (and a DL at an LI), lets no end tag but its own close a DIV,
//   and lets the end tag of any element end the lists inside it, where browsers do none of
//   these; the parser is handed the file as browsers nest it (see HtmlStreamReader's
//   nestListsAsBrowsers);
// - a DT or DD that opens inside another DT or DD ends that one: it and what follows are
//   siblings of it;
// - a folder is a DT holding an H3 whose DL follows (with only blank text between, and at
//   most a DD holding the folder's description); it is read as a DD holding that H3 and DL,
//   before the description;
// - blank text directly inside lists and other blocks is not text; CR LF and CR are LF.
// Over that tree: a list's DT items are its bookmarks (the first A with an HREF gives the
// address, the first A the title and tags, a DD right after the item its notes); a DD holding
// a DL, and a DL directly inside the list, are its subfolders, named by the DD's H3 or by the
// heading DT (or DD holding an H3) before them. Top-level lists (the body's DLs, also those
// inside another element of it, such as a stray LI) are named by the body's node before them
// ("Untitled" where that node is a list or holds one: its text is what it lists; or where it is
// a TEXTAREA, XMP, IFRAME, NOEMBED, NOFRAMES or TITLE: its text is markup read as text; a comment
// is passed over);
// an empty "Bookmarks Menu" or "Favorites Bar" list gives way to the next list. Items at the top level,
// outside any list, go to the receiving folder. A UL or OL at the top level is a list too, its
// LI items read as DT items are. Any other list inside a folder's list, in an item or directly
// in it (but a DL directly in a DL, read as above), is a folder when an H3 stands right before
// it (bare, or in a DT or DD), named by it, as browsers' importers read "<LI><H3>Work</H3><UL>"
// and a folder's heading and DL inside a UL; without a heading it adds no folder, and its LI
// and DT items are the folder's. A file with no DT item at all and a Pocket, Read It Later or
// Instapaper title is a reading list: only its top-level ULs (OLs) are read, each a folder named
// by the H3 (else H1) headings in turn, and lists inside them add no folder.
// Every A with an HREF is one entry, as in a browser's importer: the first of an item is the
// item's bookmark; each further one in the same item is a bookmark of its own in the same
// folder, titled and tagged by its own A, after the item's (the item's notes stay with the
// first); one standing in a list outside any item is an item of that list (a DD after it gives
// its notes); one in a heading, a description or an element the list does not read as an item
// is a bookmark of the list around it. Entries come in the file's order: an item's links are
// made before what follows them inside it (it then keeps no notes). Each entry is then stored,
// left out for its reason, or counted as not read (the records' `unread`): entries of lists
// the file's reading does not keep, and links the parser never handed on.

namespace kesto {

namespace {

using Records = HTMLImportRecords;

bool isReadingListTitle(std::string_view title) {
  return title == "Read It Later Export" || title == "Pocket Export" || title == "Instapaper: Export";
}

enum class El : std::uint8_t { Other, Html, Head, Body, Title, Dl, Dt, Dd, H1, H3, A, Ul, Ol, Li, Hr, P };

El classify(std::string_view n) {
  static const std::unordered_map<std::string_view, El> kElements{
      {"html", El::Html}, {"head", El::Head}, {"body", El::Body}, {"title", El::Title}, {"dl", El::Dl},
      {"dt", El::Dt},     {"dd", El::Dd},     {"h1", El::H1},     {"h3", El::H3},       {"a", El::A},
      {"ul", El::Ul},     {"ol", El::Ol},     {"li", El::Li},     {"hr", El::Hr},       {"p", El::P}};
  const auto it = kElements.find(n);
  return it == kElements.end() ? El::Other : it->second;
}

// Elements whose blank text is layout, not content.
bool isBlock(El el) {
  switch (el) {
    case El::Html:
    case El::Head:
    case El::Body:
    case El::Dl:
    case El::Dd:
    case El::Dt:
    case El::Ul:
    case El::Ol: return true;
    default: return false;
  }
}

// An entry a link gives besides its item's first.
struct Link {
  std::string href, title, tags;
};

bool isBlankChar(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Keeps at most `limit` bytes of a text, never splitting a UTF-8 sequence.
struct BoundedText {
  std::string text;
  std::size_t limit = 0;
  bool cut = false;
  void append(std::string_view s) {
    if (cut) return;
    if (text.size() + s.size() <= limit) {
      text.append(s);
      return;
    }
    std::size_t room = limit - text.size();
    while (room > 0 && room < s.size() && (static_cast<unsigned char>(s[room]) & 0xC0) == 0x80) --room;
    text.append(s.substr(0, room));
    cut = true;
  }
};

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// White space and line ends off both ends (and bytes that are not UTF-8 made U+FFFD); most
// texts are plain ASCII with nothing to trim and need no Unicode look.
std::string trim(std::string_view s) {
  const bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (s.empty() || (ascii && !isAsciiSpace(s.front()) && !isAsciiSpace(s.back()))) return std::string(s);
  return fnd::trimWhitespaceAndNewlines(s);
}

// A name in its stored form; an empty one reads "Untitled".
std::string folderTitle(std::string_view text) {
  std::string t = stored::title(trim(text));
  return t.empty() ? std::string("Untitled") : t;
}

// A summary of a finished element child, for the names of folders that follow it.
struct Summary {
  El el = El::Other;
  bool hasA = false, hasH3 = false, hasDl = false;
  std::string h3Text;
  std::string headingText;  // an H3's own text
};

struct Node;

// An item (DT or LI) that has ended and waits for what follows it: a DD gives its notes, a DL
// makes a heading DT a folder.
struct Pending {
  enum class Stage { AwaitNext, AwaitDescriptionEnd, AwaitListAfterDescription };
  Stage stage = Stage::AwaitNext;
  bool hasHref = false;
  std::string href, title, tags;
  bool hasH3 = false;
  std::string h3Text;
  bool convertible = false;  // a DT holding an H3, nothing but blank text after it yet
  Node* description = nullptr;
  std::string notes;
  std::vector<Link> more;  // the item's other links, each an entry of its own
};

struct Node {
  El el = El::Other;
  bool block = false;
  Node* parent = nullptr;  // in the repaired tree
  int level = 0;           // its depth there
  Node* listAbove = nullptr;  // the nearest list (or the body) it is in
  bool closed = false;     // ended early; what the parser still puts in it goes to the parent
  bool folded = false;
  bool extraHeading = false;  // a heading collecting text only in case it names a list after it

  // Text of the element and its descendants (its string value), when wanted.
  bool collects = false;
  BoundedText text;
  // The nearest ancestor that may still want text: text goes up this chain, not through every
  // ancestor, so deeply nested lists cost no more per text than flat ones.
  Node* collectorAbove = nullptr;

  // Children seen so far.
  bool hasA = false, hasH3 = false, hasDl = false;
  bool holdsList = false;  // a DL, UL or OL at any depth
  std::string h3Text;   // first H3 child's text
  Node* firstH3 = nullptr;
  int dtChildren = 0;

  // As an item of a list: the first A, the first address; its other links.
  bool item = false;
  bool hasAnchor = false, hasHref = false;
  Node* anchor = nullptr;
  std::string href, tags, title;
  std::vector<Link> more;
  // As an A with an address that is not its item's first: one more link of its item, or an
  // entry of the list around it (outside any item).
  bool moreOfItem = false, entryOfList = false;

  // As a folder's list (or the body): the folder its items go to, and its children's state.
  bool list = false;
  int folder = Records::kReceivingFolder;
  int set = 0;  // which reading of the file the list belongs to (0 Netscape, 1 UL, 2 OL)
  bool readingItems = false;
  // A UL or OL read inside another list: its LI and DT children are items, and a list in it
  // is a folder only under a heading.
  bool nested = false;
  int depth = 0;
  Summary last, beforeLast;
  bool textAfterLast = false;
  std::unique_ptr<Pending> pending;

  // As a DD inside a list: the name its folder takes when it holds no H3.
  bool folderHolder = false;
  std::string headingBefore;
  int holderFolder = -1;  // the folder made for its first DL
};

struct FolderDraft {
  std::string name;
  int parent = Records::kReceivingFolder;
  int set = 0;
  bool dropped = false;
};

struct BookmarkDraft {
  int folder = Records::kReceivingFolder;
  int set = 0;
  bool dropped = false;
  std::string url, baseURL, title, notes;  // url: in its stored form
  std::vector<int> tags;
};

class Reader final : public fnd::HtmlStreamHandler {
 public:
  explicit Reader(const HTMLImportReader::Options& options) : options_(options) {
    root_.el = El::Other;
    root_.block = true;
  }

  void startElement(std::string_view name, const std::vector<Attribute>& attributes) override {
    flushText();
    El el = classify(name);
    Node* container = containerOf(stack_.size());
    // Only the document's own html, head and body are those; the parser keeps strays as they
    // come, as ordinary elements.
    if ((el == El::Html && container != &root_) || (el == El::Head && container->el != El::Html) ||
        (el == El::Body && (container->el != El::Html || bodySeen_)))
      el = El::Other;
    if (el == El::Body) bodySeen_ = true;
    if (el == El::A && hrefOf(attributes)) ++linksSeen_;
    if (container->el == El::Body && holdsOnlyText(name)) {
      // Its text is markup a browser shows as text: it names no list after it.
      bodyPrevious_.clear();
      bodyPreviousFolded_ = false;
      bodyPreviousNamesNothing_ = hasBodyPrevious_ = true;
      textOnlyInBody_ = true;
    }
    // Not the bookmark file's own, so transparent: its children belong to the element around
    // it, as a browser's importer reads them.
    const bool transparent = el == El::P || el == El::Other;
    bool through = false;
    if (!transparent && (container->level >= options_.maxOpenElements || pastEntries_ > 0))
      container = pastDepthBound(container, el, through);
    if (transparent || through) {
      // Past the depth bound an element is read into what holds it; an item is read all the same.
      if (el == El::Dt) ++dtSeen_;
      pushTransparent(container, through || pastEntries_ > 0);
      return;
    }
    auto node = acquire();
    node->el = el;
    node->block = isBlock(el);
    for (const auto& a : attributes)
      if (a.name == "folded") node->folded = true;

    // A DT or DD inside a DT or DD ends it.
    if ((el == El::Dt || el == El::Dd) && (container->el == El::Dt || container->el == El::Dd) && container != &root_) {
      Node* outer = container;
      outer->closed = true;
      container = outer->parent;
      childEnded(container, outer);
    }
    node->parent = container;
    node->level = container->level + 1;
    node->listAbove = container->list ? container : container->listAbove;
    node->collectorAbove = wantsText(container) ? container : container->collectorAbove;
    if (el == El::Dt) ++dtSeen_;
    childStarted(container, node.get(), attributes);
    stack_.push_back({std::move(node), nullptr});
  }

  void endElement(std::string_view) override {
    flushText();
    textOnlyInBody_ = false;  // it holds no element, so the first end is its own
    if (stack_.empty()) return;
    if (Entry& top = stack_.back(); !top.node) {
      // A list read into the one around it ends as a list does: its last item is complete.
      if (top.past && top.inherited->list && top.inherited->pending) finishItem(top.inherited);
      if (top.count > 1) {
        --top.count;
        return;
      }
    }
    Entry entry = std::move(stack_.back());
    stack_.pop_back();
    if (entry.past) --pastEntries_;
    if (!entry.node) return;
    Node* node = entry.node.get();
    if (!node->closed) childEnded(node->parent, node);
    release(std::move(entry.node));
  }

  void text(std::string_view text) override {
    if (run_.empty()) runIsBlank_ = true;
    for (char c : text)
      if (!isBlankChar(c)) {
        runIsBlank_ = false;
        break;
      }
    // Blank runs need no keeping beyond their being there; long text only up to the bound.
    if (run_.size() < kMaxRun) run_.append(text.substr(0, std::min(text.size(), kMaxRun - run_.size())));
    hasRun_ = true;
  }

  void rawText(std::string_view text) override {
    flushText();
    addToCollectors(containerOf(stack_.size()), text);
  }

  // A comment is no text a browser shows: it names no list after it, which takes its name from
  // what stands before the comment.
  void otherNode(std::string_view) override { flushText(); }

  Records finish();

 private:
  static constexpr std::size_t kMaxRun = HTMLImportReader::kMaxNotesBytes + 16;

  static const Attribute* attributeNamed(const std::vector<Attribute>& attributes, std::string_view name) {
    for (const auto& a : attributes)
      if (a.name == name) return &a;
    return nullptr;
  }
  static const Attribute* hrefOf(const std::vector<Attribute>& attributes) { return attributeNamed(attributes, "href"); }

  // One open element of the parser's, or a run of them without a node of their own.
  struct Entry {
    std::unique_ptr<Node> node;  // null for a transparent element, or one ended before its end
    Node* inherited = nullptr;   // then: where its contents go
    std::size_t count = 1;       // then: how many such elements in a row
    bool past = false;           // then: past the depth bound (ended early, or inside one that was)
  };

  void pushTransparent(Node* container, bool past) {
    Entry* top = stack_.empty() ? nullptr : &stack_.back();
    if (top && !top->node && top->inherited == container && top->past == past) {
      ++top->count;
      return;
    }
    stack_.push_back({nullptr, container, 1, past});
    if (past) ++pastEntries_;
  }

  // Where an element starting in `c` goes when `c` is at the depth bound, or the element is
  // inside one ended there; `through` when it is transparent. Nodes stay few however deep the
  // file nests, and no bookmark is lost: what an item, a heading DT, a description DD or a list
  // holds is read as it would have been.
  // - A list keeps what it holds; a list in it is read into it, as folders past the kept depth
  //   are (and so never makes the item before it a folder).
  // - DT and DD elements keep what they hold (a DD ends at a list, which goes to its own list),
  //   and what those hold is transparent in them, but for a top-level list: an item gets no
  //   link or heading it would not have had.
  // - In a title, heading or notes other elements are transparent, so their text is kept.
  // - A link is never transparent: it goes to the nearest list or item that keeps it.
  // - Anything else ends the deepest open elements and becomes their sibling, as in browsers.
  Node* pastDepthBound(Node* c, El el, bool& through) {
    const bool list = el == El::Dl || el == El::Ul || el == El::Ol;
    const auto keeps = [](const Node* n) { return n->item || n->el == El::Dt || n->el == El::Dd; };
    for (bool ended = pastEntries_ > 0;; ended = true) {
      if (c->list && list && (ended || c->level >= options_.maxOpenElements)) {
        if (el == El::Dl) ++flattened_;
        through = true;
        return c;
      }
      if (c->list || c->level < options_.maxOpenElements || (keeps(c) && !(list && c->el == El::Dd))) return c;
      // A link is never read through: the deepest elements end until one keeps it.
      if (keeps(c->parent) && el != El::A) {
        if (el == El::Dl && !keeps(c) && c->listAbove && c->listAbove->el == El::Body) return c;
        through = true;
        return c;
      }
      if (c->collects && !list && el != El::A) {
        through = true;
        return c;
      }
      c = endEarly(c);
    }
  }

  // Ends `n`, the deepest open node, before the parser ends its element: what it read is
  // settled and its memory goes; its contents from then on are its parent's, past the bound.
  Node* endEarly(Node* n) {
    Node* parent = n->parent;
    childEnded(parent, n);
    std::size_t at = stack_.size();
    while (at > 0 && stack_[at - 1].node.get() != n) --at;
    Entry& own = stack_[at - 1];
    release(std::move(own.node));
    own.inherited = parent;
    // The entries above it (transparent ones, items another item closed) are inside it and lead to it.
    for (std::size_t i = at - 1; i < stack_.size(); ++i) {
      Entry& e = stack_[i];
      if (e.node && e.node->parent == n) e.node->parent = parent;
      if (!e.node && e.inherited == n) e.inherited = parent;
      if (!e.past && !e.node) e.past = true, ++pastEntries_;
    }
    // Neighbouring entries leading to the same node become one run.
    std::size_t kept = at >= 2 ? at - 2 : 0;
    for (std::size_t i = kept + 1; i < stack_.size(); ++i) {
      Entry& last = stack_[kept];
      Entry& e = stack_[i];
      if (!last.node && !e.node && last.inherited == e.inherited && last.past == e.past) {
        last.count += e.count;
        if (e.past) --pastEntries_;
      } else if (++kept != i) {
        stack_[kept] = std::move(e);
      }
    }
    stack_.resize(kept + 1);
    return parent;
  }

  std::unique_ptr<Node> acquire() {
    mostOpen_ = std::max(mostOpen_, ++open_);
    if (free_.empty()) return std::make_unique<Node>();
    auto n = std::move(free_.back());
    free_.pop_back();
    return n;
  }
  void release(std::unique_ptr<Node> n) {
    --open_;
    if (free_.size() > 64) return;
    *n = Node();
    free_.push_back(std::move(n));
  }

  static Node* resolve(Node* n) {
    while (n->closed && n->parent) n = n->parent;
    return n;
  }
  // Where a new child of the element at stack depth `depth` goes.
  Node* containerOf(std::size_t depth) {
    if (depth == 0) return &root_;
    Entry& e = stack_[depth - 1];
    return resolve(e.node ? e.node.get() : e.inherited);
  }

  static bool wantsText(const Node* n) { return n->collects && !n->text.cut; }

  // The text joins `from` and every ancestor collecting it. Collectors that are full drop out
  // of the chain as it is walked.
  void addToCollectors(Node* from, std::string_view text) {
    if (wantsText(from)) from->text.append(text);
    Node* below = from;
    for (Node* n = from->collectorAbove; n; n = n->collectorAbove) {
      ++textSteps_;
      if (!wantsText(n)) {
        below->collectorAbove = n->collectorAbove;
        continue;
      }
      n->text.append(text);
      below = n;
    }
  }

  // The text run collected since the last element boundary becomes a text node.
  void flushText() {
    if (!hasRun_) return;
    hasRun_ = false;
    Node* container = containerOf(stack_.size());
    const bool blank = runIsBlank_;
    if (!(blank && container->block)) {
      const std::string normal = fnd::normalizeLineEnds(run_);
      addToCollectors(container, normal);
      if (container->el == El::Body && !blank && !textOnlyInBody_) {
        bodyPrevious_.assign(normal.substr(0, std::min(normal.size(), HTMLImportReader::kMaxTitleBytes)));
        bodyPreviousFolded_ = bodyPreviousNamesNothing_ = false;
        hasBodyPrevious_ = true;
      }
    }
    if (container->list && !blank) textInList(container);
    run_.clear();
  }

  // ---- the list rules ----------------------------------------------------------------------

  int newFolder(std::string name, int parent, int set) {
    folders_.push_back({std::move(name), parent, set, false});
    const int index = static_cast<int>(folders_.size()) - 1;
    if (options_.onFolder) options_.onFolder({index, parent, folders_.back().name});
    return index;
  }

  // Makes `list` the list of a subfolder of `owner` (a list), or flattens it into the
  // deepest kept folder.
  void openSubfolder(Node* owner, Node* list, std::string name) {
    list->list = true;
    list->set = owner->set;
    list->readingItems = owner->readingItems && list->el != El::Dl;  // a DL's items are DTs, wherever it stands
    list->depth = owner->depth + 1;
    if (owner->el == El::Body) {
      list->depth = 0;
      list->folder = newFolder(folderTitle(name), Records::kReceivingFolder, owner->set);
    } else if (list->depth > HTMLImportReader::kMaxFolderDepth) {
      list->folder = owner->folder;
      ++flattened_;
    } else {
      list->folder = newFolder(folderTitle(name), owner->folder, owner->set);
    }
  }

  std::string headingBefore(const Node* listNode) const {
    const Summary* prev = &listNode->last;
    if (prev->el == El::Dd && !prev->hasDl) {
      // "<DD><H3>Name</H3><DL>": the parser ends the DD where the list starts, and its heading
      // names the list.
      if (prev->hasH3) return prev->h3Text;
      prev = &listNode->beforeLast;
    }
    if (prev->el == El::Dt && !prev->hasA && prev->hasH3) return prev->h3Text;
    return {};
  }

  void childStarted(Node* c, Node* child, const std::vector<Attribute>& attributes) {
    const El el = child->el;
    if (c->list) {
      bool consumed = false;
      if (c->pending) consumed = pendingMeets(c, child);
      if (consumed) return;
      const El itemEl = c->readingItems ? El::Li : El::Dt;
      if (el == El::Dt) ++c->dtChildren;
      if (el == itemEl || (el == El::Dt && c->el == El::Body) || (c->nested && (el == El::Dt || el == El::Li))) {
        child->item = true;
      } else if (el == El::Dd) {
        child->collects = true;
        child->text.limit = HTMLImportReader::kMaxNotesBytes;
        child->folderHolder = true;
        if (c->el != El::Body) child->headingBefore = headingBefore(c);
      } else if (el == El::Dl && c->el != El::Body && !c->nested) {
        openSubfolder(c, child, headingBefore(c));
      } else if (el == El::Dl && c->el == El::Body) {
        topLevelList(c, child);
      }
    }
    if (el == El::Body) {
      child->list = true;
      child->folder = Records::kReceivingFolder;
    }
    if (c->el == El::Body) {
      // Every top-level node may name the list after it.
      child->collects = true;
      if (child->text.limit < HTMLImportReader::kMaxTitleBytes) child->text.limit = HTMLImportReader::kMaxTitleBytes;
      if (el == El::Ul || el == El::Ol) {
        // A reading list's folder; in any other file a top-level list all the same, named as a
        // DL there is.
        child->list = true;
        child->readingItems = true;
        child->set = el == El::Ul ? 1 : 2;
        child->folder = newFolder(topLevelTitle(), Records::kReceivingFolder, child->set);
        readingLists_[child->set].push_back(child->folder);
      } else if (el == El::H1 || el == El::H3) {
        headings_[el == El::H3 ? 1 : 0].emplace_back();
      }
    }
    switch (el) {
      case El::A: {
        c->hasA = true;
        const Attribute* href = hrefOf(attributes);
        const Attribute* tags = attributeNamed(attributes, "tags");
        if (c->item && !c->hasAnchor) {
          c->hasAnchor = true;
          c->anchor = child;
          child->collects = true;
          child->text.limit = HTMLImportReader::kMaxTitleBytes;
          if (tags) c->tags.assign(tags->value);
        }
        if (!href) break;
        // Every A with an address is one entry: its item's, one more of its item's, an item of
        // the list it stands in, or (in a heading, a description, an item the list does not
        // read) an entry of the list around it.
        if (c->item && !c->hasHref) {
          c->hasHref = true;
          c->href.assign(href->value);
          break;
        }
        if (c->item)
          child->moreOfItem = true;
        else if (c->list)
          child->item = child->hasAnchor = child->hasHref = true;
        else
          child->entryOfList = true;
        child->href.assign(href->value);
        if (tags) child->tags.assign(tags->value);
        child->collects = true;
        child->text.limit = std::max(child->text.limit, HTMLImportReader::kMaxTitleBytes);
        break;
      }
      case El::H3:
        if (!c->hasH3) {
          c->hasH3 = true;
          c->firstH3 = child;
          child->collects = true;
          if (child->text.limit < HTMLImportReader::kMaxTitleBytes) child->text.limit = HTMLImportReader::kMaxTitleBytes;
        } else if (!child->collects && inFolderList(c)) {
          collectHeading(child);
        }
        break;
      case El::Dl:
        if (!c->hasDl && c->el == El::Dd && c->folderHolder && c->parent && c->parent->list && !c->closed) {
          // The first list of a DD in a list is a subfolder; its name is settled when the DD ends.
          openSubfolder(c->parent, child, c->headingBefore);
          c->holderFolder = child->folder == c->parent->folder ? -1 : child->folder;
        } else if (!c->list && !c->item && c->listAbove && c->listAbove->el == El::Body) {
          // A list the body holds inside another element (a stray LI, a DIV) is a top-level
          // list all the same: a browser reads its items.
          topLevelList(c->listAbove, child);
        }
        c->hasDl = true;
        break;
      case El::Title:
        // The document's title is the head's, else one the parser left in a child of html;
        // paragraphs count here as the elements they are.
        if (c->el == El::Head || rawGrandparentIsHtml()) {
          child->collects = true;
          child->text.limit = 4096;
        }
        break;
      default: break;
    }
    if ((el == El::Dl || el == El::Ul || el == El::Ol) && !child->list && maySplitInto(c, child)) listInside(c, child);
  }

  // ---- lists inside lists ----------------------------------------------------------------------
  // A list that stands inside another list's folder, in an item or directly (as browsers'
  // importers read them): its items are the folder's, in the file's order, unless a heading
  // stands right before it (an H3, or a DT or DD holding one), which makes it that
  // heading's folder. A DL directly in a DL list keeps its own rule (always a folder).

  // Whether `c` is, or stands in, a folder's list (not the body).
  static const Node* folderListOf(const Node* c) {
    const Node* around = c->list ? c : c->listAbove;
    return around && around->el != El::Body ? around : nullptr;
  }
  static bool inFolderList(const Node* c) { return folderListOf(c) != nullptr; }

  void collectHeading(Node* heading) {
    heading->collects = true;
    heading->extraHeading = true;
    heading->text.limit = HTMLImportReader::kMaxTitleBytes;
  }

  // A reading-list file keeps its lists as they were read: one folder for each.
  bool readingListSoFar() const { return readingTitle_ && dtSeen_ <= converted_; }

  bool maySplitInto(const Node* c, const Node* list) const {
    if (pastEntries_ > 0 || list->level >= options_.maxOpenElements || readingListSoFar() || !inFolderList(c)) return false;
    return c->list || c->el == El::Li || c->el == El::Dt || c->el == El::Dd;
  }

  // The heading right before a list in `c`, if any.
  static bool headingFor(const Node* c, std::string& name) {
    const Summary& prev = c->last;
    if (prev.el == El::H3) {
      name = prev.headingText;
      return true;
    }
    if ((prev.el == El::Dt && !prev.hasA && prev.hasH3) || (prev.el == El::Dd && prev.hasH3 && !prev.hasDl)) {
      name = prev.h3Text;
      return true;
    }
    if (prev.el == El::Dd && !prev.hasDl && c->beforeLast.el == El::Dt && !c->beforeLast.hasA && c->beforeLast.hasH3) {
      name = c->beforeLast.h3Text;
      return true;
    }
    return false;
  }

  // An entry is about to be made inside an item whose own link came before it: that link, and
  // the item's others so far, are made first, so that entries come in the file's order (the
  // item then gets no notes; a link after this in it is its first).
  void flushItemAround(Node* from) {
    if (readingListSoFar()) return;
    for (Node* n = from; n && !n->list; n = n->parent) {
      if (!n->item) continue;
      // (A link standing as an item is still reading its title.)
      if (n->hasHref && !n->anchor && !n->closed && n->el != El::A && n->listAbove) {
        const Node* list = n->listAbove;
        addEntry(list->folder, list->set, n->href, n->title, {}, n->tags);
        for (const Link& l : n->more) addEntry(list->folder, list->set, l.href, l.title, {}, l.tags);
        n->hasHref = n->hasAnchor = false;
        n->href.clear();
        n->title.clear();
        n->tags.clear();
        n->more.clear();
      }
      return;
    }
  }

  void listInside(Node* c, Node* list) {
    Node* around = c->list ? c : c->listAbove;
    flushItemAround(c);
    std::string heading;
    if (headingFor(c, heading)) {
      openSubfolder(around, list, heading);
      // The heading names this list and nothing else.
      c->last = Summary{};
      c->hasH3 = false;
    } else {
      list->list = true;
      list->set = around->set;
      list->depth = around->depth;
      list->folder = around->folder;
    }
    list->nested = list->el != El::Dl;
    list->readingItems = list->nested;
  }

  bool rawGrandparentIsHtml() const {
    if (stack_.size() < 2 || stack_.back().count > 1) return false;
    const Entry& grand = stack_[stack_.size() - 2];
    return grand.node && grand.node->el == El::Html;
  }

  void childEnded(Node* c, Node* child) {
    if (child->el == El::A) {
      if (child->item) {
        child->title = child->text.text;
      } else if (child->moreOfItem && c->item && !c->closed && c->hasHref) {
        c->more.push_back({std::move(child->href), child->text.text, std::move(child->tags)});
      } else if (child->moreOfItem || child->entryOfList) {
        // (An item whose links went already, as a link inside this one ended, takes no more.)
        flushItemAround(c);
        const Node* list = child->listAbove;
        addEntry(list ? list->folder : Records::kReceivingFolder, list ? list->set : 0, child->href,
                 child->text.text, {}, child->tags);
      }
    }
    if (child->el == El::H3 && c->firstH3 == child) c->h3Text = child->text.text;
    if (child->text.cut && !child->extraHeading && (child->el == El::A || child->el == El::H3 || child->el == El::Dd))
      ++cutTexts_;
    if (child->el == El::A && c->anchor == child) {
      c->title = child->text.text;
      c->anchor = nullptr;
    }
    if (child->el == El::Title && child->collects) {
      std::string& t = c->el == El::Head ? headTitle_ : otherTitle_;
      bool& seen = c->el == El::Head ? headTitleSeen_ : otherTitleSeen_;
      if (!seen) t = child->text.text, seen = true;
      readingTitle_ = isReadingListTitle(trim(headTitleSeen_ ? headTitle_ : otherTitle_));
    }
    if (c->el == El::Body) {
      if (child->el == El::H1 || child->el == El::H3) headings_[child->el == El::H3 ? 1 : 0].back() = child->text.text;
      if (auto it = absorbedBody_.find(child); it != absorbedBody_.end()) {
        // A folder's list read into its heading DT: the two are one node, which holds a list.
        if (!it->second) bodyPrevious_ += child->text.text, bodyPreviousNamesNothing_ = true;
        absorbedBody_.erase(it);
      } else {
        bodyPrevious_ = child->text.text;
        bodyPreviousFolded_ = child->folded;
        bodyPreviousNamesNothing_ = holdsAList(child) || child->el == El::Title;
        hasBodyPrevious_ = true;
      }
    }
    if (holdsAList(child)) c->holdsList = true;
    if (child->el == El::Dd && child->holderFolder >= 0 && child->hasH3)
      folders_[static_cast<std::size_t>(child->holderFolder)].name = folderTitle(child->h3Text);
    if (child->list) listEnded(child);
    const auto summary = [child] {
      return Summary{child->el, child->hasA, child->hasH3, child->hasDl, child->h3Text,
                     child->el == El::H3 ? child->text.text : std::string()};
    };
    if (!c->list) {
      // What a list in it may be headed by.
      if (c->listAbove) {
        c->beforeLast = std::move(c->last);
        c->last = summary();
      }
      return;
    }

    if (absorbedInList_.count(child)) {
      absorbedInList_.erase(child);
    } else {
      c->beforeLast = std::move(c->last);
      c->last = summary();
    }
    c->textAfterLast = false;
    Pending* p = c->pending.get();
    if (p && (child->item || (child->el == El::Dt && child->hasH3))) {
      // An item still waiting has nothing more to wait for.
      finishItem(c);
      p = nullptr;
    }
    if (child->item) {
      auto next = std::make_unique<Pending>();
      next->more = std::move(child->more);
      next->hasHref = child->hasHref;
      next->href = std::move(child->href);
      next->title = std::move(child->title);
      next->tags = std::move(child->tags);
      next->hasH3 = child->hasH3;
      next->h3Text = child->h3Text;
      next->convertible = child->el == El::Dt && child->hasH3;
      c->pending = std::move(next);
    } else if (child->el == El::Dt && child->hasH3) {
      // A heading DT that is no item of this list may still be a folder.
      auto next = std::make_unique<Pending>();
      next->hasH3 = true;
      next->h3Text = child->h3Text;
      next->convertible = true;
      c->pending = std::move(next);
    } else if (p && p->stage == Pending::Stage::AwaitDescriptionEnd && p->description == child) {
      if (child->hasH3 || child->hasDl) {
        finishItem(c);
      } else {
        p->notes = trim(child->text.text);
        if (p->convertible)
          p->stage = Pending::Stage::AwaitListAfterDescription;
        else
          finishItem(c);
      }
    }
  }

  // The next element after a waiting item has started: notes, a folder, or nothing. True when
  // the element was taken as the item's folder list.
  bool pendingMeets(Node* c, Node* child) {
    Pending* p = c->pending.get();
    const El el = child->el;
    if (p->stage == Pending::Stage::AwaitNext) {
      if (el == El::Dd) {
        p->stage = Pending::Stage::AwaitDescriptionEnd;
        p->description = child;
        return false;
      }
      if (p->convertible && (el == El::Dl || ((el == El::Ul || el == El::Ol) && maySplitInto(c, child)))) {
        convert(c, child, false);
        return true;
      }
      finishItem(c);
      return false;
    }
    if (p->stage == Pending::Stage::AwaitListAfterDescription) {
      if (p->convertible && (el == El::Dl || ((el == El::Ul || el == El::Ol) && maySplitInto(c, child)))) {
        convert(c, child, true);
        return true;
      }
      finishItem(c);
    }
    return false;
  }

  // A heading DT followed by its list: a folder named by the heading, not an item.
  void convert(Node* c, Node* list, bool afterDescription) {
    auto p = std::move(c->pending);
    // Links the heading held are entries of the list it stands in.
    addEntries(c, *p);
    --c->dtChildren;
    ++converted_;
    Summary folderSummary{El::Dd, false, true, true, p->h3Text, {}};
    if (afterDescription) {
      c->beforeLast = std::move(folderSummary);
    } else {
      c->last = std::move(folderSummary);
    }
    absorbedInList_.insert(list);
    if (c->el == El::Body) absorbedBody_[list] = afterDescription;
    openSubfolder(c, list, p->h3Text);
    list->nested = list->el != El::Dl;
    if (list->nested) list->readingItems = true;
  }

  void finishItem(Node* c) {
    auto p = std::move(c->pending);
    if (p) addEntries(c, *p);
  }

  // The entries of an item of list `c`: its first address (with the first A's title and tags
  // and the item's notes), then each of its other links.
  void addEntries(const Node* c, Pending& p) {
    if (!p.hasHref) return;
    addEntry(c->folder, c->set, p.href, p.title, p.notes, p.tags);
    for (const Link& l : p.more) addEntry(c->folder, c->set, l.href, l.title, {}, l.tags);
  }

  // One entry of the file: a bookmark draft, or one left out for its reason.
  void addEntry(int folder, int set, std::string_view href, std::string_view title, std::string_view notes,
                std::string_view tags) {
    ++entries_;
    // An address is kept whole or not at all: a cut one would lead elsewhere. It is judged as
    // the file gives it and in the form it is stored in.
    std::string url = stored::withoutForbiddenCharacters(trim(href));
    std::string decoded = fnd::decodeAddressForStorage(url);
    auto why = stored::whyImportLeavesOut(url);
    if (why == stored::LeftOut::None) why = stored::whyImportLeavesOut(decoded);
    if (why != stored::LeftOut::None) {
      leftOut_[set].count(why);
      return;
    }
    BookmarkDraft b;
    b.folder = folder;
    b.set = set;
    b.baseURL = Bookmark::baseURLForAddress(url);
    b.url = stored::address(decoded);
    b.title = stored::title(trim(title));
    b.notes = stored::note(notes);
    if (!tags.empty())
      for (std::size_t start = 0, end = 0; start <= tags.size() && b.tags.size() < stored::kMaximumTagsPerBookmark;
           start = end + 1) {
        end = std::min(tags.find(',', start), tags.size());
        std::string tag = stored::tagName(trim(fnd::replaceAll(tags.substr(start, end - start), "_", " ")));
        if (tag.empty()) continue;
        auto [it, added] = tagIndex_.emplace(tag, static_cast<int>(tagNames_.size()));
        if (added) tagNames_.push_back(tag);
        b.tags.push_back(it->second);
      }
    bookmarks_.push_back(std::move(b));
    if (options_.onBookmark) {
      const BookmarkDraft& d = bookmarks_.back();
      HTMLImportDraftBookmark out{static_cast<int>(bookmarks_.size()) - 1, d.folder, d.url, d.baseURL, d.title, d.notes, {}};
      for (int t : d.tags) out.tags.push_back(tagNames_[static_cast<std::size_t>(t)]);
      options_.onBookmark(out);
      // Whoever was told keeps the texts; the end of the file only needs where it went.
      BookmarkDraft& kept = bookmarks_.back();
      std::string().swap(kept.title);
      std::string().swap(kept.notes);
      std::string().swap(kept.baseURL);
    }
  }

  void textInList(Node* c) {
    c->textAfterLast = true;
    if (Pending* p = c->pending.get()) {
      p->convertible = false;
      if (p->stage == Pending::Stage::AwaitListAfterDescription) finishItem(c);
    }
  }

  void listEnded(Node* list) {
    if (list->pending) finishItem(list);
    if (list == swapCandidateList_) {
      swapCandidateList_ = nullptr;
      // An empty menu list may give way to the next top-level list.
      if (list->dtChildren == 0) swapPending_ = list->folder;
    }
  }

  static bool isList(El el) { return el == El::Dl || el == El::Ul || el == El::Ol; }
  // The elements whose contents a browser reads as text (the parser is handed them so).
  static bool holdsOnlyText(std::string_view name) {
    return name == "title" || name == "textarea" || name == "xmp" || name == "iframe" || name == "noembed" ||
           name == "noframes";
  }
  static bool holdsAList(const Node* n) { return isList(n->el) || n->holdsList; }

  // The name of a top-level list: the text of the body's node before it. A node that is a
  // list, or holds one, names none: its text is the titles of what it lists; nor does an element
  // whose contents a browser reads as text (a TEXTAREA, a TITLE in the body...): that is markup.
  std::string topLevelTitle() const {
    return folderTitle(hasBodyPrevious_ && !bodyPreviousNamesNothing_ ? bodyPrevious_ : std::string());
  }

  // A DL among the body's children: a top-level folder named by the node before it.
  void topLevelList(Node* body, Node* list) {
    const std::string title = topLevelTitle();
    if (swapPending_ >= 0) {
      const int menu = swapPending_;
      swapPending_ = -1;
      if (!bodyPreviousFolded_) {
        // The empty list and whatever came after it give way to this one, under its name.
        for (std::size_t i = static_cast<std::size_t>(menu) + 1; i < folders_.size(); ++i) folders_[i].dropped = true;
        for (std::size_t i = menuBookmarks_; i < bookmarks_.size(); ++i) bookmarks_[i].dropped = true;
        list->list = true;
        list->set = 0;
        list->depth = 0;
        list->folder = menu;
        return;
      }
    }
    list->list = true;
    list->set = 0;
    list->depth = 0;
    list->folder = newFolder(title, Records::kReceivingFolder, 0);
    if (title == "Bookmarks Menu" || title == "Favorites Bar") {
      swapCandidateList_ = list;
      menuBookmarks_ = bookmarks_.size();
    }
  }

 public:
  const HTMLImportReader::Options& options_;
  Node root_;
  std::vector<Entry> stack_;
  std::size_t pastEntries_ = 0;  // entries of stack_ past the depth bound
  std::vector<std::unique_ptr<Node>> free_;
  std::size_t open_ = 0, mostOpen_ = 0;  // nodes in use
  std::string run_;
  bool hasRun_ = false, runIsBlank_ = true;

  std::vector<FolderDraft> folders_;
  std::vector<BookmarkDraft> bookmarks_;
  std::vector<std::string> tagNames_;
  std::unordered_map<std::string, int> tagIndex_;
  std::vector<int> readingLists_[3];
  std::vector<std::string> headings_[2];  // H1, H3 children of the body
  std::string headTitle_, otherTitle_;
  bool headTitleSeen_ = false, otherTitleSeen_ = false;
  std::string bodyPrevious_;
  bool bodyPreviousFolded_ = false, hasBodyPrevious_ = false, bodyPreviousNamesNothing_ = false;
  bool textOnlyInBody_ = false;  // inside such an element standing in the body
  std::unordered_set<const Node*> absorbedInList_;
  std::unordered_map<const Node*, bool> absorbedBody_;  // a body folder's list -> after a description
  std::size_t menuBookmarks_ = 0;
  Node* swapCandidateList_ = nullptr;
  int swapPending_ = -1;
  bool bodySeen_ = false;
  bool readingTitle_ = false;  // the document's title so far is a reading list's
  std::size_t dtSeen_ = 0, converted_ = 0, flattened_ = 0, cutTexts_ = 0, textSteps_ = 0;
  // A elements with an address the parser handed on, and the entries made of them (bookmark
  // drafts and entries left out): the two are equal unless a link went unread.
  std::size_t linksSeen_ = 0, entries_ = 0;
  // Entries left out, by the reading they belong to (0: lists of any kind, 1: UL reading
  // lists, 2: OL reading lists).
  stored::LeftOutCounts leftOut_[3];
};

Records Reader::finish() {
  const HTMLImportReader::Options& options = options_;
  flushText();
  while (!stack_.empty()) endElement({});
  Records out;
  int set = 0;
  if (dtSeen_ <= converted_) {
    const std::string title = trim(headTitleSeen_ ? headTitle_ : otherTitle_);
    if (title == "Read It Later Export" || title == "Pocket Export") {
      set = 1;
      out.kind = Records::Kind::Pocket;
    } else if (title == "Instapaper: Export") {
      set = 2;
      out.kind = Records::Kind::Instapaper;
    }
  }
  if (set) {
    // The k-th list takes the k-th heading.
    const auto& headings = headings_[1].empty() ? headings_[0] : headings_[1];
    std::size_t k = 0;
    for (int f : readingLists_[set]) {
      folders_[static_cast<std::size_t>(f)].name = folderTitle(k < headings.size() ? headings[k] : std::string());
      ++k;
    }
  }
  // A bookmark file's reading keeps every list, reading lists too; a reading list's only its
  // own lists.
  const auto inReading = [set](int of) { return set == 0 || of == set; };
  std::vector<int> newIndex(folders_.size(), -2);
  std::unordered_map<int, std::int64_t> children;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    const FolderDraft& f = folders_[i];
    if (!inReading(f.set) || f.dropped) continue;
    int parent = Records::kReceivingFolder;
    if (f.parent != Records::kReceivingFolder) {
      parent = newIndex[static_cast<std::size_t>(f.parent)];
      if (parent == -2) continue;
    }
    newIndex[i] = static_cast<int>(out.folders.size());
    out.folders.push_back({f.name, parent, ++children[parent], static_cast<int>(i)});
  }
  std::unordered_set<std::string> processed;
  std::vector<int> tagOrder(tagNames_.size(), -1);
  for (std::size_t i = 0; i < bookmarks_.size(); ++i) {
    BookmarkDraft& b = bookmarks_[i];
    if (!inReading(b.set) || b.dropped) continue;
    int folder = Records::kReceivingFolder;
    if (b.folder != Records::kReceivingFolder) {
      folder = newIndex[static_cast<std::size_t>(b.folder)];
      if (folder == -2) continue;
    }
    std::vector<int> tags;
    for (int t : b.tags) {
      if (tagOrder[static_cast<std::size_t>(t)] < 0) {
        tagOrder[static_cast<std::size_t>(t)] = static_cast<int>(out.tags.size());
        out.tags.push_back(tagNames_[static_cast<std::size_t>(t)]);
      }
      tags.push_back(tagOrder[static_cast<std::size_t>(t)]);
    }
    if (options.skipDuplicates) {
      if (options.isKnown && options.isKnown(b.url)) {
        ++out.alreadyHeld;
        continue;
      }
      if (!processed.insert(b.url).second) {
        ++out.repeated;
        continue;
      }
    }
    Records::Bookmark r;
    r.folder = folder;
    r.draft = static_cast<int>(i);
    r.baseURL = std::move(b.baseURL);
    r.url = std::move(b.url);
    r.title = std::move(b.title);
    r.notes = std::move(b.notes);
    r.tags = std::move(tags);
    out.bookmarks.push_back(std::move(r));
  }
  out.flattenedFolders = flattened_;
  for (int s = 0; s < 3; ++s)
    if (inReading(s)) {
      out.leftOut.noAddress += leftOut_[s].noAddress;
      out.leftOut.script += leftOut_[s].script;
      out.leftOut.browserInternal += leftOut_[s].browserInternal;
    }
  // Entries this reading does not keep: another reading's, or a list's that gave way.
  const std::size_t accounted = out.bookmarks.size() + out.alreadyHeld + out.repeated + out.leftOut.total();
  out.unread = entries_ > accounted ? entries_ - accounted : 0;
  out.cutTexts = cutTexts_;
  out.textSteps = textSteps_;
  out.mostOpenElements = mostOpen_;
  return out;
}

}  // namespace

std::optional<HTMLImportRecords> HTMLImportReader::read(const Source& source, const Options& options) {
  Reader reader(options);
  fnd::HtmlStreamReader::Options streamOptions;
  streamOptions.closeDescriptionBeforeList = true;
  streamOptions.nestListsAsBrowsers = true;
  const auto result = fnd::HtmlStreamReader::read(source, reader, streamOptions);
  auto records = reader.finish();
  // Every link of the file is kept, left out for a reason, or counted here: the links the parser
  // never handed on (it stopped before them), those of shapes no reading keeps, and (as a guard)
  // any the parser handed on that made no entry.
  records.notHandedOn = result.anchorsWithAddress > reader.linksSeen_ ? result.anchorsWithAddress - reader.linksSeen_ : 0;
  records.unaccounted = reader.linksSeen_ > reader.entries_ ? reader.linksSeen_ - reader.entries_ : 0;
  // Links in what the file never closes (a text-only element, a SCRIPT, STYLE, TEMPLATE or
  // comment) that runs to its end: text or no part of the page to a browser, and so to the
  // parser, but not read.
  records.inUnendedText = result.anchorsInUnendedText;
  records.unendedTextElement = result.unendedTextElement;
  records.unread += records.notHandedOn + records.unaccounted + records.inUnendedText;
  if (records.unaccounted)
    fnd::logError("Bookmark file: " + std::to_string(records.unaccounted) + " links were read but made no entry");
  if (records.unread)
    fnd::logInfo("Bookmark file: " + std::to_string(records.unread) +
                 (records.unread == 1 ? " entry" : " entries") + " could not be read");
  if (records.inUnendedText)
    fnd::logInfo("Bookmark file: " + std::to_string(records.inUnendedText) + " links stand in " +
                 (records.unendedTextElement == "#comment" ? std::string("a comment")
                                                           : "the text of a <" + records.unendedTextElement + ">") +
                 " that runs to the end of the file");
  if (result.nulBytesDropped) fnd::logInfo("Bookmark file: dropped " + std::to_string(result.nulBytesDropped) + " NUL bytes");
  if (records.leftOut.total()) fnd::logInfo("Bookmark file: " + stored::leftOutMessage(records.leftOut));
  if (records.cutTexts)
    fnd::logInfo("Bookmark file: cut " + std::to_string(records.cutTexts) + " titles, names or notes to the length kept");
  return records;
}

std::optional<HTMLImportRecords> HTMLImportReader::read(std::string_view bytes, const Options& options) {
  std::size_t at = 0;
  return read(
      [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, bytes.size() - at);
        if (n) std::memcpy(buffer, bytes.data() + at, n);  // an empty view's data may be null
        at += n;
        return n;
      },
      options);
}

}  // namespace kesto
