#include "Views/WebImageDownloadRequest.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"
#include "Platform/UI/Image.h"
#include "Views/DiskCacheManager.h"
#include "Views/ImageMemoryCache.h"
#include "Views/SimpleHTTPRequest.h"

#include <map>
#include <mutex>

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

}  // namespace

struct WebImageDownloadRequest::HTTPDelegate : SimpleHTTPRequestDelegate {
  WebImageDownloadRequest* owner;
  explicit HTTPDelegate(WebImageDownloadRequest* o) : owner(o) {}

  unsigned simpleHTTPRequestCapabilities() const override {
    return ReceivesTotalData | ReceivesFinished | ReceivesFailed;
  }
  void simpleHTTPRequestDataUpdatedTotalData(SimpleHTTPRequest&, const fnd::Data&, const fnd::Data& total) override {
    auto self = owner->shared_from_this();
    if (self->delegate_ && (self->capabilities_ & WebImageDownloadRequestDelegate::ReceivesDataUpdates))
      self->delegate_->webImageDownloadRequestImageDataUpdated(*self, total);
  }
  void simpleHTTPRequestFinished(SimpleHTTPRequest& request) override {
    auto self = owner->shared_from_this();  // the delegate may drop this request while it hears
    int status = request.responseStatusCode();
    // An error page is not the image: the view keeps its placeholder and nothing is cached.
    if (status != 0 && (status < 200 || status > 299)) {
      self->fail(fnd::Error::withDescription(kWebImageErrorDomain, kBadStatusError,
                                             "The image server answered with status " + std::to_string(status)));
      return;
    }
    auto data = request.responseData();
    // Decoded once: the view that shows it takes the same picture from the memory cache.
    if (!data || ImageMemoryCache::webImages().imageForData(self->URLString(), *data).isNull()) {
      self->fail(fnd::Error::withDescription(kWebImageErrorDomain, kNotAnImageError, "The reply is not an image"));
      return;
    }
    failures().erase(self->URLString());
    if (!self->delegate_ || !(self->capabilities_ & WebImageDownloadRequestDelegate::ReceivesSuccess)) return;
    std::string key = self->URLString();
    self->delegate_->webImageDownloadRequestDownloadSuccessedWithData(*self, *data, false);
    fileCacheManagerInstance().storeData(*data, key);
  }
  void simpleHTTPRequestFailed(SimpleHTTPRequest&, const fnd::Error& error) override {
    auto self = owner->shared_from_this();
    self->fail(error);
  }
};

std::shared_ptr<WebImageDownloadRequest> WebImageDownloadRequest::requestWithURL(net::URL url) {
  return std::shared_ptr<WebImageDownloadRequest>(new WebImageDownloadRequest(std::move(url)));
}

WebImageDownloadRequest::WebImageDownloadRequest(net::URL url) : url_(std::move(url)) {}

WebImageDownloadRequest::~WebImageDownloadRequest() {
  if (request_) {
    request_->setDelegate(nullptr);
    request_->cancel();
  }
}

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
  // What the server or the network said counts against the address; a refusal made here does not.
  if (error.domain() != kWebImageErrorDomain || error.code() == kBadStatusError || error.code() == kNotAnImageError) {
    auto& f = failures()[URLString()];
    ++f.count;
    f.last = fnd::Date::now();
  }
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
  if (auto it = failures().find(key); it != failures().end()) {
    const auto& f = it->second;
    if (f.count >= kMaximumAttempts || fnd::Date::now().timeIntervalSinceDate(f.last) < retryIntervalSeconds()) {
      fail(fnd::Error::withDescription(kWebImageErrorDomain, kRetryLaterError, "The image failed a moment ago"));
      return;
    }
  }
  if (!request_) {
    request_ = SimpleHTTPRequest::make(net::URLRequest(url_));
    httpDelegate_ = std::make_unique<HTTPDelegate>(this);
    request_->setDelegate(httpDelegate_.get());
  }
  request_->start();
}

void WebImageDownloadRequest::cancel() {
  if (request_) request_->cancel();
}

}  // namespace kesto
