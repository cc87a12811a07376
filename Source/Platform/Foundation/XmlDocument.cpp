#include "Platform/Foundation/XmlDocument.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/Libxml_p.h"
#include "Platform/Foundation/Strings.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <mutex>
#include <unordered_map>

namespace kesto::fnd {
namespace {

// libxml2 prints to stderr unless told otherwise; its handlers are per thread.
void silenceThread() {
  thread_local bool done = false;
  if (done) return;
  xmlSetGenericErrorFunc(nullptr, libxml::silentGeneric);
  xmlSetStructuredErrorFunc(nullptr, libxml::silentStructured);
  done = true;
}

std::string toString(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); }

std::string takeString(xmlChar* s) {
  std::string out = toString(s);
  if (s) xmlFree(s);
  return out;
}

xmlNodePtr asNode(void* p) { return static_cast<xmlNodePtr>(p); }

std::string qualifiedName(xmlNodePtr n) {
  std::string name = toString(n->name);
  if (n->ns && n->ns->prefix && (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE))
    return toString(n->ns->prefix) + ":" + name;
  return name;
}

// State of one parse: entity declarations stop it (no expansion can then blow up, and no
// external entity can be reached), and the first error is kept for the caller.
struct ParseState {
  bool refusedEntities = false;
  bool started = false;  // the document began (where a tree parse makes its document)
  std::string message;
  int line = 0;
};

void refuseEntity(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* st = static_cast<ParseState*>(ctxt->_private)) st->refusedEntities = true;
  xmlStopParser(ctxt);
}

void recordStart(void* ctx) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* st = static_cast<ParseState*>(ctxt->_private)) st->started = true;
}

void recordError(void* data, xmlErrorPtr err) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* st = ctxt ? static_cast<ParseState*>(ctxt->_private) : nullptr;
  if (!st || !err || err->level < XML_ERR_ERROR || !st->message.empty()) return;
  st->message = err->message ? err->message : "XML error";
  while (!st->message.empty() && (st->message.back() == '\n' || st->message.back() == ' ')) st->message.pop_back();
  st->line = err->line;
}

// Documents parsed from inputs this large carry kLargeDocumentMark; freeing one hands the
// allocator's free pages back to the system. Their many small nodes are allocated on whichever
// pool thread parsed them, and that thread's arena would otherwise keep hundreds of megabytes
// resident after the document is gone, once per thread that ever parsed a large reply.
constexpr std::size_t kLargeInputBytes = 8u * 1024 * 1024;
const char kLargeDocumentMark = 0;

// Trimming walks every arena and takes a few hundred milliseconds after a large document, so
// it runs in the background, and frees that come while one is pending share it.
void releaseFreedMemory() {
#ifdef __GLIBC__
  static std::atomic<bool> pending{false};
  if (pending.exchange(true)) return;
  DispatchQueue::global(DispatchQueue::Priority::Background).async([] {
    pending = false;
    malloc_trim(0);
  });
#endif
}

void setError(Error* error, long code, std::string message, int line = 0) {
  if (!error) return;
  if (line > 0) message += " (line " + std::to_string(line) + ")";
  *error = Error::withDescription(XmlDocument::kErrorDomain, code, std::move(message));
}

