#include "Platform/Foundation/HtmlDocument.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Libxml_p.h"
#include "Platform/Foundation/Strings.h"


#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/encoding.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kesto::fnd {
namespace {

bool isName(xmlNodePtr n, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && xmlStrcasecmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

xmlNodePtr firstElementChild(xmlNodePtr parent, const char* name) {
  for (xmlNodePtr c = parent ? parent->children : nullptr; c; c = c->next)
    if (isName(c, name)) return c;
  return nullptr;
}

bool isBlank(const xmlChar* s) {
  if (!s) return true;
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r' && *s != '\f') return false;
  return true;
}

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// What a browser's look at the first bytes of a page finds a <meta> element to declare, over the
// first `bytes` (comments and other tags skipped, attributes read as the tokenizer reads them).
class MetaCharsetScan {
 public:
  explicit MetaCharsetScan(std::string_view bytes) : in_(bytes) {}

  std::string encoding() {
    while (at_ < in_.size()) {
      if (startsWith("<!--")) {
        // "<!-->" ends where it starts: the two dashes before the '>' may be the opening's.
        const std::size_t end = in_.find("-->", at_ + 2);
        if (end == std::string_view::npos) return {};
        at_ = end + 3;
        continue;
      }
      if (startsWithNoCase("<meta") && at_ + 5 < in_.size() && (isAsciiSpace(in_[at_ + 5]) || in_[at_ + 5] == '/')) {
        at_ += 5;
        std::string found = meta();
        if (!found.empty()) return found;
        continue;
      }
      if (in_[at_] == '<' && at_ + 2 < in_.size() &&
          (isAsciiLetter(in_[at_ + 1]) || (in_[at_ + 1] == '/' && isAsciiLetter(in_[at_ + 2])))) {
        // Another tag: its name and attributes are passed over.
        while (at_ < in_.size() && !isAsciiSpace(in_[at_]) && in_[at_] != '>') ++at_;
        std::string name, value;
        while (attribute(name, value)) {
        }
        ++at_;
        continue;
      }
      if (startsWith("<!") || startsWith("</") || startsWith("<?")) {
        const std::size_t end = in_.find('>', at_);
        if (end == std::string_view::npos) return {};
        at_ = end + 1;
        continue;
      }
      ++at_;
    }
    return {};
  }

 private:
  bool startsWith(std::string_view s) const { return in_.substr(at_, s.size()) == s; }
  bool startsWithNoCase(std::string_view s) const {
    if (in_.size() - at_ < s.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
      if (asciiLowercase(in_[at_ + i]) != s[i]) return false;
    return true;
  }

  // The attributes of a <meta> element: its charset, or a Content-Type pragma's.
  std::string meta() {
    std::vector<std::string> seen;
    bool gotPragma = false;
    int needPragma = -1;  // unknown, no, yes
    std::string charset, name, value;
    while (attribute(name, value)) {
      if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
      seen.push_back(name);
      if (name == "http-equiv") {
        gotPragma = gotPragma || value == "content-type";
      } else if (name == "content" && charset.empty()) {
        charset = encodingForWebLabel(fromContent(value));
        if (!charset.empty()) needPragma = 1;
      } else if (name == "charset") {
        charset = encodingForWebLabel(value);
        needPragma = 0;
      }
    }
    ++at_;
    if (needPragma < 0 || (needPragma == 1 && !gotPragma) || charset.empty()) return {};
    // A page cannot declare itself UTF-16 in bytes that could be read this far.
    if (charset == "UTF-16BE" || charset == "UTF-16LE") return "UTF-8";
    if (charset == "x-user-defined") return "windows-1252";
    return charset;
  }

  // The charset a Content-Type value names ("text/html; charset=x").
  static std::string fromContent(std::string_view v) {
    for (std::size_t at = 0;;) {
      const std::size_t found = v.find("charset", at);
      if (found == std::string_view::npos) return {};
      std::size_t i = found + 7;
      while (i < v.size() && isAsciiSpace(v[i])) ++i;
      if (i >= v.size() || v[i] != '=') {
        at = i;
        continue;
      }
      ++i;
      while (i < v.size() && isAsciiSpace(v[i])) ++i;
      if (i >= v.size()) return {};
      if (v[i] == '"' || v[i] == '\'') {
        const std::size_t close = v.find(v[i], i + 1);
        if (close == std::string_view::npos) return {};
        return std::string(v.substr(i + 1, close - i - 1));
      }
      std::size_t j = i;
      while (j < v.size() && !isAsciiSpace(v[j]) && v[j] != ';') ++j;
      return std::string(v.substr(i, j - i));
    }
  }

  // The next attribute of a tag, its name and value in ASCII lower case; false at its '>' (or
  // the end of the bytes).
  bool attribute(std::string& name, std::string& value) {
    name.clear();
    value.clear();
    const auto at = [&] { return at_ < in_.size() ? in_[at_] : '\0'; };
    while (at_ < in_.size() && (isAsciiSpace(in_[at_]) || in_[at_] == '/')) ++at_;
    if (at_ >= in_.size() || at() == '>') return false;
    for (;; ++at_) {
      if (at_ >= in_.size()) return false;
      const char c = at();
      if (c == '=' && !name.empty()) break;
      if (isAsciiSpace(c)) {
        while (at_ < in_.size() && isAsciiSpace(in_[at_])) ++at_;
        if (at() != '=') return at_ < in_.size();
        break;
      }
      if (c == '/' || c == '>') return true;
      name += asciiLowercase(c);
    }
    ++at_;  // the '='
    while (at_ < in_.size() && isAsciiSpace(in_[at_])) ++at_;
    if (at_ >= in_.size()) return false;
    const char q = at();
    if (q == '"' || q == '\'') {
      for (++at_; at_ < in_.size(); ++at_) {
        if (in_[at_] == q) {
          ++at_;
          return true;
        }
        value += asciiLowercase(in_[at_]);
      }
      return false;
    }
    if (q == '>') return true;
    for (; at_ < in_.size() && !isAsciiSpace(in_[at_]) && in_[at_] != '>'; ++at_) value += asciiLowercase(in_[at_]);
    return at_ < in_.size();
  }

  std::string_view in_;
  std::size_t at_ = 0;
};

// The encoding to read with: a byte-order mark's (`skip`: its length), else a <meta> declaration's
// in the first 4 KiB, else UTF-8.
std::string detectEncoding(std::string_view bytes, std::size_t* skip) {
  *skip = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *skip = 3;
    return "UTF-8";
  }
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    *skip = 2;
    return bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
  }
  std::string found = MetaCharsetScan(bytes.substr(0, 4096)).encoding();
  return found.empty() ? "UTF-8" : found;
}

// Bytes of any encoding as UTF-8, as a browser decodes them.
std::string decodeAsUtf8(std::string_view bytes) {
  std::size_t skip = 0;
  WebTextDecoder decoder(detectEncoding(bytes, &skip));
  std::string out;
  out.reserve(bytes.size());
  decoder.decode(bytes.substr(skip), out);
  decoder.finish(out);
  return out;
}

// libxml2's HTML parser does not let a new DT close an open DT (nor DD a DD), so every item of
// a bookmark list would nest inside the one before it, and past the parser's depth limit (256)
// the rest of the file would be lost. Before parsing, each <dt> and <dd> start tag is preceded
// by the end tags of the items still open in its list. A folder's description
// (<DT><H3>name</H3><DD>text<DL>) would likewise take in the folder's list and everything after
// it, so a description DD still open at a <dl> is closed first (and so is an open DT); a DD
// holding a heading (the <DD><H3>name</H3><DL> folder form) keeps its list, unless every DD is
// to be closed there. An end tag is put in only where the item it closes is open, and end tags
// of the file's own that close no item or list are left out: the parser looks for the element
// an end tag closes through every open element, so each one that closes nothing would cost as
// much as the lists are deep, and a file nested thousands deep would take minutes.
// Quoted attribute values and script or style contents are copied untouched, and so are
// comments, ended where HTML ends them: libxml2 ends a comment only at "-->", so "<!-->",
// "<!--->" and "--!>" reach it as "<!---->", "<!---->" and "-->". The input is UTF-8. The text
// may come in pieces: what a piece ends in the middle of is carried over.
// Nesting lists as browsers do, the closer also follows every element HTML names special and
// hands on the tags a browser acts on: libxml2 lets the end tag of any element end every list
// and item inside it, also where it ended that element before (at a P or CENTER start, at an
// item's end) and the tag reaches another of the name further out; a browser ends nothing past
// a list for FONT, B, SPAN or unknown names, and lets an item end only the DIVs inside it.
// Reading text as browsers do, the closer hands on as text what a browser's tokenizer reads as
// text, where libxml2 (which knows only SCRIPT and STYLE) would read tags: the contents of
// TEXTAREA and TITLE (references decoded), of XMP, IFRAME, NOEMBED and NOFRAMES, and all that
// follows a PLAINTEXT. What a TEMPLATE holds is no part of a browser's document: it is left out.
// "<!x>", "<?x>" and "</3>" are comments that end at the first '>'. Inside SVG and MathML, SCRIPT,
// STYLE and the like are elements as any other (their tags are left out), a CDATA section is
// text, and the tags HTML lets break out of such content end it. A tag the file ends in the
// middle of is dropped, as a browser drops it: a tag is held until its '>'. SCRIPT and STYLE
// end where a browser's tokenizer ends them (see scriptChar). Text-only contents, a SCRIPT,
// STYLE or comment that the file never ends run to its end: the links their text holds are
// counted (read as markup by a closer of their own), since a browser reads them as text and
// none comes in; so are the links of a TEMPLATE the file never ends.
class ItemCloser {
 public:
  explicit ItemCloser(bool closeAnyDescriptionBeforeList, bool nestListsAsBrowsers = false,
                      bool textAsBrowsers = false)
      : closeAll_(closeAnyDescriptionBeforeList), nestAsBrowsers_(nestListsAsBrowsers), textAsBrowsers_(textAsBrowsers) {
    ddHeading_.push_back(false);
  }

