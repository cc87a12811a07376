#include "Platform/Foundation/HtmlDocument.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Libxml_p.h"
#include "Platform/Foundation/Strings.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/encoding.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

// The charset to read with: a byte-order mark wins, then a <meta> declaration near the top,
// then UTF-8 (libxml2 would otherwise assume Latin-1).
std::string detectEncoding(std::string_view bytes, std::size_t* skip) {
  *skip = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *skip = 3;
    return "UTF-8";
  }
  if (bytes.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
  if (bytes.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
  std::string head(bytes.substr(0, 4096));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 5)) {
    const std::size_t end = head.find('>', at);
    const std::size_t cs = head.find("charset", at);
    if (cs == std::string::npos || (end != std::string::npos && cs > end)) continue;
    std::size_t i = cs + 7;
    while (i < head.size() && (head[i] == ' ' || head[i] == '=' || head[i] == '"' || head[i] == '\'')) ++i;
    std::size_t j = i;
    while (j < head.size() && (std::isalnum(static_cast<unsigned char>(head[j])) || head[j] == '-' ||
                               head[j] == '_' || head[j] == ':' || head[j] == '.'))
      ++j;
    std::string name = head.substr(i, j - i);
    // A page that says UTF-16 but has no byte-order mark is really in an ASCII-compatible form.
    if (name.empty() || name.rfind("utf-16", 0) == 0 || name.rfind("utf-32", 0) == 0) break;
    if (xmlCharEncodingHandlerPtr h = xmlFindCharEncodingHandler(name.c_str())) {
      xmlCharEncCloseFunc(h);
      return name;
    }
    break;
  }
  return "UTF-8";
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
// Comments, quoted attribute values and script or style contents are copied untouched. The
// input is in an ASCII-compatible encoding, where '<' never appears inside a multi-byte
// character. The text may come in pieces: what a piece ends in the middle of is carried over.
class ItemCloser {
 public:
  explicit ItemCloser(bool closeAnyDescriptionBeforeList) : closeAll_(closeAnyDescriptionBeforeList) {
    levels_.emplace_back();
  }