// Parses `bytes` into a libxml2 document. With `tree` false the same checks run with a SAX
// handler that builds nothing, and a well-formed input answers a null document and true.
bool parseXmlInto(std::string_view bytes, unsigned options, Error* error, std::size_t maxBytes, const char* encoding,
                  bool tree, xmlDocPtr* out) {
  *out = nullptr;
  if (bytes.size() > maxBytes || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    setError(error, XmlDocument::kRefusedInputError, "The document is too large to read.");
    return false;
  }
  if (bytes.empty()) {
    setError(error, XML_ERR_DOCUMENT_EMPTY, "Document is empty");
    return false;
  }
  libxml::initParser();
  silenceThread();
  // Bytes are fed to a push parser in slices straight from the caller's buffer: reading from
  // memory in one go would first copy the whole input, and the parser drops what it consumed.
  // Forced encodings keep the one-shot reader, whose override of the declaration is exact.
  const bool push = encoding == nullptr;
  const std::size_t head = std::min<std::size_t>(bytes.size(), 4);  // enough to see a byte-order mark
  // Without a tree only the callbacks that refuse entities and record errors are set.
  xmlSAXHandler checkOnly{};
  checkOnly.initialized = XML_SAX2_MAGIC;
  checkOnly.startDocument = recordStart;
  xmlParserCtxtPtr ctxt = push ? xmlCreatePushParserCtxt(tree ? nullptr : &checkOnly, nullptr, bytes.data(),
                                                         static_cast<int>(head), nullptr)
                               : xmlNewParserCtxt();
  if (!ctxt) {
    setError(error, XML_ERR_NO_MEMORY, "Out of memory");
    return false;
  }
  ParseState st;
  ctxt->_private = &st;
  ctxt->sax->entityDecl = refuseEntity;
  ctxt->sax->serror = recordError;
  // Small text nodes are stored inside the node itself: a reply of many short attribute
  // values would otherwise cost one extra allocation per value.
  int flags = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
  if (options & XmlDocument::HugeInput) flags |= XML_PARSE_HUGE;
  xmlDocPtr doc = nullptr;
  if (push) {
    xmlCtxtUseOptions(ctxt, flags);
    constexpr std::size_t kSlice = 256 * 1024;
    std::size_t at = head;
    do {
      const std::size_t n = std::min(kSlice, bytes.size() - at);
      const bool last = at + n == bytes.size();
      if (xmlParseChunk(ctxt, bytes.data() + at, static_cast<int>(n), last ? 1 : 0) != 0 && !ctxt->wellFormed) break;
      at += n;
    } while (at < bytes.size() && !st.refusedEntities);
    doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
  } else {
    doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding, flags);
  }
  const bool wellFormed = ctxt->wellFormed != 0;
  xmlFreeParserCtxt(ctxt);
  if (st.refusedEntities || !wellFormed || (tree ? !doc : !st.started)) {
    if (doc) xmlFreeDoc(doc);
    if (st.refusedEntities)
      setError(error, XmlDocument::kRefusedInputError, "Entity declarations are not accepted.");
    else
      setError(error, XML_ERR_DOCUMENT_END, st.message.empty() ? "The document is not well-formed." : st.message,
               st.line);
    return false;
  }
  if (doc && bytes.size() >= kLargeInputBytes) doc->_private = const_cast<char*>(&kLargeDocumentMark);
  *out = doc;
  return true;
}

std::shared_ptr<XmlDocument> parseXml(std::string_view bytes, unsigned options, Error* error, std::size_t maxBytes,
                                      const char* encoding) {
  xmlDocPtr doc = nullptr;
  if (!parseXmlInto(bytes, options, error, maxBytes, encoding, true, &doc)) return nullptr;
  return std::make_shared<XmlDocument>(doc);
}

// Compiled expressions, per thread because libxml2 does not promise that one compiled
// expression may be evaluated on two threads at once.
// libxml2 stops a step early only when its sole predicate is a position, so "E[1][self::x]"
// (the next-sibling test of bookmark readers) walks every following sibling of every item,
// which is quadratic in the length of a list. "E[1]/self::x" selects the same nodes and stops
// at the first. Expressions holding string literals are left alone.
std::string fasterForm(std::string expr) {
  if (expr.find_first_of("'\"") != std::string::npos) return expr;
  static const std::string from = "[1][self::", to = "[1]/self::";
  for (std::size_t at = expr.find(from); at != std::string::npos; at = expr.find(from, at + to.size())) {
    // Only a plain name test may follow, closed by the bracket that is then dropped.
    std::size_t end = at + from.size();
    while (end < expr.size() && (isAsciiLetterOrDigit(expr[end]) || expr[end] == '-' ||
                                 expr[end] == '_' || expr[end] == '*' || expr[end] == ':' || expr[end] == '.'))
      ++end;
    if (end >= expr.size() || expr[end] != ']' || end == at + from.size()) continue;
    expr.erase(end, 1);
    expr.replace(at, from.size(), to);
  }
  return expr;
}