  void feed(std::string_view in, std::string& realOut) {
    std::size_t i = 0;
    const std::size_t n = in.size();
    while (i < n) {
      // What a template holds goes nowhere.
      std::string& out = templateDepth_ > 0 ? discarded_ : realOut;
      if (discarded_.size() > 4096) discarded_.clear();
      switch (state_) {
        case State::Text: {
          if (reference_.active && takeReference(in[i], Place::Text, out)) {
            ++i;
            break;
          }
          const void* lt = std::memchr(in.data() + i, '<', n - i);
          const std::size_t textEnd = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - in.data()) : n;
          if (const void* amp = std::memchr(in.data() + i, '&', textEnd - i)) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(amp) - in.data());
            out.append(in.substr(i, at - i));
            takeReference('&', Place::Text, out);
            i = at + 1;
            break;
          }
          if (!lt) {
            out.append(in.substr(i));
            return;
          }
          const std::size_t at = textEnd;
          out.append(in.substr(i, at - i));
          head_.assign(1, '<');
          state_ = State::TagHead;
          i = at + 1;
          break;
        }
        case State::TagHead:
          head_ += in[i++];
          if (decideHead(false, realOut)) {
            // What followed the tag's name goes through again in its new state.
            std::string rest = std::move(pending_);
            pending_.clear();
            feed(rest, realOut);
          }
          break;
        case State::InTag: {
          // The tag is held until its end: one the file ends in is dropped.
          const char c = in[i];
          if (!dropping_ && (reference_.active || c == '&') && takeReference(c, placeInTag(), tag_)) {
            if (!quote_) significantInTag(c);
            ++i;
            break;
          }
          ++i;
          if (!dropping_) tag_ += c;
          if ((anchorTag_ || fontTag_) && !quote_) attributeNameChar(c);
          if (quote_) {
            if (c == quote_) quote_ = 0, attributeName_ = false;
          } else if ((c == '"' || c == '\'') && lastSignificant_ == '=' && !unquoted_) {
            quote_ = c;
            lastSignificant_ = c;
            selfClosing_ = false;
          } else if (c == '>') {
            unquoted_ = false;
            endTag(realOut);
          } else if (isAsciiSpace(c) || c == '\v') {
            if (unquoted_) attributeName_ = false;
            unquoted_ = false;
            selfClosing_ = inTagName_ = false;
          } else {
            significantInTag(c);
          }
          break;
        }
        case State::Bogus: {
          const void* gt = std::memchr(in.data() + i, '>', n - i);
          const std::size_t end = gt ? static_cast<std::size_t>(static_cast<const char*>(gt) - in.data()) : n;
          out.append(in.substr(i, end - i));
          i = end;
          if (gt) {
            out += "-->";
            state_ = State::Text;
            ++i;
          }
          break;
        }
        case State::Declaration: {
          const void* gt = std::memchr(in.data() + i, '>', n - i);
          const std::size_t end = gt ? static_cast<std::size_t>(static_cast<const char*>(gt) - in.data()) + 1 : n;
          out.append(in.substr(i, end - i));
          if (gt) state_ = State::Text;
          i = end;
          break;
        }
        case State::Comment: {
          if (held_.empty() && !commentStart_) {
            // Up to the next dash, nothing can end the comment.
            const void* dash = std::memchr(in.data() + i, '-', n - i);
            const std::size_t end = dash ? static_cast<std::size_t>(static_cast<const char*>(dash) - in.data()) : n;
            out.append(in.substr(i, end - i));
            if (holdsUnendedText()) keepUnendedText(in.substr(i, end - i));
            i = end;
            if (!dash) break;
          }
          if (holdsUnendedText()) keepUnendedText(in.substr(i, 1));
          commentChar(in[i++], out);
          break;
        }
        case State::Raw: {
          if (rawKind_ != RawKind::Script || textAsBrowsers_) {
            if (!(rawKind_ == RawKind::Script ? scriptChar(in[i], out) : textChar(in[i], out))) break;
            if (holdsUnendedText()) keepUnendedText(in.substr(i, 1));
            ++i;
            break;
          }
          const char c = in[i++];
          out += c;
          const char want = rawEnd_[matched_];
          const char got = matched_ < 2 ? c : lower(c);
          if (got == want) {
            if (++matched_ == rawEnd_.size()) startTagBody(true, rawEnd_.substr(2), true);
          } else {
            matched_ = c == '<' ? 1 : 0;
          }
          break;
        }
      }
    }
  }

  // DT and LI start tags handed to the parser, for telling whether it read them all.
  std::size_t itemStartTags = 0;
  // A start tags with an HREF attribute (as libxml2 reads attribute names), likewise.
  std::size_t anchorsWithAddress = 0;
  // Links in the text of a text-only element the file never ends (or after a PLAINTEXT), and
  // that element's name; none of them reach the parser as links.
  std::size_t anchorsInUnendedText = 0;
  std::string unendedTextElement;

  void finish(std::string& realOut) {
    std::string& out = templateDepth_ > 0 ? discarded_ : realOut;
    if (reference_.active) {
      out += resolvedReference(false);
      reference_ = Reference{};
    }
    if (state_ == State::TagHead) {
      decideHead(true, realOut);
      std::string rest = std::move(pending_);
      pending_.clear();
      if (!rest.empty()) feed(rest, realOut);
    }
    if (state_ == State::InTag) {
      if (!textAsBrowsers_) {
        realOut += tag_;
      } else {
        // A browser drops the tag; a link it would have been is one the file holds and that
        // was not read.
        if (anchorTag_ && (hasAddress_ || attribute_ == "href"))
          ++(templateDepth_ > 0 ? anchorsInTemplate_ : anchorsWithAddress);
        if (itemCounted_) --itemStartTags;
      }
      tag_.clear();
    } else if (state_ == State::Raw && rawKind_ != RawKind::Script) {
      if (reference_.active) {
        out += resolvedReference(false);
        reference_ = Reference{};
      }
      flushRawHeld(out);
    } else if (state_ == State::Raw && textAsBrowsers_) {
      flushScriptHeld(out);
    } else if (state_ == State::Bogus) {
      out += "-->";
    }
    // What runs to the end of the file: the links its text holds (read as markup) are counted, and
    // so are those a template the file never closes holds, whatever stands in it.
    std::size_t links = 0;
    std::string runsOn;
    if (holdsUnendedText()) {
      readUnendedText();
      unendedText_->finish(unendedOut_);
      links = unendedText_->anchorsWithAddress;
      runsOn = state_ == State::Comment ? "#comment" : rawName_;
    }
    if (templateDepth_ > 0 && countsUnendedText()) {
      links += anchorsInTemplate_;
      runsOn = "template";
    }
    if (!runsOn.empty()) {
      anchorsInUnendedText += links;
      unendedTextElement = runsOn;
    }
  }

 private:
  enum class State { Text, TagHead, InTag, Comment, Declaration, Raw, Bogus };
  // What a Raw state's contents are: SCRIPT and STYLE go to the parser as they are (it reads
  // them raw too); the others go as text, escaped: with references read (RcData), without
  // (RawText, a CDATA section), or up to the end of the file (PlainText).
  enum class RawKind { Script, RcData, RawText, PlainText, CData };
  // Where a SCRIPT's or STYLE's contents are, as the tokenizer's script data states (STYLE's stay
  // out of the escapes): plain, after a '<', in "<!--" (Escaped), in a "<script>" there (Double),
  // after dashes there, in an end tag's name.
  enum class ScriptState : std::uint8_t {
    Data, Lt, EscapeStart, EscapeStartDash, Escaped, EscapedDash, EscapedDashDash,
    DoubleStart, Double, DoubleDash, DoubleDashDash, DoubleLt, DoubleEnd, EndName
  };

  // Whether links that a browser reads as no part of the page, should the file never end what
  // holds them, are counted (the reading closer's, reading text as browsers do).
  bool countsUnendedText() const { return textAsBrowsers_ && !linksOnly_; }
  // Whether the contents being read are kept for counting their links, should the file never end
  // them: a TEXTAREA's, TITLE's, XMP's, IFRAME's, NOEMBED's, NOFRAMES', SCRIPT's, STYLE's, a
  // comment's, or all after a PLAINTEXT.
  bool holdsUnendedText() const {
    return countsUnendedText() &&
           (state_ == State::Comment || (state_ == State::Raw && rawKind_ != RawKind::CData));
  }
  // Their text goes to a closer of their own a block at a time, which counts every link tag in
  // it: nothing there is a comment, raw text or a template (a "<!--" or "<style>" in that text
  // hides none of the links after it, which the file meant as much as those before), and it
  // lives only while the contents run on past a block.
  void keepUnendedText(std::string_view text) {
    unendedIn_.append(text);
    if (unendedIn_.size() >= kUnendedBlock) readUnendedText();
  }
  void readUnendedText() {
    if (!unendedText_) {
      unendedText_ = std::make_unique<ItemCloser>(false, false, true);
      unendedText_->linksOnly_ = true;
    }
    unendedText_->feed(unendedIn_, unendedOut_);
    unendedIn_.clear();
    unendedOut_.clear();
  }
  // The contents ended: their text was text, as the file means it.
  void endUnendedText() {
    unendedText_.reset();
    unendedIn_.clear();
  }

  // One character of a SCRIPT's or STYLE's contents, as a browser's tokenizer reads them (when
  // reading text as browsers do): they end only at "</" and their own name followed by white
  // space, '/' or '>', and inside a SCRIPT's "<!--" a "<script>" starts what its "</script>" only
  // leaves (the end comes after "-->"). Every other "</" in them is handed to the parser as "<\/"
  // (script text either way), see flushScriptHeld. False at the end tag, whose head the
  // character then goes on.
  bool scriptChar(char c, std::string& out) {
    const bool script = rawName_ == "script";
    const bool ends = isAsciiSpace(c) || c == '/' || c == '>';
    for (;;) {
      switch (scriptState_) {
        case ScriptState::Data:
        case ScriptState::Escaped:
          if (c == '<') {
            rawHeld_ = c;
            scriptBack_ = scriptState_;
            scriptState_ = ScriptState::Lt;
            return true;
          }
          if (c == '-' && scriptState_ == ScriptState::Escaped) scriptState_ = ScriptState::EscapedDash;
          out += c;
          return true;
        case ScriptState::EscapedDash:
        case ScriptState::DoubleDash:
          if (c == '-') {
            out += c;
            scriptState_ = scriptState_ == ScriptState::EscapedDash ? ScriptState::EscapedDashDash
                                                                    : ScriptState::DoubleDashDash;
            return true;
          }
          scriptState_ = scriptState_ == ScriptState::EscapedDash ? ScriptState::Escaped : ScriptState::Double;
          continue;
        case ScriptState::EscapedDashDash:
        case ScriptState::DoubleDashDash:
          if (c == '-') {
            out += c;
            return true;
          }
          if (c == '>') {
            out += c;
            scriptState_ = ScriptState::Data;
            return true;
          }
          scriptState_ = scriptState_ == ScriptState::EscapedDashDash ? ScriptState::Escaped : ScriptState::Double;
          continue;
        case ScriptState::Lt:
          if (c == '/') {
            rawHeld_ += c;
            scriptState_ = ScriptState::EndName;
            return true;
          }
          if (c == '!' && script && scriptBack_ == ScriptState::Data) {
            out += "<!";
            rawHeld_.clear();
            scriptState_ = ScriptState::EscapeStart;
            return true;
          }
          out += rawHeld_;
          rawHeld_.clear();
          scriptState_ = scriptBack_;
          if (scriptBack_ == ScriptState::Escaped && isAsciiLetter(c)) {
            scriptName_.clear();
            scriptState_ = ScriptState::DoubleStart;
          }
          continue;
        case ScriptState::EscapeStart:
        case ScriptState::EscapeStartDash:
          if (c == '-') {
            out += c;
            scriptState_ = scriptState_ == ScriptState::EscapeStart ? ScriptState::EscapeStartDash
                                                                    : ScriptState::EscapedDashDash;
            return true;
          }
          scriptState_ = ScriptState::Data;
          continue;
        case ScriptState::EndName:
          if (isAsciiLetter(c)) {
            rawHeld_ += c;
            return true;
          }
          if (ends && rawHeld_.size() == rawName_.size() + 2 && asciiLowercase(rawHeld_.substr(2)) == rawName_) {
            // The end tag, read on as a tag.
            out += rawHeld_;
            rawHeld_.clear();
            scriptState_ = ScriptState::Data;
            startTagBody(true, rawName_, true);
            endUnendedText();
            return false;
          }
          flushScriptHeld(out);
          scriptState_ = scriptBack_;
          continue;
        case ScriptState::DoubleStart:
        case ScriptState::DoubleEnd:
          if (isAsciiLetter(c)) {
            scriptName_ += lower(c);
            (scriptState_ == ScriptState::DoubleEnd ? rawHeld_ : out) += c;
            return true;
          }
          flushScriptHeld(out);
          if (ends) {
            out += c;
            const bool named = scriptName_ == "script";
            scriptState_ = scriptState_ == ScriptState::DoubleStart ? (named ? ScriptState::Double : ScriptState::Escaped)
                                                                     : (named ? ScriptState::Escaped : ScriptState::Double);
            return true;
          }
          scriptState_ = scriptState_ == ScriptState::DoubleStart ? ScriptState::Escaped : ScriptState::Double;
          continue;
        case ScriptState::Double:
          if (c == '-') scriptState_ = ScriptState::DoubleDash;
          if (c == '<') {
            rawHeld_ = c;
            scriptState_ = ScriptState::DoubleLt;
            return true;
          }
          out += c;
          return true;
        case ScriptState::DoubleLt:
          if (c == '/') {
            rawHeld_ += c;
            scriptName_.clear();
            scriptState_ = ScriptState::DoubleEnd;
            return true;
          }
          flushScriptHeld(out);
          scriptState_ = ScriptState::Double;
          continue;
      }
    }
  }
  // What a SCRIPT or STYLE holds back that is no end: any "</" goes as "<\/". libxml2 ends them
  // at a "</" and their name, and reads a "</" right after their start tag as an end tag of its
  // own: "<style></DL>" would end the list, and the style with it.
  void flushScriptHeld(std::string& out) {
    if (rawHeld_.size() >= 2 && rawHeld_[1] == '/')
      out.append("<\\/").append(rawHeld_, 2);
    else
      out += rawHeld_;
    rawHeld_.clear();
  }

  // One character of text-only contents; false when it is to be read again as the start of
  // the end tag's head.
  bool textChar(char c, std::string& out) {
    if (!rawHeld_.empty()) {
      if (rawKind_ == RawKind::CData) {
        if (c == ']') {
          if (rawHeld_.size() == 2) out += ']';
          else rawHeld_ += c;
          return true;
        }
        if (c == '>' && rawHeld_.size() == 2) {
          rawHeld_.clear();
          state_ = State::Text;
          return true;
        }
      } else if (rawHeld_.size() < rawEnd_.size()) {
        if ((rawHeld_.size() < 2 ? c : lower(c)) == rawEnd_[rawHeld_.size()]) {
          rawHeld_ += c;
          return true;
        }
      } else if (isAsciiSpace(c) || c == '/' || c == '>') {
        // "</textarea" and a space, '/' or '>': the end tag, read as any tag.
        head_ = std::move(rawHeld_);
        rawHeld_.clear();
        state_ = State::TagHead;
        endUnendedText();
        return false;
      }
      flushRawHeld(out);
    }
    if (rawKind_ == RawKind::RcData && (reference_.active || c == '&') && takeReference(c, Place::Text, out))
      return true;
    if ((c == '<' && rawKind_ != RawKind::PlainText && rawKind_ != RawKind::CData) ||
        (c == ']' && rawKind_ == RawKind::CData)) {
      rawHeld_ = c;
      return true;
    }
    if (c == '<') out += "&lt;";
    else if (c == '&') out += "&amp;";
    else out += c;
    return true;
  }
  // What looked like the end of text-only contents and is not, as text.
  void flushRawHeld(std::string& out) {
    for (char h : rawHeld_) {
      if (h == '<') out += "&lt;";
      else out += h;  // the rest of a held end tag's name: letters, a '/' or a ']'
    }
    rawHeld_.clear();
  }
  static char lower(char c) { return asciiLowercase(c); }
  static bool isAlnum(char c) { return isAsciiLetterOrDigit(c); }

  // A character of a tag outside quotes and white space. Only an '=' after an attribute's name
  // starts its value (and so may open a quote): one right after the tag's name is part of that,
  // one where a name would start starts the name, as browsers and libxml2 read them.
  void significantInTag(char c) {
    if (unquoted_ || lastSignificant_ == '=') {
      unquoted_ = true;
    } else if (c == '/') {
      attributeName_ = inTagName_ = false;
    } else if (c == '=' && (!attributeName_ || inTagName_)) {
      attributeName_ = !inTagName_;
      c = '\x01';
    } else if (c != '=') {
      attributeName_ = !inTagName_;
    }
    lastSignificant_ = c;
    selfClosing_ = c == '/' && !unquoted_;
  }

  // One character of a comment, as the HTML tokenizer takes it. held_ keeps the dashes (and a
  // '!' after two) that may turn out to be the comment's end, which the parser is handed as
  // "-->" whatever its spelling.
  void commentChar(char c, std::string& out) {
    const auto end = [&] {
      out += "-->";
      held_.clear();
      commentStart_ = false;
      state_ = State::Text;
      endUnendedText();
    };
    if (commentStart_) {
      // Right after "<!--" or "<!---": a '>' ends the comment empty.
      if (c == '>') return end();
      if (c == '-' && held_.empty()) {
        held_ = "-";
        return;
      }
      commentStart_ = false;
    }
    if (held_ == "--!") {
      if (c == '>') return end();
      out += held_;
      held_.clear();
    } else if (held_ == "--") {
      if (c == '>') return end();
      if (c == '!') {
        held_ += c;
        return;
      }
      if (c == '-') {
        out += c;  // a dash more before the end belongs to the comment
        return;
      }
      out += held_;
      held_.clear();
    }
    if (c == '-') {
      held_ += c;
      return;
    }
    out += held_;
    held_.clear();
    out += c;
  }

  // Decides what the text after a '<' is, once enough of it has come (or the input ended).
  // Answers true when decided; bytes to read again are left in pending_.
  bool decideHead(bool atEnd, std::string& realOut) {
    std::string& out = templateDepth_ > 0 ? discarded_ : realOut;
    if (linksOnly_ && head_.size() >= 2 && !isAsciiLetter(head_[1])) {
      if (head_[1] == '/' && head_.size() < 3 && !atEnd) return false;
      if (head_[1] != '/' || head_.size() < 3 || !isAsciiLetter(head_[2])) {
        out += '<';
        pending_ = head_.substr(1);
        state_ = State::Text;
        return true;
      }
    }
    static constexpr std::string_view kComment = "<!--";
    if (head_.size() < kComment.size() && kComment.substr(0, head_.size()) == head_ && !atEnd) return false;
    if (head_ == kComment) {
      out += head_;
      state_ = State::Comment;
      held_.clear();
      commentStart_ = true;
      endUnendedText();
      return true;
    }
    // In SVG or MathML a CDATA section is text.
    static constexpr std::string_view kCData = "<![CDATA[";
    if (textAsBrowsers_ && foreignMode() && head_.size() <= kCData.size() && kCData.substr(0, head_.size()) == head_) {
      if (head_.size() < kCData.size() && !atEnd) return false;
      if (head_.size() == kCData.size()) {
        state_ = State::Raw;
        rawKind_ = RawKind::CData;
        rawHeld_.clear();
        return true;
      }
    }
    // A processing instruction, and a document type, take everything up to the next '>' (what
    // looks like a tag in there is none to libxml2 or to a browser).
    static constexpr std::string_view kDoctype = "<!doctype";
    const auto isDoctypeSoFar = [&] {
      for (std::size_t m = 0; m < head_.size() && m < kDoctype.size(); ++m)
        if (lower(head_[m]) != kDoctype[m]) return false;
      return true;
    };
    const bool instruction =
        head_.size() >= 3 && head_[1] == '?' && (isAsciiLetter(head_[2]) || head_[2] == '_' || head_[2] == ':');
    if ((head_.size() < 3 && head_.size() >= 2 && head_[1] == '?' && !atEnd) ||
        (head_.size() < kDoctype.size() && isDoctypeSoFar() && !atEnd))
      return false;
    if (instruction || (head_.size() == kDoctype.size() && isDoctypeSoFar())) {
      out += head_;
      state_ = State::Declaration;
      return true;
    }
    if (head_.size() < 2 && !atEnd) return false;
    const bool closing = head_.size() > 1 && head_[1] == '/';
    if (textAsBrowsers_ && head_.size() >= 2) {
      // What a browser reads as a comment up to the first '>': "<!" but a comment or a document
      // type, "<?" but an instruction libxml2 reads so, "</" and no letter ("</>" is nothing).
      if (closing && head_.size() < 3 && !atEnd) return false;
      const bool bogus = head_[1] == '!' || head_[1] == '?' || (closing && head_.size() >= 3 && !isAsciiLetter(head_[2]));
      if (bogus && closing && head_[2] == '>') {
        state_ = State::Text;
        return true;
      }
      if (bogus) {
        out += kComment;
        pending_ = head_.substr(head_[1] == '?' ? 1 : 2);
        state_ = State::Bogus;
        return true;
      }
    }
    const std::size_t j = closing ? 2 : 1;
    std::size_t k = j;
    while (k < head_.size() && isAlnum(head_[k])) ++k;
    const bool terminated = k < head_.size();
    if (!terminated && !atEnd && k - j <= kLongestName) return false;
    if (k == j) {  // not a tag: a lone '<', a declaration or a processing instruction
      out += '<';
      pending_ = head_.substr(1);
      state_ = State::Text;
      return true;
    }
    return decideTag(closing, j, k, realOut);
  }

  // A tag whose name is head_[j, k).
  bool decideTag(bool closing, std::size_t j, std::size_t k, std::string& out) {
    std::string name = head_.substr(j, k - j);
    std::transform(name.begin(), name.end(), name.begin(), lower);
    const std::size_t itemsBefore = itemStartTags;
    fontTag_ = fontBreaks_ = openTemplate_ = false;
    foreignStart_.clear();
    if (templateDepth_ > 0) {
      // Inside a template only its own end counts (templates nest); reading as browsers do, only
      // a tag whose name ends there ("</template<DT>" names another element). Its links are
      // counted apart, should the file never end it.
      const bool whole = textAsBrowsers_ ? endsName(k) : !continuesName(k);
      if (name == "template" && whole) templateDepth_ += closing ? -1 : 1;
      if (templateDepth_ > 0 || !closing || name != "template") {
        pending_ = head_.substr(k);
        startTagBody(closing, name, !continuesName(k));
        dropping_ = true;
        anchorTag_ = countsUnendedText() && !closing && name == "a" && !continuesName(k);
        attribute_.clear();
        hasAddress_ = false;
        itemCounted_ = false;
        return true;
      }
    }
    if (textAsBrowsers_ && foreignTag(name, closing, k, out)) {
      itemCounted_ = false;
      return true;
    }
    // Inside a list, only what holds structure reaches the parser (outside any, nothing is at stake).
    const bool ownOrSpecial =
        !nestAsBrowsers_ || !isAsciiLetter(name[0]) || innermostList() == kNone || holdsStructure(name, k);
    bool drop = nestAsBrowsers_ && (!ownOrSpecial || endsListsUnlikeBrowsers(name, closing, k));
    // The elements the model of what is open follows besides DL, DT and DD.
    const int other = !drop && nestAsBrowsers_ && !continuesName(k) ? trackedOther(name) : -1;
    if (drop) {
      if (name == "li" && !closing) ++itemStartTags;
      if (name == "form" && nestAsBrowsers_ && ownOrSpecial && !continuesName(k)) formTag(closing);
    } else if (closing) {
      if (name == "dt" || name == "dd")
        drop = !endItem(name == "dt" ? kDt : kDd, out);
      else if (name == "dl")
        drop = !endElement(kDl, out);
      else if (other >= 0)
        drop = !endElement(other, out);
    }
    if (ownOrSpecial && !drop && !closing && nestAsBrowsers_ && !bodyStarted_) {
      bodyStarted_ = startsBody(name, k);
      if (bodyStarted_ && name != "body" && name != "frameset") out += "<body>";
    }
    if (drop || closing) {
    } else if (name == "dt" || name == "dd") {
      if (name == "dt" && !continuesName(k)) ++itemStartTags;
      startItem(name == "dt" ? kDt : kDd, out);
    } else if (name == "h3") {
      ddHeading_.back() = openItem() == kDd;
    } else if (name == "dl") {
      endItemBeforeList(out);
      closedByStart(name);
      push(kDl);
    } else if (other >= 0) {
      closedByStart(name);
      push(other);
    } else {
      if (name == "li" && !continuesName(k)) ++itemStartTags;
      closedByStart(name);
      if (name == "li" && !continuesName(k)) listItem(true);
    }
    if (!drop && closing && name == "li" && !continuesName(k)) listItem(false);
    if (!drop) tag_.append(head_, 0, k);
    pending_ = head_.substr(k);
    startTagBody(closing, name, !continuesName(k));
    dropping_ = drop;
    anchorTag_ = !closing && !drop && name == "a" && !continuesName(k);
    attribute_.clear();
    hasAddress_ = false;
    itemCounted_ = itemStartTags != itemsBefore;
    if (textAsBrowsers_ && !closing && !continuesName(k)) {
      openTemplate_ = name == "template" && !linksOnly_;
      // An SVG or MathML element opens content of its own (unless it closes itself).
      if (name == "svg" || name == "math") foreignStart_ = name, foreignHanded_ = !drop;
    }
    return true;
  }

  // ---- SVG and MathML ----------------------------------------------------------------------
  // Inside them a browser reads tags as elements of their own, none raw text, until a tag HTML
  // lets break out (or an end tag of theirs, or of what holds them); their integration points
  // (SVG's foreignObject, desc and title, MathML's text elements) hold HTML again. libxml2 knows
  // none of this: the tags it would read otherwise (SCRIPT and STYLE as raw text, those of
  // elements HTML names special) are left out, and a break out ends the elements it hands on.

  struct Foreign {
    std::string name;
    bool svg = false;     // else MathML
    bool root = false;    // opened where HTML was read
    bool point = false;   // an integration point
    bool handed = false;  // its tags reach the parser
    bool model = false;   // it has an entry of its own in the model (at modelAt)
    std::uint32_t modelAt = 0;  // the model's size when it opened
  };
  static constexpr std::size_t kMostForeign = 256;

  bool foreignMode() const { return !foreign_.empty() && !foreign_.back().point; }

  static bool breaksOut(std::string_view name) {
    static const std::unordered_set<std::string_view> kBreakOut{
        "b",  "big", "blockquote", "body", "br",  "center", "code",    "dd",   "div",   "dl",     "dt",
        "em", "embed", "h1",       "h2",   "h3",  "h4",     "h5",      "h6",   "head",  "hr",     "i",
        "img", "li", "listing",    "menu", "meta", "nobr",  "ol",      "p",    "pre",   "ruby",   "s",
        "small", "span", "strong", "strike", "sub", "sup",  "table",   "tt",   "u",     "ul",     "var"};
    return kBreakOut.count(name) > 0;
  }

  // Takes a tag as an SVG or MathML element's; false when HTML reads it (after a break out).
  bool foreignTag(const std::string& name, bool closing, std::size_t k, std::string& out) {
    if (foreign_.empty()) return false;
    const bool named = !continuesName(k);
    const std::string key = named ? name : name + '\x01';
    const bool inForeign = foreignMode();
    if (closing) {
      if (inForeign && named && (name == "br" || name == "p")) {
        breakOut(out);
        return false;
      }
      // In an integration point that holds HTML elements, HTML reads the end tag.
      if (!inForeign && foreign_.back().model && stack_.size() != foreign_.back().modelAt + 1) return false;
      for (std::size_t m = foreign_.size(); m-- > 0;) {
        if (foreign_[m].name == key) {
          const bool handed = foreign_[m].handed;
          popForeign(m);
          if (handed) tag_.append(head_, 0, k);
          pending_ = head_.substr(k);
          startTagBody(true, name, false);
          dropping_ = !handed;
          anchorTag_ = false;
          return true;
        }
        if (foreign_[m].root) break;
      }
      return false;
    }
    if (!inForeign) return false;
    if (named && breaksOut(name)) {
      breakOut(out);
      return false;
    }
    // The tags of elements HTML names special mean nothing here; inside a list, only links
    // reach the parser (as elsewhere in lists).
    const bool link = named && name == "a";
    const bool drop = !link && (holdsStructure(name, k) || (nestAsBrowsers_ && innermostList() != kNone));
    if (!drop) tag_.append(head_, 0, k);
    pending_ = head_.substr(k);
    startTagBody(false, name, false);
    dropping_ = drop;
    anchorTag_ = link;
    attribute_.clear();
    hasAddress_ = false;
    // A FONT with a colour, face or size breaks out, once its attributes are read.
    fontTag_ = named && name == "font";
    foreignStart_ = key;
    foreignHanded_ = !drop;
    return true;
  }

  // A break out: the SVG and MathML elements up to the nearest integration point end.
  void breakOut(std::string& out) {
    while (foreignMode()) {
      const Foreign& f = foreign_.back();
      if (f.handed && f.name.back() != '\x01') out += "</" + f.name + ">";
      foreign_.pop_back();
    }
  }

  void pushForeign() {
    if (foreign_.size() >= kMostForeign) return;
    Foreign f;
    f.name = foreignStart_;
    f.root = !foreignMode();
    f.svg = f.root ? foreignStart_ == "svg" : foreign_.back().svg;
    f.point = f.svg ? (f.name == "foreignobject" || f.name == "desc" || f.name == "title")
                    : (f.name == "mi" || f.name == "mo" || f.name == "mn" || f.name == "ms" || f.name == "mtext");
    f.handed = foreignHanded_;
    f.modelAt = static_cast<std::uint32_t>(stack_.size());
    // What an integration point holds is a scope of its own: an item in it ends none outside,
    // and an end tag in it ends no list outside.
    f.model = f.point && nestAsBrowsers_;
    foreign_.push_back(std::move(f));
    if (foreign_.back().model) push(trackedId("#point"));
  }

  // The element at `m` ends, and those inside it.
  void popForeign(std::size_t m) {
    std::uint32_t model = kNone;
    for (std::size_t i = m; i < foreign_.size(); ++i)
      if (foreign_[i].model && model == kNone) model = foreign_[i].modelAt;
    foreign_.resize(m);
    if (model != kNone && model < stack_.size()) truncate(model);
  }

  // What ended in the model takes the SVG and MathML elements inside it along.
  void foreignAfterTruncate() {
    while (!foreign_.empty()) {
      const Foreign& f = foreign_.back();
      if (f.model ? stack_.size() > f.modelAt : stack_.size() >= f.modelAt) return;
      foreign_.pop_back();
    }
  }

  // Tags libxml2 ends a list at where a browser keeps it open: a FORM ends any list it starts
  // in, an LI a DL, the end of a table's part outside any table every list inside it (a browser
  // ignores such parts). None means anything in a bookmark file, so they are left out.
  bool endsListsUnlikeBrowsers(const std::string& name, bool closing, std::size_t k) {
    if (continuesName(k)) return false;
    if (name == "table") {
      if (!closing) ++tables_;
      else if (tables_ > 0) --tables_;
      return false;
    }
    static constexpr std::string_view kTableParts[] = {"caption", "col",   "colgroup", "tbody",
                                                       "td",      "tfoot", "th",       "thead", "tr"};
    if (tables_ == 0)
      for (std::string_view part : kTableParts)
        if (part == name) return true;
    const std::uint32_t list = innermostList();
    return name == "form" || (name == "li" && list != kNone && stack_[list].id == kDl);
  }

  // Whether an element's tags go to the parser: the file's own, and those HTML names special
  // (their end tags may end a list, and a list stops the end tags of others). The rest (FONT, B,
  // SPAN, unknown names...) hold no structure: a browser never lets their end tags end a list,
  // where libxml2 ends every list up to an open element of the name (one it closed itself before,
  // at a P, CENTER or TD start or at an item's end, or one outside the list). Their contents stay.
  bool holdsStructure(const std::string& name, std::size_t k) const {
    static const std::unordered_set<std::string_view> kKept{
        "a",       "address",  "applet",   "area",     "article",  "aside",   "base",    "basefont", "bgsound",
        "blockquote", "body",  "br",       "button",   "caption",  "center",  "col",     "colgroup", "dd",
        "details", "dialog",   "dir",      "div",      "dl",       "dt",      "embed",   "fieldset", "figcaption",
        "figure",  "footer",   "form",     "frame",    "frameset", "h1",      "h2",      "h3",       "h4",
        "h5",      "h6",       "head",     "header",   "hgroup",   "hr",      "html",    "iframe",   "img",
        "input",   "keygen",   "li",       "link",     "listing",  "main",    "marquee", "menu",     "meta",
        "nav",     "noembed",  "noframes", "noscript", "object",   "ol",      "p",       "param",    "plaintext",
        "pre",     "script",   "search",   "section",  "select",   "source",  "style",   "summary",  "table",
        "tbody",   "td",       "template", "textarea", "tfoot",    "th",      "thead",   "title",    "tr",
        "track",   "ul",       "wbr",      "xmp"};
    return !continuesName(k) && kKept.count(name) > 0;
  }

  // Whether a start tag ends the document's head: any but those of the head (a name cut at
  // kLongestName is matched by its start). libxml2 keeps some others (TR, TD, unknown names) in
  // an open head, and what follows with them; an HTML parser starts the body there.
  bool startsBody(const std::string& name, std::size_t k) const {
    static constexpr std::string_view kHead[] = {"html",    "head",     "title",    "meta",     "link",
                                                 "base",    "script",   "style",    "noscript", "noframes",
                                                 "basefont", "bgsound", "template"};
    if (continuesName(k)) return true;
    for (std::string_view h : kHead)
      if (h == name || (name.size() > kLongestName && h.substr(0, name.size()) == name)) return false;
    return true;
  }

  // One character of a start tag of an A outside quotes: attribute names are read as libxml2
  // reads them (letters, digits and ":_.-", lower case), and one named "href" counts the tag.
  void attributeNameChar(char c) {
    const bool inValue = unquoted_ || lastSignificant_ == '=';
    if (!inValue && (isAlnum(c) || c == ':' || c == '_' || c == '.' || c == '-')) {
      if (attribute_.size() < 5) attribute_ += lower(c);
      else attribute_ = "-----";
      return;
    }
    if (attribute_ == "href" && anchorTag_) hasAddress_ = true;
    if (fontTag_ && (attribute_ == "color" || attribute_ == "face" || attribute_ == "size")) fontBreaks_ = true;
    attribute_.clear();
    if (c == '>' && hasAddress_ && anchorTag_) {
      ++(templateDepth_ > 0 ? anchorsInTemplate_ : anchorsWithAddress);
      anchorTag_ = false;
    }
  }

  // Where a character reference stands: in text, in an attribute value (quoted or not), or
  // elsewhere in a tag.
  enum class Place { Text, DoubleQuoted, SingleQuoted, Unquoted, Tag };
  Place placeInTag() const {
    if (quote_) return quote_ == '"' ? Place::DoubleQuoted : Place::SingleQuoted;
    return unquoted_ || lastSignificant_ == '=' ? Place::Unquoted : Place::Tag;
  }

  // Character references go to the parser as a browser reads them where libxml2 reads them
  // otherwise:
  // - a numeric one from 128 to 159 names the character of the Windows-1252 table (files written
  //   in that charset say &#146; for its right quote); libxml2 would give a C1 control;
  // - a numeric one is one character however many leading zeros it has;
  // - in an attribute value, one naming a control character, or no character at all, would end
  //   the value there (so "&#1;javascript:..." would read as no address), and the names HTML
  //   gained later (&colon;, &Tab; ...) would stay as written;
  // - libxml2 misreads a numeric reference that straddles the end of what it has read of the
  //   file so far, and with it the rest of the file, so a long run of them in an attribute value
  //   goes wrong at some offsets. In values, numeric references and the later names go as the
  //   characters themselves (a character that would end or change the value as a named
  //   reference, which libxml2 reads whole wherever it falls).
  // In text only the numeric references of the Windows-1252 range change; the rest are libxml2's.
  // Answers whether `c` was taken (into the reference, or as the ';' ending it).
  bool takeReference(char c, Place place, std::string& out) {
    if (reference_.active) {
      if (continuesReference(c)) return true;
      out += resolvedReference(c == ';');
      reference_ = Reference{};
      if (c == ';') return true;
    }
    if (c != '&') return false;
    reference_.active = true;
    reference_.place = place;
    reference_.name = "&";
    return true;
  }

  bool continuesReference(char c) {
    Reference& r = reference_;
    if (r.numeric) {
      if (r.name.size() == 2 && !r.digits && (c | 0x20) == 'x') {
        r.hex = true;
        r.name += c;
        return true;
      }
      const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      const int digit = isAsciiDigit(c) ? c - '0' : r.hex && hexLetter ? (c | 0x20) - 'a' + 10 : -1;
      if (digit < 0) return false;
      // However many digits: the value stops growing past the last code point.
      r.digits = true;
      r.value = std::min<std::uint32_t>(r.value * (r.hex ? 16 : 10) + static_cast<std::uint32_t>(digit), 0x110000);
      return true;
    }
    if (r.name.size() == 1 && c == '#') {
      r.numeric = true;
      r.name += c;
      return true;
    }
    // Text keeps its named references for libxml2.
    if (r.place == Place::Text || r.name.size() >= kLongestReferenceName) return false;
    if (!(r.name.size() == 1 ? isAsciiLetter(c) : isAlnum(c))) return false;
    r.name += c;
    return true;
  }

  std::string resolvedReference(bool semicolon) const {
    const Reference& r = reference_;
    if (r.numeric) {
      if (!r.digits) return r.name + (semicolon ? ";" : "");
      return character(r.value, true);
    }
    const std::string written = r.name + (semicolon ? ";" : "");
    if (!semicolon) return written;
    // The names for plain ASCII characters that libxml2's (HTML 4) table lacks.
    static const std::pair<std::string_view, int> kLaterNames[] = {
        {"Tab", 9},       {"NewLine", 10},  {"excl", 33},     {"QUOT", 34},         {"num", 35},     {"dollar", 36},
        {"percnt", 37},   {"AMP", 38},      {"lpar", 40},     {"rpar", 41},         {"ast", 42},     {"midast", 42},
        {"plus", 43},     {"comma", 44},    {"period", 46},   {"sol", 47},          {"colon", 58},   {"semi", 59},
        {"LT", 60},       {"equals", 61},   {"GT", 62},       {"quest", 63},        {"commat", 64},  {"lsqb", 91},
        {"lbrack", 91},   {"bsol", 92},     {"rsqb", 93},     {"rbrack", 93},       {"Hat", 94},     {"lowbar", 95},
        {"UnderBar", 95}, {"grave", 96},    {"DiacriticalGrave", 96}, {"lcub", 123}, {"lbrace", 123},
        {"verbar", 124},  {"vert", 124},    {"VerticalLine", 124},    {"rcub", 125}, {"rbrace", 125}};
    const std::string_view name = std::string_view(r.name).substr(1);
    for (const auto& [later, code] : kLaterNames)
      if (name == later) return character(static_cast<std::uint32_t>(code), false);
    return written;
  }

  // What the parser is handed for the character a reference names (`numeric`: by its number).
  std::string character(std::uint32_t value, bool numeric) const {
    const Place place = reference_.place;
    std::uint32_t cp = value;
    if (numeric) {
      if (cp >= 0x80 && cp <= 0x9F) cp = kWindows1252[cp - 0x80];
      // No character, or one libxml2 would end a value at.
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || cp == 0xFFFE || cp == 0xFFFF) cp = 0xFFFD;
    }
    const auto asReference = [](std::uint32_t code) { return "&#" + std::to_string(code) + ";"; };
    const bool control = (cp >= 1 && cp <= 8) || cp == 0x0B || cp == 0x0C || (cp >= 0x0E && cp <= 0x1F);
    if (place == Place::Text) return asReference(value >= 0x80 && value <= 0x9F ? cp : value);
    if (place == Place::Tag) return control ? std::string(1, static_cast<char>(cp)) : asReference(cp);
    // An attribute value: the character itself, unless it would end or change the value.
    switch (cp) {
      case '&': return "&amp;";
      case '"': return place == Place::SingleQuoted ? "\"" : "&quot;";
      case '\'': return place == Place::DoubleQuoted ? "'" : "&#39;";
      case '>': return place == Place::Unquoted ? "&gt;" : ">";
      case '\t': case '\n': case '\f': case '\r': case ' ':
        return place == Place::Unquoted ? asReference(cp) : std::string(1, static_cast<char>(cp));
      default: break;
    }
    if (cp < 0x80) return std::string(1, static_cast<char>(cp));
    std::string bytes;
    appendUtf8(bytes, cp);
    return bytes;
  }

  // 0x80 to 0x9F in Windows-1252; the five it leaves unassigned stay as they are.
  static constexpr std::uint32_t kWindows1252[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

  // Whether the tag's name ends at `k` of its head for a browser (at white space, '/' or '>').
  bool endsName(std::size_t k) const {
    return k < head_.size() && (isAsciiSpace(head_[k]) || head_[k] == '/' || head_[k] == '>');
  }
  // Whether the character at `k` of the tag's head is one libxml2 reads as part of the name, so
  // "<dt-x>" is no item to it.
  bool continuesName(std::size_t k) const {
    return k < head_.size() && std::string_view(":-_.").find(head_[k]) != std::string_view::npos;
  }

  // The names the model follows: the lists and items first, then (nesting as browsers do) the
  // elements HTML names special that are not the file's own and hold others, and FORM.
  static constexpr std::uint8_t kDl = 0, kUl = 1, kOl = 2, kDt = 3, kDd = 4;
  // "#point" (no tag's name) stands for an SVG or MathML integration point.
  static constexpr std::array<std::string_view, 55> kTracked{
      "dl",       "ul",       "ol",       "dt",      "dd",      "address", "applet",     "article",  "aside",
      "blockquote", "button", "caption",  "center",  "colgroup", "details", "dialog",    "dir",      "div",
      "fieldset", "figcaption", "figure", "footer",  "h2",      "h4",      "h5",         "h6",       "header",
      "hgroup",   "iframe",   "listing",  "main",    "marquee", "menu",    "nav",        "noembed",  "noscript",
      "object",   "plaintext", "pre",     "search",  "section", "select",  "summary",    "table",    "tbody",
      "td",       "template", "textarea", "tfoot",   "th",      "thead",   "tr",         "xmp",      "form",
      "#point"};
  static int trackedId(std::string_view name) {
    static const std::unordered_map<std::string_view, int> kIds = [] {
      std::unordered_map<std::string_view, int> ids;
      for (std::size_t i = 0; i < kTracked.size(); ++i) ids.emplace(kTracked[i], static_cast<int>(i));
      return ids;
    }();
    const auto it = kIds.find(name);
    return it == kIds.end() ? -1 : it->second;
  }
  static int trackedOther(std::string_view name) {
    const int id = trackedId(name);
    return id == kDt || id == kDd || id == kDl ? -1 : id;
  }
  static bool isItem(std::uint8_t id) { return id == kDt || id == kDd; }
  static bool isList(std::uint8_t id) { return id == kDl || id == kUl || id == kOl; }
  // What each name is to the model:
  // - Passed: a new item ends the item it stands in, and it with it (DIV, ADDRESS);
  // - EndsScope: end tags (DT, DD and lists among them) stop where one is open;
  // - EndsTableScope, InTable: a table's parts' end tags stop only at another table;
  // - Closable: libxml2 ends it when some elements start (see closedByStart).
  enum Flag : std::uint8_t { Passed = 1, EndsScope = 2, EndsTableScope = 4, InTable = 8, Closable = 16 };
  static std::uint8_t flags(std::uint8_t id) {
    static const std::array<std::uint8_t, kTracked.size()> kFlags = [] {
      std::array<std::uint8_t, kTracked.size()> f{};
      const auto set = [&](std::initializer_list<std::string_view> names, std::uint8_t flag) {
        for (std::string_view n : names) f[static_cast<std::size_t>(trackedId(n))] |= flag;
      };
      set({"div", "address"}, Passed);
      set({"applet", "caption", "table", "td", "th", "marquee", "object", "template", "#point"}, EndsScope);
      set({"table", "template"}, EndsTableScope);
      set({"table", "tbody", "thead", "tfoot", "tr", "td", "th", "caption", "colgroup"}, InTable);
      set({"td", "th", "tr", "tbody", "thead", "pre", "address", "h2", "h4", "h5", "h6", "ul", "ol"}, Closable);
      return f;
    }();
    return kFlags[id];
  }

  void push(int id) {
    const std::uint32_t index = static_cast<std::uint32_t>(stack_.size());
    const auto u = static_cast<std::uint8_t>(id);
    stack_.push_back({u, false, flags(u) & Passed ? (index ? stack_[index - 1].reach : kNone) : index});
    at_[u].push_back(index);
    if (flags(u) & EndsScope) scopeEnds_.push_back(index);
    if (flags(u) & EndsTableScope) tableScopeEnds_.push_back(index);
    if (isList(u)) ddHeading_.push_back(false);
  }
  // Everything from `index` up ends.
  void truncate(std::size_t index) {
    while (stack_.size() > index || (!stack_.empty() && stack_.back().gone)) {
      const std::uint8_t id = stack_.back().id;
      const auto top = static_cast<std::uint32_t>(stack_.size() - 1);
      if (!stack_.back().gone) at_[id].pop_back();
      if (!scopeEnds_.empty() && scopeEnds_.back() == top) scopeEnds_.pop_back();
      if (!tableScopeEnds_.empty() && tableScopeEnds_.back() == top) tableScopeEnds_.pop_back();
      if (isList(id)) ddHeading_.pop_back();
      stack_.pop_back();
    }
    // Those of an item that ended go; what opens in the place of one that stays is still inside
    // its ghosts, also where a FORM its end took out went with the rest.
    while (!ghosts_.empty() && ghosts_.back().at > index) ghosts_.pop_back();
    for (Ghost& g : ghosts_) g.at = std::min(g.at, static_cast<std::uint32_t>(stack_.size()));
    foreignAfterTruncate();
  }
  std::uint32_t topmost(int id) const {
    const auto& at = at_[static_cast<std::size_t>(id)];
    return at.empty() ? kNone : at.back();
  }
  std::uint32_t innermostList() const {
    std::uint32_t list = kNone;
    for (int id : {kDl, kUl, kOl}) {
      const std::uint32_t at = topmost(id);
      if (at != kNone && (list == kNone || at > list)) list = at;
    }
    return list;
  }
  // The item a new one ends, if any. libxml2 sees no FORM, so it is passed too (`pastForm`: a
  // browser would have stopped there).
  std::uint32_t reachedItem(bool* pastForm = nullptr) const {
    static const int form = trackedId("form");
    std::uint32_t r = stack_.empty() ? kNone : stack_.back().reach;
    while (r != kNone && stack_[r].id == form) {
      if (pastForm && !stack_[r].gone) *pastForm = true;
      r = r ? stack_[r - 1].reach : kNone;
    }
    return r != kNone && isItem(stack_[r].id) ? r : kNone;
  }
  // The kind of the item a new one ends (kDt, kDd), else -1.
  int openItem() const {
    const std::uint32_t item = reachedItem();
    return item == kNone ? -1 : stack_[item].id;
  }
  // Ends the entry at `index` and all above it: libxml2 lets no end tag but a DIV's close a DIV,
  // so those above go first.
  void endFrom(std::uint32_t index, std::string& out) {
    static const int div = trackedId("div");
    const auto& divs = at_[static_cast<std::size_t>(div)];
    for (auto d = std::upper_bound(divs.begin(), divs.end(), index); d != divs.end(); ++d) out += "</div>";
    truncate(index);
  }

  // Ends the entry at `index` and all above it with end tags of their own, innermost first:
  // where the file's end tag names nothing libxml2 holds there.
  void closeFrom(std::uint32_t index, std::string& out) {
    static const int form = trackedId("form"), point = trackedId("#point");
    for (std::size_t i = stack_.size(); i-- > index;)
      if (!stack_[i].gone && stack_[i].id != form && stack_[i].id != point)
        out.append("</").append(kTracked[stack_[i].id]).append(">");
    truncate(index);
  }

  // A new DT or DD ends the item before it as HTML does: past DIVs and ADDRESSes opened in it
  // (which end with it), but not past any other element HTML names special (the new item nests
  // in that one, and the one before stays open around it).
  void startItem(int id, std::string& out) {
    bool pastForm = false;
    if (const std::uint32_t item = reachedItem(&pastForm); item != kNone) {
      const bool dt = stack_[item].id == kDt;
      // What a browser keeps open in the FORM ends here: its end tags, to come, end only what
      // opened in the item's place since.
      if (pastForm) ghostsFrom(item);
      endFrom(item, out);
      out += dt ? "</dt>" : "</dd>";
    }
    ddHeading_.back() = false;
    closedByStart(kTracked[static_cast<std::size_t>(id)]);
    push(id);
  }
  // A folder's list ends the DT of its heading before it, and a description DD (not one holding
  // the heading, unless every DD is to end there), so the list follows them. What was opened in
  // the item since ends with it (in a browser the list would stand in that): its end tags, to
  // come, end only what opened in the item's place since.
  void endItemBeforeList(std::string& out) {
    const std::uint32_t list = innermostList();
    std::uint32_t item = kNone;
    for (int id : {kDt, kDd}) {
      const std::uint32_t at = topmost(id);
      if (at != kNone && (list == kNone || at > list) && (item == kNone || at > item)) item = at;
    }
    if (item == kNone || (!scopeEnds_.empty() && scopeEnds_.back() > item)) return;
    const std::uint8_t id = stack_[item].id;
    if (id == kDd && !closeAll_ && ddHeading_.back()) return;
    ghostsFrom(item);
    endFrom(item, out);
    out += id == kDt ? "</dt>" : "</dd>";
  }
  // The elements above `item` are to end with it where a browser keeps them open.
  void ghostsFrom(std::uint32_t item) {
    for (std::size_t i = item + 1; i < stack_.size() && ghosts_.size() < kMostGhosts; ++i)
      if (!stack_[i].gone) ghosts_.push_back({stack_[i].id, item});
  }
  // FORM tags reach no parser, but a FORM stands in a new item's way as any element HTML names
  // special does. Its end ends only the FORM, and while one is pending another's start is ignored.
  void formTag(bool closing) {
    static const int form = trackedId("form");
    if (!closing) {
      if (!formPending_) push(form);
      formPending_ = true;
      return;
    }
    formPending_ = false;
    const std::uint32_t at = topmost(form);
    if (at == kNone || (!scopeEnds_.empty() && scopeEnds_.back() > at)) return;
    stack_[at].gone = true;
    at_[static_cast<std::size_t>(form)].pop_back();
    truncate(stack_.size());
  }
  // An item's end tag: the innermost item of the kind in the innermost list, unless an element
  // ending a scope stands between. False when it ends nothing.
  bool endItem(int id, std::string& out) {
    const std::uint32_t item = topmost(id), list = innermostList();
    if (item == kNone || (list != kNone && item < list) || (!scopeEnds_.empty() && scopeEnds_.back() > item))
      return false;
    endFrom(item, out);
    return true;
  }
  // The end tag of a list or another element followed: it ends the innermost one open with all
  // inside it (lists too, as in a browser), unless an element ending a scope stands between
  // (inside a table's cell, what is outside the table stays). False when it ends nothing: left
  // out, it cannot reach an element of the name further out that libxml2 ended before.
  bool endElement(int id, std::string& out) {
    const std::uint32_t index = topmost(id);
    const auto& ends = flags(static_cast<std::uint8_t>(id)) & InTable ? tableScopeEnds_ : scopeEnds_;
    for (auto g = ghosts_.rbegin(); g != ghosts_.rend(); ++g)
      if (g->id == id) {
        if (index != kNone && index >= g->at) break;
        // In a browser the element still holds all that opened in its item's place since, and
        // its end ends that too (not what stands outside, which libxml2 would reach by the name).
        const std::uint32_t at = g->at;
        if (!ends.empty() && ends.back() >= at) return false;
        ghosts_.erase(std::next(g).base(), ghosts_.end());
        if (at < stack_.size()) closeFrom(at, out);
        return false;
      }
    if (index == kNone) return false;
    if (!ends.empty() && ends.back() > index) return false;
    endFrom(index, out);
    return true;
  }
  // An LI starts or ends right in the innermost UL or OL (the model holds no LI).
  void listItem(bool open) {
    if (!stack_.empty() && (stack_.back().id == kUl || stack_.back().id == kOl)) stack_.back().itemOpen = open;
  }
  // What libxml2 ends by itself when an element starts, where the model follows it: a table's
  // part ends the parts it cannot stand in, a list or item a PRE or ADDRESS, a UL an OL.
  void closedByStart(std::string_view name) {
    const auto among = [&](std::initializer_list<std::string_view> names) {
      return std::find(names.begin(), names.end(), name) != names.end();
    };
    while (!stack_.empty() && flags(stack_.back().id) & Closable) {
      const std::string_view top = kTracked[stack_.back().id];
      const bool ends = ((top == "td" || top == "th") && among({"td", "th", "tr", "tbody", "tfoot"})) ||
                        (top == "tr" && among({"tr", "tbody", "tfoot"})) ||
                        ((top == "tbody" || top == "thead") && among({"tbody", "tfoot"})) ||
                        ((top == "pre" || top == "address") && among({"dl", "dt", "dd", "ul", "li"})) ||
                        ((top == "pre" || top[0] == 'h') && name == "table") ||
                        (((top == "ul" && name == "ol") || (top == "ol" && name == "ul")) && !stack_.back().itemOpen);
      if (!ends) return;
      truncate(stack_.size() - 1);
    }
  }

  // `named`: the name is the whole of it (an HTML element's, whose contents may be text only).
  void startTagBody(bool closing, std::string_view name, bool named) {
    state_ = State::InTag;
    quote_ = 0;
    lastSignificant_ = 0;
    unquoted_ = false;
    selfClosing_ = attributeName_ = false;
    inTagName_ = true;
    closing_ = closing;
    rawName_.clear();
    if (closing || !named) return;
    rawKind_ = RawKind::Script;
    if (linksOnly_) return;
    if (name == "script" || name == "style") {
      rawName_ = name;
    } else if (textAsBrowsers_) {
      if (name == "textarea" || name == "title") rawKind_ = RawKind::RcData;
      else if (name == "xmp" || name == "iframe" || name == "noembed" || name == "noframes") rawKind_ = RawKind::RawText;
      else if (name == "plaintext") rawKind_ = RawKind::PlainText;
      if (rawKind_ != RawKind::Script) rawName_ = name;
    }
  }

  void endTag(std::string& out) {
    state_ = State::Text;
    dropping_ = false;
    if (fontTag_ && fontBreaks_) {
      breakOut(out);
      foreignStart_.clear();
    }
    fontTag_ = false;
    out += tag_;
    tag_.clear();
    if (!foreignStart_.empty()) {
      if (!selfClosing_) pushForeign();
      foreignStart_.clear();
    }
    if (openTemplate_) {
      openTemplate_ = false;
      if (templateDepth_++ == 0) anchorsInTemplate_ = 0;
    }
    if (!rawName_.empty()) {
      rawEnd_ = "</" + rawName_;
      matched_ = 0;
      rawHeld_.clear();
      scriptState_ = ScriptState::Data;
      state_ = State::Raw;
      endUnendedText();
    }
  }

  // Longer tag names are none of those that matter here; their ends need not be waited for.
  static constexpr std::size_t kLongestName = 16;
  bool closeAll_;
  bool nestAsBrowsers_;
  bool textAsBrowsers_;
  // The closer counting the links of text the file never ends: every '<' and a letter (or "</"
  // and one) is a tag, anything else text.
  bool linksOnly_ = false;
  static constexpr std::size_t kUnendedBlock = 64 * 1024;
  std::unique_ptr<ItemCloser> unendedText_;
  std::string unendedIn_, unendedOut_;
  std::string tag_;  // the tag being read, up to its '>'
  bool selfClosing_ = false;  // its last character so far is a '/' that closes it
  bool inTagName_ = false;  // what follows the name as far as it is read is a browser's name still
  bool attributeName_ = false;  // an attribute's name was read, and no value yet
  bool itemCounted_ = false;  // it is a DT or LI start tag, counted
  RawKind rawKind_ = RawKind::Script;
  std::string rawHeld_;  // what may be the end of text-only contents
  int templateDepth_ = 0;  // templates open: what they hold is left out
  std::size_t anchorsInTemplate_ = 0;  // links in them since the outermost opened
  bool openTemplate_ = false;  // the tag opens one
  std::string discarded_;
  std::vector<Foreign> foreign_;  // SVG and MathML elements open, innermost last
  std::string foreignStart_;  // the tag opens one of this name (unless it closes itself)
  bool foreignHanded_ = false;
  bool fontTag_ = false, fontBreaks_ = false;  // a FONT in SVG or MathML; it breaks out
  bool anchorTag_ = false, hasAddress_ = false;  // in an A start tag; it has an HREF
  bool bodyStarted_ = false;
  int tables_ = 0;  // tables open
  std::string attribute_;                        // the attribute name read so far
  State state_ = State::Text;
  std::string head_, pending_;
  char quote_ = 0, lastSignificant_ = 0;
  bool closing_ = false;
  std::string held_;           // a comment's dashes that may be its end
  bool commentStart_ = false;  // right after a comment's "<!--"
  std::string rawName_, rawEnd_;
  std::size_t matched_ = 0;
  ScriptState scriptState_ = ScriptState::Data;
  ScriptState scriptBack_ = ScriptState::Data;  // where a '<' that starts no end tag goes back to
  std::string scriptName_;  // the name after "<" or "</" in a SCRIPT's escape, lower case
  bool dropping_ = false;  // an end tag that closes nothing: left out
  bool unquoted_ = false;  // inside an attribute value without quotes
  // A character reference, from its "&", while it lasts. A longer name goes as written; a
  // number is held as its value, however many digits it has.
  static constexpr std::size_t kLongestReferenceName = 32;
  struct Reference {
    bool active = false;
    Place place = Place::Text;
    std::string name;  // as written so far ("&#" or "&#x" for a number)
    bool numeric = false, hex = false, digits = false;
    std::uint32_t value = 0;
  };
  Reference reference_;
  // What is open as far as lists go, innermost last: lists, their items and (when nesting as
  // browsers do) the other elements HTML names special. `reach` is the entry a new item looks at:
  // the nearest one at or below, past DIVs and ADDRESSes.
  static constexpr std::uint32_t kNone = static_cast<std::uint32_t>(-1);
  struct Open {
    std::uint8_t id;
    bool gone = false;  // a FORM its end took out, with what it holds still open
    std::uint32_t reach;
    bool itemOpen = false;  // a UL or OL holding an open LI, which libxml2 keeps in place
  };
  std::vector<Open> stack_;
  // Elements that ended with an item where a list (or, past a FORM, a new item) started, and
  // where that item was: in a browser they are still open around what opened there since.
  struct Ghost {
    std::uint8_t id;
    std::uint32_t at;
  };
  static constexpr std::size_t kMostGhosts = 64;
  std::vector<Ghost> ghosts_;
  bool formPending_ = false;
  std::vector<std::vector<std::uint32_t>> at_ = std::vector<std::vector<std::uint32_t>>(kTracked.size());
  std::vector<std::uint32_t> scopeEnds_, tableScopeEnds_;  // where the elements that end a scope are
  std::vector<bool> ddHeading_;  // per list, the document's first: the open DD holds a heading
};

