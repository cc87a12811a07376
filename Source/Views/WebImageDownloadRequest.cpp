#include "Views/WebImageDownloadRequest.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"
#include "Platform/UI/Image.h"
#include "Views/DiskCacheManager.h"
#include "Views/ImageMemoryCache.h"
#include "Views/SimpleHTTPRequest.h"

#include "Platform/Foundation/DispatchQueue.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kesto {

namespace {

struct Failures {
  int count = 0;
  fnd::Date last;
};

// Main thread only, as the requests are.
std::map<std::string, Failures>& failures() {
  static std::map<std::string, Failures> map;
  return map;
}

double& retryIntervalSeconds() {
  static double seconds = WebImageDownloadRequest::kDefaultRetryInterval;
  return seconds;
}

// Every request sent counts against the address, once per load however many views shared it:
// one let go before its answer was read has reached the server all the same. A refusal made
// here sends nothing and does not count.
void recordAttempt(const std::string& key) { ++failures()[key].count; }

// What the server or the network said starts the wait before the next attempt.
void recordFailure(const std::string& key) {
  auto& f = failures()[key];
  if (f.count == 0) f.count = 1;  // forgotten while it ran
  f.last = fnd::Date::now();
}

}  // namespace

// One HTTP load of an image address, shared by every request for that address while it runs: a
// list draws its cells again and again while a new bookmark is filled in, and each drawing asks
// for the same thumbnail. The load ends when the last request has left it and none has come back
// by the next turn of the main loop (a redrawn cell asks again in the same turn).
struct WebImageDownloadRequest::SharedLoad : SimpleHTTPRequestDelegate, std::enable_shared_from_this<SharedLoad> {
  std::string key;
  std::shared_ptr<SimpleHTTPRequest> http;
  std::vector<WebImageDownloadRequest*> requests;

  static std::unordered_map<std::string, std::weak_ptr<SharedLoad>>& running() {
    static std::unordered_map<std::string, std::weak_ptr<SharedLoad>> loads;  // main thread only
    return loads;
  }

  static bool isRunning(const std::string& key) {
    auto it = running().find(key);
    return it != running().end() && !it->second.expired();
  }

  static std::shared_ptr<SharedLoad> join(WebImageDownloadRequest& request) {
    auto& loads = running();
    std::shared_ptr<SharedLoad> load;
    if (auto it = loads.find(request.URLString()); it != loads.end()) load = it->second.lock();
    if (!load) {
      load = std::make_shared<SharedLoad>();
      load->key = request.URLString();
      load->http = SimpleHTTPRequest::make(net::URLRequest(request.URL()));
      load->http->setDelegate(load.get());
      loads[load->key] = load;
      recordAttempt(load->key);
      load->http->start();
    }
    load->requests.push_back(&request);
    return load;
  }

  void leave(WebImageDownloadRequest& request) {
    requests.erase(std::remove(requests.begin(), requests.end(), &request), requests.end());
    if (!requests.empty()) return;
    // Kept for one turn, then let go (which cancels it) unless a request came back meanwhile.
    fnd::DispatchQueue::main().async([keep = shared_from_this()] {});
  }

  ~SharedLoad() override {
    if (auto it = running().find(key); it != running().end() && it->second.expired()) running().erase(it);
    http->setDelegate(nullptr);
    http->cancel();
  }

  // The requests still waiting, taken out of the load: what they hear may end this load.
  std::vector<std::shared_ptr<WebImageDownloadRequest>> finish() {
    running().erase(key);
    std::vector<std::shared_ptr<WebImageDownloadRequest>> out;
    for (auto* r : requests) {
      r->load_.reset();
      out.push_back(r->shared_from_this());
    }
    requests.clear();
    return out;
  }