class XPathCache {
 public:
  ~XPathCache() { clear(); }
  xmlXPathCompExprPtr get(std::string_view expr) {
    auto it = map_.find(std::string(expr));
    if (it != map_.end()) return it->second;
    if (map_.size() >= 512) clear();  // generated expressions must not grow the cache forever
    const std::string key(expr);
    const std::string compiled = fasterForm(key);
    xmlXPathCompExprPtr comp = xmlXPathCompile(reinterpret_cast<const xmlChar*>(compiled.c_str()));
    if (comp) map_.emplace(key, comp);
    return comp;
  }

 private:
  void clear() {
    for (auto& [k, c] : map_) xmlXPathFreeCompExpr(c);
    map_.clear();
  }
  std::unordered_map<std::string, xmlXPathCompExprPtr> map_;
};

xmlXPathObjectPtr evaluate(xmlNodePtr node, std::string_view xpath, Error* error) {
  if (!node || !node->doc) return nullptr;
  libxml::initParser();
  silenceThread();
  thread_local XPathCache cache;
  xmlXPathCompExprPtr comp = xpath.find('\0') == std::string_view::npos ? cache.get(xpath) : nullptr;
  if (!comp) {
    setError(error, XML_XPATH_EXPR_ERROR, "Invalid XPath expression: " + std::string(xpath));
    return nullptr;
  }
  xmlXPathContextPtr ctx = xmlXPathNewContext(node->doc);
  if (!ctx) return nullptr;
  ctx->node = node;
  xmlXPathObjectPtr result = xmlXPathCompiledEval(comp, ctx);
  xmlXPathFreeContext(ctx);
  if (!result) setError(error, XML_XPATH_EXPR_ERROR, "XPath evaluation failed: " + std::string(xpath));
  return result;
}

}  // namespace

// ---- XmlNode

XmlNode::Kind XmlNode::kind() const {
  if (!node_) return Kind::Invalid;
  switch (asNode(node_)->type) {
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return Kind::Document;
    case XML_ELEMENT_NODE: return Kind::Element;
    case XML_ATTRIBUTE_NODE: return Kind::Attribute;
    case XML_TEXT_NODE: return Kind::Text;
    case XML_CDATA_SECTION_NODE: return Kind::CData;
    case XML_COMMENT_NODE: return Kind::Comment;
    case XML_PI_NODE: return Kind::ProcessingInstruction;
    default: return Kind::Other;
  }
}

std::string XmlNode::name() const {
  if (!node_) return {};
  const xmlNodePtr n = asNode(node_);
  if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE || n->type == XML_PI_NODE) return qualifiedName(n);
  return {};
}

std::string XmlNode::stringValue() const {
  if (!node_) return {};
  return takeString(xmlNodeGetContent(asNode(node_)));
}

std::optional<std::string> XmlNode::attribute(std::string_view name) const {
  if (!node_ || asNode(node_)->type != XML_ELEMENT_NODE) return std::nullopt;
  for (xmlAttrPtr a = asNode(node_)->properties; a; a = a->next) {
    if (qualifiedName(reinterpret_cast<xmlNodePtr>(a)) == name)
      return takeString(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a)));
  }
  return std::nullopt;
}

bool XmlNode::hasAttribute(std::string_view name) const { return attribute(name).has_value(); }

std::vector<XmlNode> XmlNode::attributes() const {
  std::vector<XmlNode> out;
  if (!node_ || asNode(node_)->type != XML_ELEMENT_NODE) return out;
  for (xmlAttrPtr a = asNode(node_)->properties; a; a = a->next) out.push_back(XmlNode(owner_, a));
  return out;
}

