#pragma once

#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kesto {

// What a page's head says, read from its decoded text.
struct PageHead {
  // The text of the first /html/head/title, as it stands (it may be empty).
  std::optional<std::string> title;
  // The title attribute of the first /html/head/meta that names it after a "description" value.
  std::optional<std::string> metaTitle;
  // The href of the first /html/head/link that names it after an "icon" or "shortcut icon" value.
  std::optional<std::string> faviconLink;
};

// One fetch of one bookmark's page: its title, the address to keep, whether it is broken, its
// favicon, and the flags that tell the list what is still to fetch. Made from the bookmark's
// dictionary form; reports through BRWWebContentRetrievedNotification and
// BRWWebPreviewRetrievedNotification (user info "webContent": the job), posted on the main
// thread, and never touches the store.
//
// Only http and https are fetched (a redirect elsewhere is not followed); a body is read up to
// kMaximumBodySize (a longer page is read from its first bytes, a longer favicon is none). The
// page is decoded in the charset its reply names, else its <meta> declaration's, else UTF-8.
// Decoding and parsing run off the main thread; the job's fields change on the main thread only.
class WebContent : public fnd::Object {
 public:
  static constexpr std::size_t kMaximumBodySize = 4u << 20;
  // The page asked when a fetch fails, to tell a broken page from a machine that is offline; a
  // user default names another (a test's loopback server).
  static constexpr const char* kReachabilityURLDefaultsKey = "KestoReachabilityCheckURL";
  static constexpr const char* kReachabilityDefaultURL = "http://example.com/";
  // Titles that say nothing: a fetched title replaces them even when the title is settled.
  static constexpr const char* kNoServerTitle = "No Title (cannot find server)";
  static constexpr const char* kDefaultFaviconName = "default_favicon";
  // Favicons are stored at the size the list cells and the inspector draw them (16 x 16), not as
  // they came: a site's icon can be megabytes, and each bookmark row and backup would hold it.
  static constexpr int kStoredFaviconPixels = 16;

  WebContent(const fnd::Dictionary& bookmark, bool alsoFetchImage, bool isSingle);
  static std::shared_ptr<WebContent> initWithBookmarkDictionary(const fnd::Dictionary& bookmark, bool alsoFetchImage,
                                                                bool isSingle) {
    return std::make_shared<WebContent>(bookmark, alsoFetchImage, isSingle);
  }

  // Starts the page request and returns at once; any thread. `finished` runs on the main thread
  // after the job's last notification (on the success road: once the favicon request has ended).
  void download(std::function<void()> finished = {});

  // Read on the main thread after a notification.
  const std::string& uniqueID() const { return uniqueID_; }
  const std::optional<std::string>& url() const { return url_; }
  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& oldTitle() const { return oldTitle_; }
  // PNG data; absent until a favicon arrived.
  const std::optional<fnd::Data>& favicon() const { return favicon_; }
  std::int64_t needsUpdate() const { return needsUpdate_; }
  std::int64_t imageUpdated() const { return imageUpdated_; }
  std::int64_t titleUpdated() const { return titleUpdated_; }
  bool broken() const { return broken_; }
  // The bookmark's "thumbnail set by hand" flag when the job was made.
  std::int64_t thumbnailManuallySet() const { return thumbnailManuallySet_; }
  bool shouldFetchImage() const { return shouldFetchImage_; }
  bool isSingleUpdate() const { return isSingleUpdate_; }

  // "%23" -> "#", "%25" -> "%" (cascading, so "%2525" is one "%"), "%E0" -> "à".
  static std::string repairEscapes(std::string text);
  // The page's text in UTF-8: the charset of the reply, else of a <meta> declaration (or a
  // byte-order mark), else UTF-8. Absent when the bytes are not valid in it.
  static std::optional<std::string> decodePage(std::string_view body, const std::optional<std::string>& replyCharset);
  // One pass over the head of the page; stops at its end.
  static PageHead readPageHead(std::string_view text);
  // The title the page gives: its title element's text, else the meta title, else the host.
  std::optional<std::string> extractTitleFromContent(std::string_view text) const;
  std::optional<std::string> findTitleFromMetaInContent(std::string_view text) const;
  static std::optional<std::string> extractFaviconURLFromContent(std::string_view text);
  // The favicon address of a page: the link resolved against the page's site, or "favicon.ico"
  // there. Absent when that is no http or https address.
  static std::optional<std::string> faviconAddress(const std::string& pageURL, const std::optional<std::string>& link);
  // A fetched title as it may be stored: control characters become spaces, bidirectional
  // controls go, and it is cut to 64 KiB.
  static std::string storableTitle(std::string_view title);

  // The thumbnail readiness check: asks the thumbnail service for the page without letting it
  // wait. A reply of the placeholder's length (kRetinaPlaceholderSize bytes with the user
  // default "IsRetina", else kPlaceholderSize) means the page is not rendered yet: the job marks
  // itself as needing an update and asks again after the retry interval, until its
  // kLastPeekAttempt-th check has seen the placeholder too. Any other reply ends the check; one
  // of kReadyBytes or more marks the thumbnail as fetched. Either end is told by one completion
  // notification; a failed connection ends the check silently. Nothing in the program starts it:
  // the lists load thumbnails with a wait.
  static constexpr std::size_t kRetinaPlaceholderSize = 16216, kPlaceholderSize = 6878, kReadyBytes = 500;
  static constexpr std::int64_t kLastPeekAttempt = 3;
  static constexpr double kDefaultPeekRetryInterval = 15.0;
  static void setPeekRetryInterval(double seconds);
  void downloadThumbnail();
  // Checks started by this job, and checks whose reply was evaluated.
  std::int32_t numberOfPeekAttempts() const { return numberOfPeekAttempts_; }
  std::int64_t peeksEvaluated() const { return peeksEvaluated_; }

  // Whether the reachability page answers, remembered for 30 seconds. Main thread; `done` runs
  // there, later.
  static void checkConnection(std::function<void(bool reachable)> done);
  static void forgetReachability();

 private:
  struct Fetch;
  void fail();
  // An address that is no web page: reported as it stands, never fetched.
  void skip();
  void succeed(bool hasText, const PageHead& head);
  void downloadFavicon(const std::optional<std::string>& link);
  void finish();
  void notifyCompletion();
  void notifyThumbnailCompletion();
  bool titleSettled() const { return titleUpdated_ >= 1; }

  fnd::Dictionary pin_;
  std::string tempURL_;
  std::optional<std::string> oldTitle_;
  std::string uniqueID_;
  std::optional<std::string> url_;
  std::optional<std::string> title_;
  std::int64_t titleUpdated_ = 0, imageUpdated_ = 0, needsUpdate_ = 0, thumbnailManuallySet_ = 0;
  std::optional<fnd::Data> favicon_;
  bool shouldFetchImage_ = false, isSingleUpdate_ = false;
  bool broken_ = false;
  std::int32_t numberOfPeekAttempts_ = 0;
  std::int64_t peeksEvaluated_ = 0;
  std::optional<std::string> hostIfNoTitle_;
  std::function<void()> finished_;
};

}  // namespace kesto