  void feed(std::string_view in, std::string& out) {
    std::size_t i = 0;
    const std::size_t n = in.size();
    while (i < n) {
      switch (state_) {
        case State::Text: {
          const void* lt = std::memchr(in.data() + i, '<', n - i);
          if (!lt) {
            out.append(in.substr(i));
            return;
          }
          const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lt) - in.data());
          out.append(in.substr(i, at - i));
          head_.assign(1, '<');
          state_ = State::TagHead;
          i = at + 1;
          break;
        }
        case State::TagHead:
          head_ += in[i++];
          if (decideHead(false, out)) {
            // What followed the tag's name goes through again in its new state.
            std::string rest = std::move(pending_);
            pending_.clear();
            feed(rest, out);
          }
          break;
        case State::InTag: {
          const char c = in[i];
          if (!dropping_ && (!reference_.empty() || c == '&') && takeReference(c, out)) {
            if (!quote_) lastSignificant_ = c;
            ++i;
            break;
          }
          ++i;
          if (!dropping_) out += c;
          if (quote_) {
            if (c == quote_) quote_ = 0;
          } else if ((c == '"' || c == '\'') && lastSignificant_ == '=') {
            quote_ = c;
            lastSignificant_ = c;
          } else if (c == '>') {
            endTag();
          } else if (!std::isspace(static_cast<unsigned char>(c))) {
            lastSignificant_ = c;
          }
          break;
        }
        case State::Comment: {
          const char c = in[i++];
          out += c;
          if (c == '-') {
            ++dashes_;
          } else {
            if (c == '>' && dashes_ >= 2) state_ = State::Text;
            dashes_ = 0;
          }
          break;
        }
        case State::Raw: {
          const char c = in[i++];
          out += c;
          const char want = rawEnd_[matched_];
          const char got = matched_ < 2 ? c : lower(c);
          if (got == want) {
            if (++matched_ == rawEnd_.size()) startTagBody(true, rawEnd_.substr(2));
          } else {
            matched_ = c == '<' ? 1 : 0;
          }
          break;
        }
      }
    }
  }

  void finish(std::string& out) {
    if (!reference_.empty()) {
      out += resolvedReference(false);
      reference_.clear();
    }
    if (state_ == State::TagHead) {
      decideHead(true, out);
      std::string rest = std::move(pending_);
      pending_.clear();
      if (!rest.empty()) feed(rest, out);
    }
  }

 private:
  enum class State { Text, TagHead, InTag, Comment, Raw };
  struct Level {
    bool dtOpen = false;
    bool ddOpen = false;
    bool ddHeading = false;
  };
  static char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
  static bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

  // Decides what the text after a '<' is, once enough of it has come (or the input ended).
  // Answers true when decided; bytes to read again are left in pending_.
  bool decideHead(bool atEnd, std::string& out) {
    static constexpr std::string_view kComment = "<!--";
    if (head_.size() < kComment.size() && kComment.substr(0, head_.size()) == head_ && !atEnd) return false;
    if (head_ == kComment) {
      out += head_;
      state_ = State::Comment;
      dashes_ = 0;
      return true;
    }
    std::size_t j = 1;
    if (head_.size() < 2 && !atEnd) return false;
    const bool closing = head_.size() > 1 && head_[1] == '/';
    if (closing) ++j;
    std::size_t k = j;
    while (k < head_.size() && isAlnum(head_[k])) ++k;
    // Longer names are none of those that matter here; their ends need not be waited for.
    constexpr std::size_t kLongestName = 6;
    const bool terminated = k < head_.size();
    if (!terminated && !atEnd && k - j <= kLongestName) return false;
    if (k == j) {  // not a tag: a lone '<', a declaration or a processing instruction
      out += '<';
      pending_ = head_.substr(1);
      state_ = State::Text;
      return true;
    }
    std::string name = head_.substr(j, k - j);
    std::transform(name.begin(), name.end(), name.begin(), lower);
    Level& level = levels_.back();
    bool drop = false;
    if (closing) {
      if (name == "dt") {
        drop = !level.dtOpen;
        level.dtOpen = false;
      } else if (name == "dd") {
        drop = !level.ddOpen;
        level.ddOpen = false;
      } else if (name == "dl") {
        drop = levels_.size() == 1;
        if (!drop) levels_.pop_back();
      }
    } else if (name == "dt" || name == "dd") {
      closeItems(level, true, out);
      level = Level{name == "dt", name == "dd", false};
    } else if (name == "h3") {
      level.ddHeading = level.ddOpen;
    } else if (name == "dl") {
      closeItems(level, closeAll_ || !level.ddHeading, out);
      levels_.emplace_back();
    }
    if (!drop) out.append(head_, 0, k);
    pending_ = head_.substr(k);
    startTagBody(closing, name);
    dropping_ = drop;
    return true;
  }

  // Character references inside tags (attribute values) go to the parser as a browser reads
  // them where libxml2 reads them otherwise: one naming a control character, or no character at
  // all, would end the value there (so "&#1;javascript:..." would read as no address), and the
  // names HTML gained later (&colon;, &Tab; ...) would stay as written. A control character goes
  // as itself, no character as U+FFFD, a later name as the numeric reference libxml2 knows.
  // Answers whether `c` was taken (into the reference, or as the ';' ending it).
  bool takeReference(char c, std::string& out) {
    if (!reference_.empty()) {
      const auto u = static_cast<unsigned char>(c);
      const bool numeric = reference_.size() > 1 && reference_[1] == '#';
      const bool hex = numeric && reference_.size() > 2 && (reference_[2] | 0x20) == 'x';
      const bool part = reference_.size() == 1                ? c == '#' || std::isalpha(u)
                        : numeric && reference_.size() == 2 ? (c | 0x20) == 'x' || std::isdigit(u)
                        : hex                               ? std::isxdigit(u) != 0
                        : numeric                           ? std::isdigit(u) != 0
                                                            : isAlnum(c);
      if (part && reference_.size() < kLongestReference) {
        reference_ += c;
        return true;
      }
      out += resolvedReference(c == ';');
      reference_.clear();
      if (c == ';') return true;
    }
    if (c != '&') return false;
    reference_ = "&";
    return true;
  }

  std::string resolvedReference(bool semicolon) const {
    std::string written = reference_ + (semicolon ? ";" : "");
    if (reference_.size() > 1 && reference_[1] == '#') {
      const bool hex = reference_.size() > 2 && (reference_[2] | 0x20) == 'x';
      const std::size_t first = hex ? 3 : 2;
      if (reference_.size() == first || reference_.size() >= kLongestReference) return written;
      unsigned long value = 0;
      for (std::size_t k = first; k < reference_.size(); ++k) {
        const char d = reference_[k];
        const auto digit = static_cast<unsigned long>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
        value = std::min(value * (hex ? 16 : 10) + digit, 0x110000ul);
      }
      if ((value >= 1 && value <= 8) || value == 0x0B || value == 0x0C || (value >= 0x0E && value <= 0x1F))
        return std::string(1, static_cast<char>(value));
      if (value == 0 || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF || value == 0xFFFE || value == 0xFFFF)
        return "&#xFFFD;";
      return written;
    }
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
    const std::string_view name = std::string_view(reference_).substr(1);
    for (const auto& [later, code] : kLaterNames)
      if (name == later) return "&#" + std::to_string(code) + ";";
    return written;
  }

  // Ends the open DT of `level`, and its open DD when `description` says so.
  static void closeItems(Level& level, bool description, std::string& out) {
    if (level.dtOpen) out += "</dt>";
    level.dtOpen = false;
    if (level.ddOpen && description) {
      out += "</dd>";
      level.ddOpen = false;
    }
  }

  void startTagBody(bool closing, std::string_view name) {
    state_ = State::InTag;
    quote_ = 0;
    lastSignificant_ = 0;
    closing_ = closing;
    rawName_ = !closing && (name == "script" || name == "style") ? std::string(name) : std::string();
  }

  void endTag() {
    state_ = State::Text;
    dropping_ = false;
    if (!rawName_.empty()) {
      rawEnd_ = "</" + rawName_;
      matched_ = 0;
      state_ = State::Raw;
    }
  }

  bool closeAll_;
  State state_ = State::Text;
  std::string head_, pending_;
  char quote_ = 0, lastSignificant_ = 0;
  bool closing_ = false;
  int dashes_ = 0;
  std::string rawName_, rawEnd_;
  std::size_t matched_ = 0;
  bool dropping_ = false;  // an end tag that closes nothing: left out
  // A character reference in a tag, from its "&", while it lasts; longer ones go as written.
  static constexpr std::size_t kLongestReference = 32;
  std::string reference_;
  std::vector<Level> levels_;
};