XmlNode XmlNode::parent() const {
  if (!node_ || !asNode(node_)->parent) return {};
  return XmlNode(owner_, asNode(node_)->parent);
}

XmlNode XmlNode::firstChild() const {
  if (!node_ || asNode(node_)->type == XML_ATTRIBUTE_NODE) {
    // An attribute's children are its value's text; the platform shows none.
    return {};
  }
  return asNode(node_)->children ? XmlNode(owner_, asNode(node_)->children) : XmlNode();
}

XmlNode XmlNode::nextSibling() const {
  if (!node_ || !asNode(node_)->next) return {};
  return XmlNode(owner_, asNode(node_)->next);
}

XmlNode XmlNode::previousSibling() const {
  if (!node_ || !asNode(node_)->prev) return {};
  return XmlNode(owner_, asNode(node_)->prev);
}

std::vector<XmlNode> XmlNode::children() const {
  std::vector<XmlNode> out;
  for (XmlNode c = firstChild(); c; c = c.nextSibling()) out.push_back(c);
  return out;
}

std::vector<XmlNode> XmlNode::elementChildren(std::string_view name) const {
  std::vector<XmlNode> out;
  for (XmlNode c = firstChild(); c; c = c.nextSibling())
    if (asNode(c.node_)->type == XML_ELEMENT_NODE && (name.empty() || c.name() == name)) out.push_back(c);
  return out;
}

std::vector<XmlNode> XmlNode::nodesForXPath(std::string_view xpath, Error* error) const {
  std::vector<XmlNode> out;
  xmlXPathObjectPtr r = evaluate(asNode(node_), xpath, error);
  if (!r) return out;
  if (r->type == XPATH_NODESET && r->nodesetval) {
    for (int i = 0; i < r->nodesetval->nodeNr; ++i) {
      xmlNodePtr n = r->nodesetval->nodeTab[i];
      if (n && n->type != XML_NAMESPACE_DECL) out.push_back(XmlNode(owner_, n));
    }
  }
  xmlXPathFreeObject(r);
  return out;
}

XmlNode XmlNode::firstNodeForXPath(std::string_view xpath, Error* error) const {
  auto nodes = nodesForXPath(xpath, error);
  return nodes.empty() ? XmlNode() : nodes.front();
}

Value XmlNode::valueForXPath(std::string_view xpath, Error* error) const {
  xmlXPathObjectPtr r = evaluate(asNode(node_), xpath, error);
  if (!r) return {};
  Value v;
  switch (r->type) {
    case XPATH_BOOLEAN: v = Value(r->boolval != 0); break;
    case XPATH_NUMBER: v = Value(r->floatval); break;
    case XPATH_STRING: v = Value(toString(r->stringval)); break;
    case XPATH_NODESET:
      v = Value((r->nodesetval && r->nodesetval->nodeNr > 0)
                    ? takeString(xmlNodeGetContent(r->nodesetval->nodeTab[0]))
                    : std::string());
      break;
    default: break;
  }
  xmlXPathFreeObject(r);
  return v;
}

std::string XmlNode::xmlString() const {
  if (!node_) return {};
  xmlNodePtr n = asNode(node_);
  if (n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE) {
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(reinterpret_cast<xmlDocPtr>(n), &mem, &size, "UTF-8");
    std::string out = mem ? std::string(reinterpret_cast<char*>(mem), static_cast<std::size_t>(size)) : std::string();
    if (mem) xmlFree(mem);
    return out;
  }
  xmlBufferPtr buf = xmlBufferCreate();
  if (!buf) return {};
  xmlNodeDump(buf, n->doc, n, 0, 0);
  std::string out = toString(xmlBufferContent(buf));
  xmlBufferFree(buf);
  return out;
}

long XmlNode::line() const { return node_ ? std::max(0L, xmlGetLineNo(asNode(node_))) : 0; }

