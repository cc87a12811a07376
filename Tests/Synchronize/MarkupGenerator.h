#pragma once

// Bookmark files whose items stand inside elements of every kind (the file's own lists and
// folders, known inline and block elements, table parts, unknown names), closed or not, nested,
// at random places, in DL lists and in UL and OL lists, folders in any of them (a heading DT and
// its DL, or an LI's H3 and the UL or OL after it); with the folder, title and notes each item
// must read as: those a browser's DOM gives it, where every element that is not the file's own
// is transparent. Items are listed in the file's order, which is the order they must come in.
// The choices come from a seeded generator (the import tests) or from the bytes of a fuzz input,
// so the fuzz harness steers the same shapes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kesto::test {

class MarkupFile {
 public:
  // A number from `low` to `high`, both included: every choice the file is made of.
  using Choose = std::function<int(int low, int high)>;

  static MarkupFile fromSeed(unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return MarkupFile([rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(*rng); });
  }
  // Each choice takes the next byte; once they run out, every choice is the lowest, and the file
  // ends within a few hundred elements.
  static MarkupFile fromBytes(const std::uint8_t* data, std::size_t size) {
    auto at = std::make_shared<std::size_t>(0);
    return MarkupFile([data, size, at](int low, int high) {
      if (*at >= size) return low;
      return low + data[(*at)++] % (high - low + 1);
    });
  }

  explicit MarkupFile(Choose choose) : choose_(std::move(choose)) {
    const bool withDl = chance(4, 5);
    if (withDl) {
      html_ += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n";
      const Wrapper* around = chance(1, 3) ? &pick(false, false) : nullptr;
      const bool closed = around && (around->kind == Kind::Table || chance(1, 2));
      if (around) html_ += around->open;
      formOpen_ = around && around->kind == Kind::Form;
      const std::size_t mark = opened(around);
      int open = 0;
      html_ += "<H1>Top</H1>\n<DL><p>\n" + content("Top", 0, 0, false, open, around && around->kind == Kind::Table) +
               "</DL><p>\n";
      if (around && closed && ends(*around, mark)) {
        html_ += around->close;
        formOpen_ = false;
      }
      // An unclosed element around the list holds what follows: transparent, it changes nothing.
    }
    int open = 0;
    if (!withDl || chance(1, 2)) html_ += "<H3>List</H3>\n<UL>\n" + content("List", 0, 0, true, open) + "</UL>\n";
  }

  const std::string& html() const { return html_; }
  struct Item {
    std::string url, folder, title, notes;
  };
  const std::vector<Item>& items() const { return items_; }
  // Folders written inside a UL or OL list.
  int foldersInLists() const { return foldersInLists_; }

 private:
  // How HTML's tree building treats an element around items:
  // - Ordinary: inline and unknown names; their end tags never end an item or a list;
  // - Block: an element HTML names special; its end ends what it holds, and an item that starts
  //   inside it nests there instead of ending the item it stands in;
  // - Div: as Block, but a new item ends an item the DIV stands in, and the DIV with it;
  // - Form: its end ends only the FORM;
  // - Table: a whole table around a cell; always closed;
  // - Part: a table's part alone, outside any table: ignored.
  enum class Kind { Ordinary, Block, Div, Form, Table, Part };
  struct Wrapper {
    std::string open, close;
    Kind kind;
  };

  bool chance(int in, int of) { return choose_(1, of) <= in; }