std::string closeOpenItems(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 16);
  ItemCloser closer(false, false, true);
  closer.feed(in, out);
  closer.finish(out);
  return out;
}

// Elements named `name` (or `other`) below `n`, in document order.
void collect(xmlNodePtr n, const char* name, std::vector<xmlNodePtr>& out, const char* other = nullptr) {
  for (xmlNodePtr c = n->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (isName(c, name) || (other && isName(c, other))) out.push_back(c);
    collect(c, name, out, other);
  }
}

// A <p> is unwrapped: its children take its place.
void unwrapParagraphs(xmlNodePtr root) {
  std::vector<xmlNodePtr> ps;
  collect(root, "p", ps);
  // Innermost first, so a moved child is never a paragraph still waiting.
  for (auto it = ps.rbegin(); it != ps.rend(); ++it) {
    xmlNodePtr p = *it;
    while (xmlNodePtr c = p->children) {
      xmlUnlinkNode(c);
      xmlAddPrevSibling(p, c);
    }
    xmlUnlinkNode(p);
    xmlFreeNode(p);
  }
}

// The parser leaves a DT open until something else closes it, so a list of DTs can come out
// nested one inside the other. Each nested DT or DD moves out after its parent, taking the
// nodes that follow it along.
void liftNestedItems(xmlNodePtr root) {
  std::vector<xmlNodePtr> items;
  collect(root, "dt", items, "dd");  // in document order, parents before their children
  for (xmlNodePtr n : items) {
    xmlNodePtr parent = n->parent;
    if (!isName(parent, "dt") && !isName(parent, "dd")) continue;
    xmlNodePtr anchor = parent;
    for (xmlNodePtr c = n; c;) {
      xmlNodePtr next = c->next;
      xmlUnlinkNode(c);
      // A text moved next to a text is merged into it and freed: keep the node that stays.
      xmlNodePtr placed = xmlAddNextSibling(anchor, c);
      if (!placed) {
        xmlFreeNode(c);
        break;
      }
      anchor = placed;
      c = next;
    }
  }
}

