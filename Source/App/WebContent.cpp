#include "App/WebContent.h"

#include "Model/Bookmark.h"
#include "Model/StringAdditions.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/UI/Image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kesto {

namespace {

constexpr double kPageTimeout = 30.0;
constexpr double kReachabilityTimeout = 10.0;
constexpr double kReachabilityMemory = 30.0;
constexpr std::size_t kMaximumTitleBytes = 64 * 1024;

bool isWebAddress(const net::URL& url) { return url.scheme() == "http" || url.scheme() == "https"; }

std::int64_t pinFlag(const fnd::Dictionary& d, const char* key) {
  auto it = d.find(key);
  return it != d.end() && it->second.isNumber() ? it->second.intValue() : 0;
}

std::optional<std::string> pinText(const fnd::Dictionary& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end() || !it->second.isString()) return std::nullopt;
  return it->second.string();
}

// One body over the shared network thread: only http and https, redirects included; at most
// `cap` bytes. `done` runs once, on the network thread.
struct BodyFetch : net::URLConnectionDelegate {
  struct Result {
    bool failed = false;
    int status = 0;
    std::optional<std::string> charset;
    std::string body;
  };
  using Done = std::function<void(Result)>;

  BodyFetch(std::size_t cap, bool keepPrefixOverCap, Done done)
      : cap_(cap), keepPrefix_(keepPrefixOverCap), done_(std::move(done)) {}

  static void start(const net::URL& url, double timeout, std::size_t cap, bool keepPrefixOverCap, Done done) {
    auto fetch = std::make_shared<BodyFetch>(cap, keepPrefixOverCap, std::move(done));
    net::URLConnection::make(net::URLRequest(url, timeout), fetch)->start();
  }

  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::HTTPURLResponse*) override {
    // A redirect to a file or any other scheme is not followed: its reply is the answer.
    if (!isWebAddress(request.url())) return std::nullopt;
    return request;
  }
  void connectionDidReceiveResponse(net::URLConnection&, std::shared_ptr<const net::URLResponse> response) override {
    result_.body.clear();
    result_.charset = response->textEncodingName();
    if (auto http = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response)) result_.status = http->statusCode();
  }
  void connectionDidReceiveData(net::URLConnection& connection, const std::uint8_t* bytes, std::size_t length) override {
    if (!done_) return;
    const std::size_t room = cap_ - result_.body.size();
    result_.body.append(reinterpret_cast<const char*>(bytes), std::min(length, room));
    if (length <= room) return;
    connection.cancel();
    complete(!keepPrefix_);
  }
  void connectionDidFinishLoading(net::URLConnection&) override { complete(false); }
  void connectionDidFailWithError(net::URLConnection&, const fnd::Error&) override { complete(true); }

 private:
  void complete(bool failed) {
    if (!done_) return;
    auto done = std::move(done_);
    done_ = nullptr;
    result_.failed = failed;
    if (failed) result_.body.clear();
    done(std::move(result_));
  }
  std::size_t cap_;
  bool keepPrefix_;
  Done done_;
  Result result_;
};

// Reads title, meta title and icon link from the head, in document order; nothing past it.
struct HeadReader : fnd::HtmlStreamHandler {
  PageHead head;
  std::vector<std::string> open;
  bool inTitle = false, titleDone = false, headDone = false;
  std::string titleText;

  bool inHead() const { return open.size() == 2 && open[0] == "html" && open[1] == "head"; }

  void startElement(std::string_view name, const std::vector<Attribute>& attributes) override {
    if (headDone) return;
    if (inHead()) {
      if (name == "title" && !titleDone) inTitle = true;
      if (name == "meta" && !head.metaTitle) head.metaTitle = attributeAfter(attributes, {"description"}, "title");
      if (name == "link" && !head.faviconLink)
        head.faviconLink = attributeAfter(attributes, {"shortcut icon", "icon"}, "href");
    }
    open.emplace_back(name);
  }
  void endElement(std::string_view name) override {
    if (headDone) return;
    if (inTitle && name == "title") {
      inTitle = false;
      titleDone = true;
      head.title = titleText;
    }
    if (!open.empty()) open.pop_back();
    if (name == "head") headDone = true;
  }
  void text(std::string_view t) override {
    if (inTitle && titleText.size() < kMaximumTitleBytes * 2) titleText.append(t);
  }
  void rawText(std::string_view t) override { text(t); }
  void otherNode(std::string_view) override {}