  unsigned simpleHTTPRequestCapabilities() const override {
    return ReceivesTotalData | ReceivesFinished | ReceivesFailed;
  }
  void simpleHTTPRequestDataUpdatedTotalData(SimpleHTTPRequest&, const fnd::Data&, const fnd::Data& total) override {
    auto keep = shared_from_this();
    std::vector<std::shared_ptr<WebImageDownloadRequest>> listening;
    for (auto* r : requests) listening.push_back(r->shared_from_this());
    for (const auto& r : listening)
      if (r->load_ == keep && r->delegate_ && (r->capabilities_ & WebImageDownloadRequestDelegate::ReceivesDataUpdates))
        r->delegate_->webImageDownloadRequestImageDataUpdated(*r, total);
  }
  void simpleHTTPRequestFinished(SimpleHTTPRequest& request) override {
    auto keep = shared_from_this();
    auto waiting = finish();
    int status = request.responseStatusCode();
    // An error page is not the image: the view keeps its placeholder and nothing is cached.
    if (status != 0 && (status < 200 || status > 299)) {
      recordFailure(key);
      const auto error = fnd::Error::withDescription(kWebImageErrorDomain, kBadStatusError,
                                                     "The image server answered with status " + std::to_string(status));
      for (const auto& r : waiting) r->fail(error);
      return;
    }
    auto data = request.responseData();
    // Decoded once: the views that show it take the same picture from the memory cache.
    if (!data || ImageMemoryCache::webImages().imageForData(key, *data).isNull()) {
      recordFailure(key);
      const auto error = fnd::Error::withDescription(kWebImageErrorDomain, kNotAnImageError, "The reply is not an image");
      for (const auto& r : waiting) r->fail(error);
      return;
    }
    failures().erase(key);
    for (const auto& r : waiting)
      if (r->delegate_ && (r->capabilities_ & WebImageDownloadRequestDelegate::ReceivesSuccess))
        r->delegate_->webImageDownloadRequestDownloadSuccessedWithData(*r, *data, false);
    fileCacheManagerInstance().storeData(*data, key);
  }
  void simpleHTTPRequestFailed(SimpleHTTPRequest&, const fnd::Error& error) override {
    auto keep = shared_from_this();
    recordFailure(key);
    for (const auto& r : finish()) r->fail(error);
  }
};

std::shared_ptr<WebImageDownloadRequest> WebImageDownloadRequest::requestWithURL(net::URL url) {
  return std::shared_ptr<WebImageDownloadRequest>(new WebImageDownloadRequest(std::move(url)));
}

WebImageDownloadRequest::WebImageDownloadRequest(net::URL url) : url_(std::move(url)) {}

WebImageDownloadRequest::~WebImageDownloadRequest() { cancel(); }

DiskCacheManager& WebImageDownloadRequest::fileCacheManagerInstance() {
  static std::once_flag once;
  static DiskCacheManager* instance = nullptr;
  std::call_once(once, [] {
    auto base = DiskCacheManager::defaultCachePath();
    instance = new DiskCacheManager(base ? *base + "/ImageWebCache" : std::string());
  });
  return *instance;
}

void WebImageDownloadRequest::setDelegate(WebImageDownloadRequestDelegate* delegate) {
  delegate_ = delegate;
  capabilities_ = delegate ? delegate->webImageDownloadRequestCapabilities() : 0;
}

void WebImageDownloadRequest::setRetryInterval(double seconds) { retryIntervalSeconds() = seconds; }
double WebImageDownloadRequest::retryInterval() { return retryIntervalSeconds(); }

void WebImageDownloadRequest::forgetFailures(const std::string& url) {
  failures().erase(url);
  if (auto parsed = net::URL::fromString(url)) failures().erase(parsed->absoluteString());
}

void WebImageDownloadRequest::fail(const fnd::Error& error) {
  if (delegate_ && (capabilities_ & WebImageDownloadRequestDelegate::ReceivesFailure))
    delegate_->webImageDownloadRequestFailedWithError(*this, error);
}

void WebImageDownloadRequest::start() {
  auto keep = shared_from_this();
  auto& cache = fileCacheManagerInstance();
  const std::string& key = URLString();
  if (delegate_ && (capabilities_ & WebImageDownloadRequestDelegate::ReceivesSuccess) &&
      cache.cacheDataExistForKey(key)) {
    if (auto data = cache.dataForKey(key)) {
      delegate_->webImageDownloadRequestDownloadSuccessedWithData(*this, *data, true);
      return;
    }
  }
  // Only web addresses go to the network: a page must not make us read local files.
  if (url_.scheme() != "http" && url_.scheme() != "https") {
    fail(fnd::Error::withDescription(kWebImageErrorDomain, kUnsupportedURLError, "Only web images are loaded"));
    return;
  }
  // A load of the address under way is joined: it is the attempt being made.
  if (auto it = failures().find(key); it != failures().end() && !SharedLoad::isRunning(key)) {
    const auto& f = it->second;
    if (f.count >= kMaximumAttempts || fnd::Date::now().timeIntervalSinceDate(f.last) < retryIntervalSeconds()) {
      fail(fnd::Error::withDescription(kWebImageErrorDomain, kRetryLaterError, "The image failed a moment ago"));
      return;
    }
  }
  if (!load_) load_ = SharedLoad::join(*this);
}

void WebImageDownloadRequest::cancel() {
  if (!load_) return;
  auto load = std::move(load_);
  load_.reset();
  load->leave(*this);
}

}  // namespace kesto