xmlNodePtr nextElement(xmlNodePtr n) {
  for (n = n->next; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) return n;
    if (n->type == XML_TEXT_NODE && !isBlank(n->content)) return nullptr;
  }
  return nullptr;
}

// The folder form of bookmark files: <DT><H3>name</H3><DL>...</DL> becomes a DD holding the
// H3 and the DL, wherever the parser left the DL (inside the DT or right after it). A folder
// description between the heading and the list stays as a DD after the folder.
void foldersToDefinitions(xmlNodePtr root) {
  std::vector<xmlNodePtr> dts;
  collect(root, "dt", dts);
  for (xmlNodePtr dt : dts) {
    xmlNodePtr h3 = firstElementChild(dt, "h3");
    if (!h3) continue;
    xmlNodePtr dl = nullptr;
    for (xmlNodePtr c = h3->next; c && !dl; c = c->next)
      if (isName(c, "dl")) dl = c;
    if (!dl) {
      xmlNodePtr after = nextElement(dt);
      if (isName(after, "dd") && !firstElementChild(after, "h3") && !firstElementChild(after, "dl"))
        after = nextElement(after);
      if (!isName(after, "dl")) continue;
      xmlUnlinkNode(after);
      xmlAddChild(dt, after);
    }
    xmlNodeSetName(dt, reinterpret_cast<const xmlChar*>("dd"));
  }
}