  // Once an attribute with one of `values` has been met, the first attribute from there on
  // (that one included) named `wanted`.
  static std::optional<std::string> attributeAfter(const std::vector<Attribute>& attributes,
                                                   std::initializer_list<std::string_view> values,
                                                   std::string_view wanted) {
    bool met = false;
    for (const auto& a : attributes) {
      if (!met) met = std::find(values.begin(), values.end(), a.value) != values.end();
      if (met && a.name == wanted) return std::string(a.value);
    }
    return std::nullopt;
  }
};

// Reachability answers, main thread only.
struct ReachabilityAnswer {
  std::optional<bool> answer;
  fnd::Date askedAt;
  bool asking = false;
  std::vector<std::function<void(bool)>> waiting;
};
ReachabilityAnswer& reachability() {
  static ReachabilityAnswer r;
  return r;
}

}  // namespace

// ---- creation and escapes ----

WebContent::WebContent(const fnd::Dictionary& bookmark, bool alsoFetchImage, bool isSingle)
    : pin_(bookmark), shouldFetchImage_(alsoFetchImage), isSingleUpdate_(isSingle) {
  // The job never needs the pictures or the text; 1,000 jobs would hold every blob.
  pin_.erase("thumbnail");
  pin_.erase("content");
  uniqueID_ = pinText(pin_, "uniqueID").value_or(std::string());
  tempURL_ = pinText(pin_, "url").value_or(std::string());
  oldTitle_ = pinText(pin_, "title");
  titleUpdated_ = pinFlag(pin_, "titleUpdated");
  imageUpdated_ = pinFlag(pin_, "imageUpdated");
  needsUpdate_ = pinFlag(pin_, "needsUpdate");
  thumbnailManuallySet_ = pinFlag(pin_, "thumbnailManuallySet");
  if (!oldTitle_ || oldTitle_->empty() || *oldTitle_ == " " || *oldTitle_ == kNoServerTitle) titleUpdated_ = 0;
  if (auto parsed = net::URL::fromString(tempURL_); parsed && !parsed->host().empty()) hostIfNoTitle_ = parsed->host();
}

std::string WebContent::repairEscapes(std::string s) {
  brightwren::replaceString(s, "%23", "#");
  brightwren::replaceString(s, "%25", "%");
  brightwren::replaceString(s, "%E0", "\xC3\xA0");
  return s;
}

// ---- reading the page ----

namespace {

// A charset a page may be read in. UTF-7 is none: browsers never read pages in it (the same
// bytes read as markup in one and as text in the other), so a page declaring it is read by the
// next rule, as in a browser.
bool isPageCharset(std::string_view name) {
  if (name.empty() || !fnd::isKnownCharset(name)) return false;
  std::string lower;
  for (char c : name)
    if (c != '-' && c != '_') lower += fnd::asciiLowercase(c);
  return lower != "utf7" && lower != "unicode11utf7" && lower != "csunicode11utf7" && lower != "unicode20utf7";
}

std::optional<std::string> decodeCut(std::string_view body, const std::string& charset) {
  std::optional<std::string> decoded = fnd::decodeText(body, charset);
  // A body cut at the size limit may end inside a character.
  for (std::size_t cut = 1; !decoded && cut <= 3 && cut < body.size(); ++cut)
    decoded = fnd::decodeText(body.substr(0, body.size() - cut), charset);
  return decoded;
}

}  // namespace

std::optional<std::string> WebContent::decodePage(std::string_view body,
                                                  const std::optional<std::string>& replyCharset) {
  // The reply's charset, then the page's own declaration, then UTF-8: a charset that cannot be
  // used, or that the bytes are not valid in, gives way to the next rule, so the title is not
  // lost to a wrong label.
  std::vector<std::string> rules;
  if (replyCharset && isPageCharset(*replyCharset)) rules.push_back(*replyCharset);
  if (std::string declared = fnd::HtmlDocument::declaredCharset(body); isPageCharset(declared)) rules.push_back(declared);
  rules.push_back("UTF-8");
  std::optional<std::string> decoded;
  for (std::size_t i = 0; !decoded && i < rules.size(); ++i)
    if (i == 0 || rules[i] != rules[i - 1]) decoded = decodeCut(body, rules[i]);
  if (decoded && decoded->rfind("\xEF\xBB\xBF", 0) == 0) decoded->erase(0, 3);
  return decoded;
}

