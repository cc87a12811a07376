#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"

#include <memory>

namespace kesto {

class DiskCacheManager;
class SimpleHTTPRequest;
class WebImageDownloadRequest;

// Every message optional; capability bits are read when the delegate is set.
class WebImageDownloadRequestDelegate {
 public:
  enum Capability : unsigned { ReceivesSuccess = 1, ReceivesDataUpdates = 2, ReceivesFailure = 4, ReceivesAll = 7 };
  virtual ~WebImageDownloadRequestDelegate() = default;
  virtual unsigned webImageDownloadRequestCapabilities() const { return ReceivesAll; }
  virtual void webImageDownloadRequestDownloadSuccessedWithData(WebImageDownloadRequest& request, const fnd::Data& data,
                                                                bool isFromCache) {}
  virtual void webImageDownloadRequestImageDataUpdated(WebImageDownloadRequest& request, const fnd::Data& data) {}
  virtual void webImageDownloadRequestFailedWithError(WebImageDownloadRequest& request, const fnd::Error& error) {}
};

// One image load: from the shared disk cache when it holds the URL, otherwise a low-priority
// GET whose body is stored in the cache after the delegate has it. Requests for the same URL at
// the same time share one GET. Only http and https addresses are fetched. Only a 2xx reply
// whose body decodes as an image succeeds and is cached; anything else is a failure. An address that
// failed is asked again only once the retry interval has passed since its last failure, and not
// at all after kMaximumAttempts requests without a picture (until forgetFailures; a load let go
// before its answer counts, as the server had the request): lists that refresh or reuse their
// cells often must not ask a failing server every time. Main thread.
class WebImageDownloadRequest : public std::enable_shared_from_this<WebImageDownloadRequest> {
 public:
  // Error codes of kWebImageErrorDomain.
  static constexpr const char* kWebImageErrorDomain = "WebImageErrorDomain";
  static constexpr int kBadStatusError = 1;
  static constexpr int kNotAnImageError = 2;
  static constexpr int kUnsupportedURLError = 3;
  // The address failed recently; no request was made.
  static constexpr int kRetryLaterError = 4;
  static constexpr int kMaximumAttempts = 4;
  static constexpr double kDefaultRetryInterval = 15.0;

  // Seconds between two attempts at an address that failed (tests shorten it).
  static void setRetryInterval(double seconds);
  static double retryInterval();
  // The address is asked again at the next load, as if it had never failed.
  static void forgetFailures(const std::string& url);

  static std::shared_ptr<WebImageDownloadRequest> requestWithURL(net::URL url);
  ~WebImageDownloadRequest();
  WebImageDownloadRequest(const WebImageDownloadRequest&) = delete;
  WebImageDownloadRequest& operator=(const WebImageDownloadRequest&) = delete;

  // The shared cache over <Caches>/DiskCache/ImageWebCache, made once (thread-safe).
  static DiskCacheManager& fileCacheManagerInstance();

  // A cache hit is delivered before start() returns.
  void start();
  void cancel();

  const net::URL& URL() const { return url_; }
  const std::string& URLString() const { return url_.absoluteString(); }
  // Not owned: the delegate clears itself before it goes.
  WebImageDownloadRequestDelegate* delegate() const { return delegate_; }
  void setDelegate(WebImageDownloadRequestDelegate* delegate);

 private:
  explicit WebImageDownloadRequest(net::URL url);
  void fail(const fnd::Error& error);
  struct SharedLoad;
  net::URL url_;
  WebImageDownloadRequestDelegate* delegate_ = nullptr;
  unsigned capabilities_ = 0;
  // The load this request waits on, shared with every other request for the same address.
  std::shared_ptr<SharedLoad> load_;
};

}  // namespace kesto