bool isBlockContainer(xmlNodePtr n) {
  static const char* const kBlocks[] = {"html", "head", "body", "dl", "dd", "dt", "ul", "ol", "div",
                                        "table", "thead", "tbody", "tr"};
  for (const char* b : kBlocks)
    if (isName(n, b)) return true;
  return false;
}

// Drops white space between block elements and turns CR LF and CR into LF.
void normaliseText(xmlNodePtr n) {
  for (xmlNodePtr c = n->children; c;) {
    xmlNodePtr next = c->next;
    if (c->type == XML_TEXT_NODE) {
      if (isBlockContainer(n) && isBlank(c->content)) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
      } else if (c->content && std::strchr(reinterpret_cast<const char*>(c->content), '\r')) {
        const std::string t = normalizeLineEnds(reinterpret_cast<const char*>(c->content));
        xmlNodeSetContentLen(c, reinterpret_cast<const xmlChar*>(t.data()), static_cast<int>(t.size()));
      }
    } else if (c->type == XML_ELEMENT_NODE) {
      normaliseText(c);
    }
    c = next;
  }
}

// /html/head/title and /html/body always exist, head first.
void ensureSkeleton(xmlDocPtr doc) {
  xmlNodePtr html = xmlDocGetRootElement(doc);
  if (!isName(html, "html")) {
    xmlNodePtr newHtml = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("html"), nullptr);
    if (html) {
      xmlUnlinkNode(html);
      xmlDocSetRootElement(doc, newHtml);
      xmlAddChild(newHtml, html);
    } else {
      xmlDocSetRootElement(doc, newHtml);
    }
    html = newHtml;
  }
  xmlNodePtr head = firstElementChild(html, "head");
  if (!head) {
    head = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("head"), nullptr);
    if (html->children)
      xmlAddPrevSibling(html->children, head);
    else
      xmlAddChild(html, head);
  }
  if (!firstElementChild(head, "title")) {
    // A title the parser placed in the body still names the document.
    xmlNodePtr title = nullptr;
    for (xmlNodePtr c = html->children; c && !title; c = c->next)
      if (c != head && c->type == XML_ELEMENT_NODE) title = firstElementChild(c, "title");
    if (title)
      xmlUnlinkNode(title);
    else
      title = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("title"), nullptr);
    xmlAddChild(head, title);
  }
  xmlNodePtr body = firstElementChild(html, "body");
  if (!body) {
    body = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("body"), nullptr);
    // Whatever sits beside head (frames, stray content) moves into the new body.
    for (xmlNodePtr c = html->children; c;) {
      xmlNodePtr next = c->next;
      if (c != head) {
        xmlUnlinkNode(c);
        xmlAddChild(body, c);
      }
      c = next;
    }
    xmlAddChild(html, body);
  }
}