PageHead WebContent::readPageHead(std::string_view page) {
  HeadReader reader;
  // The text is UTF-8 already: the byte-order mark keeps the reader from decoding it again by
  // the page's own <meta> declaration.
  const std::string bom = "\xEF\xBB\xBF";
  std::size_t at = 0;
  const std::size_t total = bom.size() + page.size();
  fnd::HtmlStreamReader::read(
      [&](char* buffer, std::size_t size) -> std::size_t {
        if (reader.headDone || at >= total) return 0;
        std::size_t n = 0;
        while (n < size && at < total) {
          if (at < bom.size()) {
            buffer[n++] = bom[at++];
            continue;
          }
          const std::size_t take = std::min(size - n, total - at);
          std::memcpy(buffer + n, page.data() + (at - bom.size()), take);
          n += take;
          at += take;
        }
        return n;
      },
      reader, {});
  if (!reader.titleDone && reader.inTitle) reader.head.title = reader.titleText;
  if (reader.head.title) reader.head.title = storableTitle(*reader.head.title);
  if (reader.head.metaTitle) reader.head.metaTitle = storableTitle(*reader.head.metaTitle);
  return reader.head;
}

std::optional<std::string> WebContent::extractTitleFromContent(std::string_view page) const {
  PageHead head = readPageHead(page);
  if (head.title) return head.title;
  return head.metaTitle ? head.metaTitle : hostIfNoTitle_;
}

std::optional<std::string> WebContent::findTitleFromMetaInContent(std::string_view page) const {
  PageHead head = readPageHead(page);
  return head.metaTitle ? head.metaTitle : hostIfNoTitle_;
}

std::optional<std::string> WebContent::extractFaviconURLFromContent(std::string_view page) {
  return readPageHead(page).faviconLink;
}

std::optional<std::string> WebContent::faviconAddress(const std::string& pageURL, const std::optional<std::string>& link) {
  auto site = net::URL::fromString(brightwren::stringWithFirstURLComponent(pageURL));
  if (!site || !isWebAddress(*site)) return std::nullopt;
  auto address = net::URL::fromString(link && !link->empty() ? *link : std::string("favicon.ico"), *site);
  if (!address || !isWebAddress(*address) || address->host().empty()) return std::nullopt;
  return address->absoluteString();
}