// ---- XmlDocument

namespace {

std::shared_ptr<void> holdDocument(void* xmlDoc) {
  return std::shared_ptr<void>(xmlDoc, [](void* d) {
    if (!d) return;
    auto* doc = static_cast<xmlDocPtr>(d);
    const bool large = doc->_private == &kLargeDocumentMark;
    xmlFreeDoc(doc);
    if (large) releaseFreedMemory();
  });
}

}  // namespace

struct XmlDocument::Deferred {
  std::string bytes;
  unsigned options = 0;
  std::once_flag built;
};

XmlDocument::XmlDocument(void* xmlDoc) : doc_(holdDocument(xmlDoc)) {}

XmlDocument::XmlDocument(std::shared_ptr<Deferred> deferred) : deferred_(std::move(deferred)) {}

const std::shared_ptr<void>& XmlDocument::tree() const {
  if (deferred_) {
    std::call_once(deferred_->built, [this] {
      xmlDocPtr doc = nullptr;
      // The bytes passed the same checks already; only running out of memory can fail here.
      if (parseXmlInto(deferred_->bytes, deferred_->options, nullptr, SIZE_MAX, nullptr, true, &doc))
        doc_ = holdDocument(doc);
      std::string().swap(deferred_->bytes);
    });
  }
  return doc_;
}

std::shared_ptr<XmlDocument> XmlDocument::parseDeferringTree(const Data& bytes, unsigned options, Error* error) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (options & TidyHTML) return parse(view, options, error);
  xmlDocPtr none = nullptr;
  if (!parseXmlInto(view, options, error, kDefaultMaxInputBytes, nullptr, false, &none)) return nullptr;
  auto deferred = std::make_shared<Deferred>();
  deferred->bytes.assign(view);
  deferred->options = options;
  return std::shared_ptr<XmlDocument>(new XmlDocument(std::move(deferred)));
}

std::shared_ptr<XmlDocument> XmlDocument::parse(std::string_view bytes, unsigned options, Error* error,
                                                std::size_t maxInputBytes) {
  if (options & TidyHTML) return HtmlDocument::parse(bytes, error, maxInputBytes);
  return parseXml(bytes, options, error, maxInputBytes, nullptr);
}

std::shared_ptr<XmlDocument> XmlDocument::parse(const Data& bytes, unsigned options, Error* error) {
  return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), options, error);
}

std::shared_ptr<XmlDocument> XmlDocument::parseString(std::string_view utf8Text, unsigned options, Error* error) {
  if (options & TidyHTML) return HtmlDocument::parse(utf8Text, error);
  // A UTF-8 byte-order mark would contradict nothing, but skip it so the override is clean.
  if (utf8Text.substr(0, 3) == "\xEF\xBB\xBF") utf8Text.remove_prefix(3);
  return parseXml(utf8Text, options, error, kDefaultMaxInputBytes, "UTF-8");
}

XmlNode XmlDocument::documentNode() const {
  const auto& doc = tree();
  return doc ? XmlNode(doc, doc.get()) : XmlNode();
}

XmlNode XmlDocument::rootElement() const {
  const auto& doc = tree();
  xmlNodePtr root = doc ? xmlDocGetRootElement(static_cast<xmlDocPtr>(doc.get())) : nullptr;
  return root ? XmlNode(doc, root) : XmlNode();
}

std::vector<XmlNode> XmlDocument::nodesForXPath(std::string_view xpath, Error* error) const {
  return documentNode().nodesForXPath(xpath, error);
}

XmlNode XmlDocument::firstNodeForXPath(std::string_view xpath, Error* error) const {
  return documentNode().firstNodeForXPath(xpath, error);
}

std::string XmlDocument::xmlString() const { return documentNode().xmlString(); }

std::string XmlDocument::description() const {
  const XmlNode root = rootElement();
  return "<XmlDocument root=" + (root ? root.name() : std::string("none")) + ">";
}

}  // namespace kesto::fnd