void initHtmlParsing() {
  libxml::initParser();
  xmlSetGenericErrorFunc(nullptr, libxml::silentGeneric);
  xmlSetStructuredErrorFunc(nullptr, libxml::silentStructured);
}

// The text is UTF-8 by then: a <meta> declaration in it must not make the parser decode it again.
constexpr int kHtmlOptions =
    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC;

// The bytes on their way to the parser: decoded to UTF-8, NUL bytes dropped, the item repairs.
class StreamPipeline {
 public:
  StreamPipeline(const HtmlStreamReader::Source& source, std::string head, std::string_view encoding, bool closeAll,
                 bool nestAsBrowsers, std::size_t handOnLimit)
      : source_(source),
        head_(std::move(head)),
        decoder_(encoding),
        closer_(closeAll, nestAsBrowsers, nestAsBrowsers),
        handOnLimit_(handOnLimit) {}

  // The parser's read callback.
  static int read(void* context, char* buffer, int size) {
    auto* self = static_cast<StreamPipeline*>(context);
    if (self->out_.size() - self->at_ < static_cast<std::size_t>(size) && self->at_ > 0) {
      // Drop what the parser has taken before the next block goes in, so the buffer holds at
      // most a block and a read's worth, whatever the file's size.
      self->out_.erase(0, self->at_);
      self->at_ = 0;
    }
    while (self->out_.size() - self->at_ < static_cast<std::size_t>(size) && !self->ended_) self->fill();
    self->result.largestBuffer = std::max(self->result.largestBuffer, self->out_.size());
    std::size_t n = std::min(self->out_.size() - self->at_, static_cast<std::size_t>(size));
    if (const std::size_t limit = self->handOnLimit_) n = std::min(n, limit - std::min(limit, self->handedOn_));
    std::memcpy(buffer, self->out_.data() + self->at_, n);
    self->at_ += n;
    self->handedOn_ += n;
    if (self->at_ == self->out_.size()) self->out_.clear(), self->at_ = 0;
    return static_cast<int>(n);
  }