std::string WebContent::storableTitle(std::string_view title) {
  std::string out;
  out.reserve(std::min(title.size(), kMaximumTitleBytes));
  std::size_t i = 0;
  while (i < title.size()) {
    const auto c = static_cast<unsigned char>(title[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len > title.size()) len = 1;
    char32_t cp = c;
    if (len == 2) cp = ((c & 0x1F) << 6) | (title[i + 1] & 0x3F);
    if (len == 3) cp = ((c & 0x0F) << 12) | ((title[i + 1] & 0x3F) << 6) | (title[i + 2] & 0x3F);
    if (len == 4) cp = ((c & 0x07) << 18) | ((title[i + 1] & 0x3F) << 12) | ((title[i + 2] & 0x3F) << 6) | (title[i + 3] & 0x3F);
    const bool bidi = cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
                      (cp >= 0x2066 && cp <= 0x2069);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
    if (out.size() + len > kMaximumTitleBytes) break;
    if (control) out += ' ';
    else if (!bidi) out.append(title.substr(i, len));
    i += len;
  }
  return fnd::makeValidUtf8(out);
}

// ---- reachability ----

void WebContent::checkConnection(std::function<void(bool)> done) {
  auto& r = reachability();
  if (r.answer && -r.askedAt.timeIntervalSinceNow() < kReachabilityMemory) {
    fnd::DispatchQueue::main().async([done = std::move(done), answer = *r.answer] { done(answer); });
    return;
  }
  r.waiting.push_back(std::move(done));
  if (r.asking) return;
  r.asking = true;
  auto tell = [](bool reachable) {
    auto& state = reachability();
    state.asking = false;
    state.answer = reachable;
    state.askedAt = fnd::Date::now();
    auto waiting = std::move(state.waiting);
    state.waiting.clear();
    for (auto& w : waiting) w(reachable);
  };
  const std::string address = fnd::UserDefaults::standard()
                                  .stringForKey(kReachabilityURLDefaultsKey)
                                  .value_or(std::string(kReachabilityDefaultURL));
  auto url = net::URL::fromString(address);
  if (!url || !isWebAddress(*url)) return fnd::DispatchQueue::main().async([tell] { tell(false); });
  BodyFetch::start(*url, kReachabilityTimeout, 64 * 1024, true, [tell](BodyFetch::Result result) {
    fnd::DispatchQueue::main().async([tell, reachable = !result.failed] { tell(reachable); });
  });
}

void WebContent::forgetReachability() { reachability().answer.reset(); }

// ---- the fetch ----

void WebContent::download(std::function<void()> finished) {
  finished_ = std::move(finished);
  auto self = std::static_pointer_cast<WebContent>(shared_from_this());
  tempURL_ = repairEscapes(tempURL_);
  auto page = net::URL::fromString(tempURL_);
  if (!page || !isWebAddress(*page)) {
    fnd::DispatchQueue::main().async([self] { self->skip(); });
    return;
  }
  BodyFetch::start(*page, kPageTimeout, kMaximumBodySize, true, [self](BodyFetch::Result result) {
    if (result.failed) return fnd::DispatchQueue::main().async([self] { self->fail(); });
    // Decoding and parsing a large page would stall the interface: a worker does it.
    fnd::DispatchQueue::global().async([self, result = std::move(result)] {
      auto page = decodePage(result.body, result.charset);
      PageHead head = page ? readPageHead(*page) : PageHead{};
      fnd::DispatchQueue::main().async([self, hasText = page.has_value(), head] { self->succeed(hasText, head); });
    });
  });
}

void WebContent::succeed(bool hasText, const PageHead& head) {
  const auto current = net::URL::fromString(tempURL_);
  auto reported = [&] {
    return needsUpdate_ < 1 || !current ? tempURL_ : current->absoluteString();
  };
  broken_ = false;
  url_ = repairEscapes(reported());
  if (!hasText) {
    if (!titleSettled()) title_ = hostIfNoTitle_;
    url_ = reported();
  } else if (!titleSettled()) {
    title_ = head.title ? head.title : head.metaTitle ? head.metaTitle : hostIfNoTitle_;
  }
  if ((!title_ || title_->empty()) && !titleSettled()) title_ = hostIfNoTitle_;
  if (titleSettled()) title_ = oldTitle_;
  titleUpdated_ = 1;
  needsUpdate_ = 0;
  notifyCompletion();
  notifyThumbnailCompletion();
  downloadFavicon(hasText ? head.faviconLink : std::nullopt);
}

void WebContent::skip() {
  // Not a web page: nothing was asked, so nothing is known about it. It is not broken, and there
  // is nothing to fetch again later.
  url_ = tempURL_;
  title_ = oldTitle_;
  broken_ = false;
  needsUpdate_ = 0;
  notifyCompletion();
  finish();
}

void WebContent::fail() {
  auto self = std::static_pointer_cast<WebContent>(shared_from_this());
  checkConnection([self](bool reachable) {
    const auto current = net::URL::fromString(self->tempURL_);
    self->url_ = repairEscapes(current ? current->absoluteString() : self->tempURL_);
    if (reachable) {
      // The machine is online: the page itself is broken.
      self->broken_ = true;
      self->needsUpdate_ = 0;
      if (self->imageUpdated_ < 1) self->imageUpdated_ = 1;
      self->title_ = self->oldTitle_;
    } else if (self->imageUpdated_ < 1) {
      if (!self->titleSettled() && self->needsUpdate_ >= 1 && self->hostIfNoTitle_) {
        self->title_ = *self->hostIfNoTitle_ + " (no internet connection)";
        self->titleUpdated_ = 0;
      } else {
        self->title_ = self->oldTitle_;
      }
      self->needsUpdate_ = 1;
      self->imageUpdated_ = 0;
    } else {
      self->title_ = self->oldTitle_;
      self->needsUpdate_ = 0;
    }
    self->notifyCompletion();
    self->finish();
  });
}

void WebContent::downloadFavicon(const std::optional<std::string>& link) {
  auto address = faviconAddress(url_.value_or(tempURL_), link);
  auto url = address ? net::URL::fromString(*address) : std::nullopt;
  if (!url) return finish();
  auto self = std::static_pointer_cast<WebContent>(shared_from_this());
  // A favicon over the limit is no favicon.
  BodyFetch::start(*url, kPageTimeout, kMaximumBodySize, false, [self](BodyFetch::Result result) {
    if (result.failed || result.status != 200 || result.body.empty())
      return fnd::DispatchQueue::main().async([self] { self->finish(); });
    fnd::DispatchQueue::global().async([self, body = std::move(result.body)] {
      // Decoded in memory: nothing of it is written to a file.
      const ui::Image image = ui::Image::fromData(fnd::Data(body.begin(), body.end()))
                                  .scaledToFit(kStoredFaviconPixels, kStoredFaviconPixels);
      fnd::Data png = image.isNull() ? fnd::Data() : image.encoded("png");
      fnd::DispatchQueue::main().async([self, png = std::move(png)] {
        if (!png.empty()) {
          self->favicon_ = png;
          self->notifyThumbnailCompletion();
        }
        self->finish();
      });
    });
  });
}

namespace {
double& peekRetryInterval() {
  static double seconds = WebContent::kDefaultPeekRetryInterval;
  return seconds;
}
}  // namespace

void WebContent::setPeekRetryInterval(double seconds) { peekRetryInterval() = seconds; }

void WebContent::downloadThumbnail() {
  KESTO_ASSERT_MAIN_THREAD();
  ++numberOfPeekAttempts_;
  url_ = fnd::removePercentEscapesOrKeep(url_.value_or(tempURL_));
  const bool retina = fnd::UserDefaults::standard().boolForKey("IsRetina");
  auto request = net::URL::fromString(Bookmark::thumbnailRequestURL(*url_, retina ? "l" : "m", 0));
  if (!request) return;
  auto self = std::static_pointer_cast<WebContent>(shared_from_this());
  BodyFetch::start(*request, kPageTimeout, kMaximumBodySize, false, [self, retina](BodyFetch::Result result) {
    if (result.failed) return;
    fnd::DispatchQueue::main().async([self, retina, length = result.body.size()] {
      const std::size_t placeholder = retina ? kRetinaPlaceholderSize : kPlaceholderSize;
      const std::int64_t evaluated = self->peeksEvaluated_++;
      if (length != placeholder) {
        if (length >= kReadyBytes) {
          self->needsUpdate_ = 0;
          self->imageUpdated_ = 1;
          self->broken_ = false;
        }
        return self->notifyThumbnailCompletion();
      }
      self->needsUpdate_ = 1;
      self->imageUpdated_ = 0;
      if (evaluated >= kLastPeekAttempt) return self->notifyThumbnailCompletion();
      // The job stays alive until its next check.
      fnd::DispatchQueue::main().after(peekRetryInterval(), [self] { self->downloadThumbnail(); });
    });
  });
}

void WebContent::finish() {
  if (!finished_) return;
  auto finished = std::move(finished_);
  finished_ = nullptr;
  finished();
}

void WebContent::notifyCompletion() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(
      BRWWebContentRetrievedNotification, nullptr, {{kWebContentKey, fnd::Value(shared_from_this())}});
}

void WebContent::notifyThumbnailCompletion() {
  const bool preview = !isSingleUpdate_ && shouldFetchImage_;
  fnd::NotificationCenter::defaultCenter().postNotificationName(
      preview ? BRWWebPreviewRetrievedNotification : BRWWebContentRetrievedNotification, nullptr,
      {{kWebContentKey, fnd::Value(shared_from_this())}});
}

}  // namespace kesto