std::string closeOpenItems(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 16);
  ItemCloser closer(false);
  closer.feed(in, out);
  closer.finish(out);
  return out;
}

// UTF-16 input becomes UTF-8, so that the item pass above can work on it.
std::string utf16ToUtf8(std::string_view bytes, bool littleEndian) {
  QStringDecoder decoder(littleEndian ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
  const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return text.toStdString();
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

constexpr int kHtmlOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;

// The bytes on their way to the parser: charset, NUL bytes, the item repairs.
class StreamPipeline {
 public:
  StreamPipeline(const HtmlStreamReader::Source& source, std::string head, bool utf16LittleEndian, bool utf16,
                 bool closeAll)
      : source_(source), head_(std::move(head)), closer_(closeAll && !utf16) {
    if (utf16) decoder_.emplace(utf16LittleEndian ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
  }

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
    const std::size_t n = std::min(self->out_.size() - self->at_, static_cast<std::size_t>(size));
    std::memcpy(buffer, self->out_.data() + self->at_, n);
    self->at_ += n;
    if (self->at_ == self->out_.size()) self->out_.clear(), self->at_ = 0;
    return static_cast<int>(n);
  }

  HtmlStreamReader::Result result;

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
    if (chunk.empty()) {
      if (decoder_) push(QString(decoder_->decode(QByteArrayView())).toStdString());
      closer_.finish(out_);
      ended_ = true;
      return;
    }
    if (decoder_) {
      push(QString(decoder_->decode(QByteArrayView(chunk.data(), static_cast<qsizetype>(chunk.size())))).toStdString());
    } else {
      block_.resize(chunk.size());
      push(block_);
    }
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
  void push(std::string&& text) { push(text); }

  const HtmlStreamReader::Source& source_;
  std::string head_;
  std::optional<QStringDecoder> decoder_;
  ItemCloser closer_;
  std::string block_, out_;
  std::size_t at_ = 0;
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
  std::string encoding = detectEncoding(head, &skip);
  const bool utf16 = encoding == "UTF-16LE" || encoding == "UTF-16BE";
  if (utf16) skip = 2;
  StreamPipeline pipeline(source, head.substr(std::min(skip, head.size())), encoding == "UTF-16LE", utf16,
                          options.closeDescriptionBeforeList);
  pipeline.result.bytesRead = got;
  if (utf16) encoding = "UTF-8";

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
  htmlDocPtr doc = htmlCtxtReadIO(ctxt, &StreamPipeline::read, nullptr, &pipeline, nullptr, encoding.c_str(),
                                  kHtmlOptions);
  if (doc) xmlFreeDoc(doc);
  htmlFreeParserCtxt(ctxt);
  return pipeline.result;
}

HtmlStreamReader::Result HtmlStreamReader::read(std::string_view bytes, HtmlStreamHandler& handler,
                                                const Options& options) {
  std::size_t at = 0;
  return read(
      [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
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

  std::size_t skip = 0;
  std::string encoding = detectEncoding(bytes, &skip);
  bytes.remove_prefix(skip);
  std::string text;
  if (encoding == "UTF-16LE" || encoding == "UTF-16BE") {
    text = closeOpenItems(utf16ToUtf8(bytes.substr(2), encoding == "UTF-16LE"));
    encoding = "UTF-8";
  } else {
    text = closeOpenItems(bytes);
  }
  xmlDocPtr doc = nullptr;
  if (!text.empty() && text.size() <= static_cast<std::size_t>(INT32_MAX)) {
    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    if (ctxt) {
      ctxt->sax->serror = libxml::silentStructured;
      doc = htmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), nullptr, encoding.c_str(),
                               kHtmlOptions);
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