  // The rest of the file after the parser stopped asking, read only to count its items.
  void drain() {
    while (!ended_) {
      out_.clear();
      at_ = 0;
      fill();
    }
    out_.clear();
  }

  HtmlStreamReader::Result result;
  std::size_t itemStartTags() const { return closer_.itemStartTags; }
  std::size_t anchorsWithAddress() const { return closer_.anchorsWithAddress; }
  std::size_t anchorsInUnendedText() const { return closer_.anchorsInUnendedText; }
  const std::string& unendedTextElement() const { return closer_.unendedTextElement; }

 private:
  void fill() {
    // One block buffer for the whole file: a new large buffer per block would make the
    // allocator gather its free lists each time.
    std::string_view chunk;
    if (!head_.empty()) {
      block_ = std::move(head_);
      head_.clear();
      chunk = block_;
    } else {
      constexpr std::size_t kBlock = 256 * 1024;
      block_.resize(kBlock);
      const std::size_t n = source_(block_.data(), kBlock);
      result.bytesRead += n;
      chunk = std::string_view(block_.data(), n);
    }
    text_.clear();
    if (chunk.empty()) {
      decoder_.finish(text_);
      push(text_);
      closer_.finish(out_);
      ended_ = true;
      return;
    }
    decoder_.decode(chunk, text_);
    push(text_);
  }