  // The wrappers a browser holds open, as far as their end tags go: one is opened; answers where.
  std::size_t opened(const Wrapper* w) {
    const std::size_t at = open_.size();
    if (w && w->kind != Kind::Part && w->kind != Kind::Table) open_.push_back(w);  // a table always ends
    return at;
  }
  // Whether the end tag of `w`, opened at `mark`, ends it, when it is to be closed. An end tag
  // ends the innermost open element of its name: one of the same name left open inside would end
  // in its place and leave `w` open around what follows, so `w` is left open (unwritten). Ending
  // `w`, a browser ends what was left open inside it too, but for a FORM (only the FORM ends); an
  // inline element's end stops at an element HTML names special, ending nothing.
  bool ends(const Wrapper& w, std::size_t mark) {
    if (w.kind == Kind::Part) return true;  // its tags are ignored
    if (w.kind == Kind::Table) {
      open_.resize(mark);  // the cell's end ends all it holds
      return true;
    }
    for (std::size_t i = mark + 1; i < open_.size(); ++i)
      if (open_[i]->close == w.close) return false;
    if (w.kind == Kind::Form) {
      open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(mark));
      return true;
    }
    const bool stopped = w.kind == Kind::Ordinary && std::any_of(open_.begin() + static_cast<std::ptrdiff_t>(mark) + 1,
                                                                  open_.end(), [](const Wrapper* o) { return o->kind != Kind::Ordinary; });
    if (!stopped) open_.resize(mark);
    return true;
  }
  int between(int low, int high) { return choose_(low, high); }

  // In a table's cell a table's part would end the cell (and what it holds). A DIV opened while
  // an item is open would end with that item when the next item starts, and its end would then
  // close a DIV further out with the lists inside it (in a browser too): not shapes of this file.
  const Wrapper& pick(bool inTable, bool itemOpen) {
    static const std::vector<Wrapper> kWrappers = {
        {"<DIV>", "</DIV>", Kind::Div},
        {"<DIV CLASS=\"x\">", "</DIV>", Kind::Div},
        {"<CENTER>", "</CENTER>", Kind::Block},
        {"<FONT SIZE=2>", "</FONT>", Kind::Ordinary},
        {"<FORM ACTION=\"/\">", "</FORM>", Kind::Form},
        {"<SPAN>", "</SPAN>", Kind::Ordinary},
        {"<B>", "</B>", Kind::Ordinary},
        {"<SECTION>", "</SECTION>", Kind::Block},
        {"<NAV>", "</NAV>", Kind::Block},
        {"<X-WRAP>", "</X-WRAP>", Kind::Ordinary},
        {"<BLAH>", "</BLAH>", Kind::Ordinary},
        {"<BLOCKQUOTE>", "</BLOCKQUOTE>", Kind::Block},
        {"<TABLE><TR><TD>", "</TD></TR></TABLE>", Kind::Table},
        {"<TABLE><THEAD><TR><TH>", "</TH></TR></THEAD></TABLE>", Kind::Table},
        {"<TABLE><TBODY><TR><TD>", "</TD></TR></TBODY></TABLE>", Kind::Table},
        {"<TBODY>", "</TBODY>", Kind::Part},
        {"<TR>", "</TR>", Kind::Part},
        {"<TD>", "</TD>", Kind::Part},
        {"<TH>", "</TH>", Kind::Part},
    };
    std::vector<const Wrapper*> fit;
    for (const Wrapper& w : kWrappers)
      if (!(inTable && w.kind == Kind::Part) && !(itemOpen && w.kind == Kind::Div) && !(formOpen_ && w.kind == Kind::Form))
        fit.push_back(&w);
    return *fit[static_cast<std::size_t>(between(0, static_cast<int>(fit.size()) - 1))];
  }

  std::string link(const std::string& folder, bool notes) {
    const int n = ++count_;
    const std::string url = "https://i" + std::to_string(n) + ".example/";
    items_.push_back({url, folder, "Item " + std::to_string(n), notes ? "note " + std::to_string(n) : ""});
    return "<A HREF=\"" + url + "\">Item " + std::to_string(n) + "</A>";
  }

  // A link, perhaps inside a closed element (not a table: in an item, its cell would hold the
  // link's text apart from the item's).
  std::string inlineWrapped(const std::string& inner, bool inTable) {
    if (!chance(1, 3)) return inner;
    const Wrapper& w = pick(inTable, false);
    return w.kind == Kind::Table ? inner : w.open + inner + w.close;  // a FORM here ends at once
  }

  // A run of a list's children (`ul`: of a UL or OL, else of a DL). `open`: how many open DT or
  // LI items a new one could reach (each ends the nearest; an element HTML names special, other
  // than a DIV, stands in the way), at most; it says so on return too.
  std::string content(const std::string& folder, int depth, int wrapDepth, bool ul, int& open, bool inTable = false) {
    std::string out;
    const int n = between(1, 3);
    // Past a few hundred items, no more nesting: nested lists and folders in every kind of list
    // would otherwise make files of thousands.
    const bool nest = count_ < kNestingItems;
    for (int k = 0; k < n; ++k) {
      const int r = between(0, 9);
      if (r < 3 && wrapDepth < 3 && nest) {
        const Wrapper& w = pick(inTable, open > 0);
        const bool closed = w.kind == Kind::Table || w.kind == Kind::Part || chance(1, 2);
        const bool transparent = w.kind == Kind::Ordinary || w.kind == Kind::Part;
        int inner = transparent ? open : 0;
        if (w.kind == Kind::Form) formOpen_ = true;
        const std::size_t mark = opened(&w);
        out += w.open + "\n" + content(folder, depth, wrapDepth + 1, ul, inner, inTable || w.kind == Kind::Table);
        if (!closed || !ends(w, mark)) {
          // What follows stands inside it: still the same list.
          open = transparent ? inner : inner + (w.kind == Kind::Div ? open : 0);
          continue;
        }
        out += w.close + "\n";
        if (transparent)
          open = inner;  // its end ends no item
        else if (w.kind == Kind::Form)
          open += inner;  // its end ends only the FORM: the items in it stand on those before
        // Any other's end ends the items inside it.
        if (w.kind == Kind::Form) formOpen_ = false;
      } else if (r < 5 && depth < 3 && nest) {
        const std::string name = "G" + std::to_string(++folders_);
        if (ul) ++foldersInLists_;
        int inner = 0;
        if (!ul || chance(1, 3)) {
          // A folder as browsers write it; in a UL, its heading's DT stands in the open LI (or in
          // the list).
          out += "<DT><H3>" + name + "</H3>\n<DL><p>\n" +
                 content(folder + "/" + name, depth + 1, 0, false, inner, inTable) + "</DL><p>\n";
        } else {
          // A list of lists: an item's heading names the list after it.
          const std::string list = chance(1, 2) ? "UL" : "OL";
          const std::string around = ulTag_;
          ulTag_ = list;
          out += "<LI><H3>" + name + "</H3>\n<" + list + ">\n" +
                 content(folder + "/" + name, depth + 1, 0, true, inner, inTable) + "</" + list + ">\n";
          ulTag_ = around;
        }
        open = std::max(open, 1);  // the heading's DT or LI holds its list, and stays open after it
      } else if (r < 6 && wrapDepth < 3 && nest) {
        // A list without a heading inside a list: its items are the folder's, folders in it too.
        // In a UL or OL it is of the same kind: libxml2 ends a UL where an OL starts right in it
        // (and an OL at a UL), where a browser nests them.
        const std::string list = ul ? ulTag_ : chance(1, 2) ? "UL" : "OL";
        const std::string around = ulTag_;
        ulTag_ = list;
        int inner = 0;
        out += "<" + list + ">\n" + content(folder, depth, wrapDepth + 1, true, inner, inTable) + "</" + list + ">\n";
        ulTag_ = around;
      } else if (r < 7) {
        out += inlineWrapped(link(folder, false), inTable) + "\n";  // outside any item
      } else if (ul) {
        out += "<LI>" + inlineWrapped(link(folder, false), inTable) + "\n";
        open = std::max(open, 1);
      } else {
        const bool notes = chance(1, 3);
        out += "<DT>" + inlineWrapped(link(folder, notes), inTable) + "\n";
        open = std::max(open, 1);
        // Closed: what follows an open DD is part of its text. The DD ends the DT.
        if (notes) {
          out += "<DD>" + items_.back().notes + "</DD>\n";
          --open;
        }
      }
    }
    return out;
  }

  static constexpr int kNestingItems = 250;
  Choose choose_;
  std::string html_;
  std::vector<Item> items_;
  int count_ = 0, folders_ = 0, foldersInLists_ = 0;
  // A FORM start is ignored while another is pending, and its end would end the other one.
  bool formOpen_ = false;
  // The wrappers left open so far, outermost first (see ends()).
  std::vector<const Wrapper*> open_;
  // The kind of the UL or OL list being written.
  std::string ulTag_ = "UL";
};

}  // namespace kesto::test