  void push(std::string& text) {
    // A NUL would end the parser's reading of the file; it carries nothing, so it goes.
    if (std::memchr(text.data(), 0, text.size())) {
      const auto before = text.size();
      text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
      result.nulBytesDropped += before - text.size();
    }
    closer_.feed(text, out_);
  }

  const HtmlStreamReader::Source& source_;
  std::string head_;
  WebTextDecoder decoder_;
  ItemCloser closer_;
  std::string block_, text_, out_;
  std::size_t at_ = 0, handedOn_ = 0;
  const std::size_t handOnLimit_;
  bool ended_ = false;
};

struct SaxState {
  HtmlStreamHandler* handler;
  std::vector<HtmlStreamHandler::Attribute> attributes;
  std::size_t* endTagsClosingNothing;
};

HtmlStreamHandler& handlerOf(void* ctx) {
  auto* ctxt = static_cast<htmlParserCtxtPtr>(ctx);
  return *static_cast<SaxState*>(ctxt->_private)->handler;
}

std::string_view view(const xmlChar* s) { return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view(); }

void saxStart(void* ctx, const xmlChar* name, const xmlChar** atts) {
  auto* state = static_cast<SaxState*>(static_cast<htmlParserCtxtPtr>(ctx)->_private);
  state->attributes.clear();
  for (const xmlChar** a = atts; a && *a; a += 2) state->attributes.push_back({view(a[0]), view(a[1])});
  state->handler->startElement(view(name), state->attributes);
}
void saxEnd(void* ctx, const xmlChar* name) { handlerOf(ctx).endElement(view(name)); }
void saxText(void* ctx, const xmlChar* text, int len) {
  handlerOf(ctx).text(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(len)));
}
void saxRaw(void* ctx, const xmlChar* text, int len) {
  handlerOf(ctx).rawText(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(len)));
}
void saxComment(void* ctx, const xmlChar* text) { handlerOf(ctx).otherNode(view(text)); }
// Errors stay silent; an end tag that closed nothing is counted (the parser looked for it
// through every open element).
void saxError(void* ctx, xmlErrorPtr error) {
  if (!ctx || !error || error->code != XML_ERR_TAG_NAME_MISMATCH) return;
  ++*static_cast<SaxState*>(static_cast<htmlParserCtxtPtr>(ctx)->_private)->endTagsClosingNothing;
}
void saxInstruction(void* ctx, const xmlChar*, const xmlChar* data) { handlerOf(ctx).otherNode(view(data)); }

}  // namespace

std::atomic<std::size_t> HtmlStreamReader::handOnLimit_{0};

HtmlStreamReader::Result HtmlStreamReader::read(const Source& source, HtmlStreamHandler& handler,
                                                const Options& options) {
  initHtmlParsing();
  // The charset is decided from the first bytes.
  constexpr std::size_t kHead = 4096;
  std::string head(kHead, '\0');
  std::size_t got = 0;
  while (got < kHead) {
    const std::size_t n = source(head.data() + got, kHead - got);
    if (!n) break;
    got += n;
  }
  head.resize(got);
  std::size_t skip = 0;
  const std::string encoding = detectEncoding(head, &skip);
  StreamPipeline pipeline(source, head.substr(std::min(skip, head.size())), encoding,
                          options.closeDescriptionBeforeList, options.nestListsAsBrowsers, handOnLimit_.load());
  pipeline.result.bytesRead = got;

  SaxState state{&handler, {}, &pipeline.result.endTagsClosingNothing};
  htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
  if (!ctxt) return pipeline.result;
  std::memset(ctxt->sax, 0, sizeof(*ctxt->sax));
  // The SAX2 mark lets errors reach saxError; the HTML parser calls the same handlers either way.
  ctxt->sax->initialized = XML_SAX2_MAGIC;
  ctxt->sax->startElement = saxStart;
  ctxt->sax->endElement = saxEnd;
  ctxt->sax->characters = saxText;
  ctxt->sax->ignorableWhitespace = saxText;
  ctxt->sax->cdataBlock = saxRaw;
  ctxt->sax->comment = saxComment;
  ctxt->sax->processingInstruction = saxInstruction;
  ctxt->sax->serror = saxError;
  ctxt->_private = &state;
  htmlDocPtr doc = htmlCtxtReadIO(ctxt, &StreamPipeline::read, nullptr, &pipeline, nullptr, "UTF-8", kHtmlOptions);
  if (doc) xmlFreeDoc(doc);
  htmlFreeParserCtxt(ctxt);
  // Where the parser stopped before the end, the rest of the file still counts its items.
  pipeline.drain();
  pipeline.result.itemStartTags = pipeline.itemStartTags();
  pipeline.result.anchorsWithAddress = pipeline.anchorsWithAddress();
  pipeline.result.anchorsInUnendedText = pipeline.anchorsInUnendedText();
  pipeline.result.unendedTextElement = pipeline.unendedTextElement();
  return pipeline.result;
}

HtmlStreamReader::Result HtmlStreamReader::read(std::string_view bytes, HtmlStreamHandler& handler,
                                                const Options& options) {
  std::size_t at = 0;
  return read(
      [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, bytes.size() - at);
        if (n) std::memcpy(buffer, bytes.data() + at, n);  // an empty view's data may be null
        at += n;
        return n;
      },
      handler, options);
}

std::string HtmlDocument::declaredCharset(std::string_view bytes) {
  std::size_t skip = 0;
  return detectEncoding(bytes, &skip);
}

std::shared_ptr<XmlDocument> HtmlDocument::parse(std::string_view bytes, Error* error, std::size_t maxInputBytes) {
  if (bytes.size() > maxInputBytes || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    if (error)
      *error = Error::withDescription(XmlDocument::kErrorDomain, XmlDocument::kRefusedInputError,
                                      "The document is too large to read.");
    return nullptr;
  }
  initHtmlParsing();

  const std::string text = closeOpenItems(decodeAsUtf8(bytes));
  xmlDocPtr doc = nullptr;
  if (!text.empty() && text.size() <= static_cast<std::size_t>(INT32_MAX)) {
    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    if (ctxt) {
      ctxt->sax->serror = libxml::silentStructured;
      doc = htmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", kHtmlOptions);
      htmlFreeParserCtxt(ctxt);
    }
  }
  if (!doc) doc = htmlNewDocNoDtD(nullptr, nullptr);
  if (!doc) {
    if (error) *error = Error::withDescription(XmlDocument::kErrorDomain, 2, "Out of memory");
    return nullptr;
  }
  ensureSkeleton(doc);
  xmlNodePtr html = xmlDocGetRootElement(doc);
  unwrapParagraphs(html);
  liftNestedItems(html);
  foldersToDefinitions(html);
  normaliseText(html);
  return std::make_shared<XmlDocument>(doc);
}

}  // namespace kesto::fnd
