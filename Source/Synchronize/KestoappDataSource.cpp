#include "Synchronize/KestoappDataSource.h"

#include "Synchronize/ServiceRequest.h"
#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/Synchronizer.h"

#include "Model/FileManagerAdditions.h"
#include "Model/StringAdditions.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"
#include "Platform/Net/URLSession.h"

namespace kesto {

namespace {

using syncsettings::stringDefault;

// Credentials and payloads travel only over TLS; plain http only to this machine (a stand-in).
std::optional<net::URL> acceptableURL(const std::string& text) { return ServiceRequest::acceptableURL(text); }

// The body is the session's own: a payload of hundreds of megabytes is not copied.
using Reply = std::function<void(int status, std::string contentType, const fnd::Data& body, std::string failure)>;

// One request on its own session; the reply comes on the main thread.
void perform(net::URLRequest request, std::size_t maxBytes, double timeout, Reply reply) {
  net::URLSessionConfiguration configuration;
  configuration.timeoutIntervalForRequest = timeout;
  configuration.maximumBodySize = maxBytes;
  auto session = net::URLSession::make(configuration, nullptr, [](std::function<void()> work) {
    fnd::DispatchQueue::main().async(std::move(work));
  });
  request.setTimeoutInterval(timeout);
  request.setHTTPShouldHandleCookies(false);
  auto task = session->dataTask(
      std::move(request), [session, reply = std::move(reply)](const fnd::Data* data,
                                                                std::shared_ptr<const net::URLResponse> response,
                                                                const fnd::Error* error) {
        session->finishTasksAndInvalidate();
        static const fnd::Data none;
        if (error)
          return reply(0, {}, none,
                       error->code() == net::urlerror::DataLengthExceedsMaximum ? "it is larger than allowed"
                                                                                 : error->localizedDescription());
        auto http = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
        if (!http) return reply(0, {}, none, "No answer from the server");
        reply(http->statusCode(), http->valueForHTTPHeaderField("Content-Type").value_or(""), data ? *data : none, {});
      });
  task->resume();
}

net::URLRequest formRequest(const net::URL& url, const std::string& body) {
  net::URLRequest request;
  request.setURL(url);
  request.setHTTPMethod("POST");
  // A character ASCII lacks never reaches the body: every value is percent-encoded.
  // The networking layer states the Content-Length itself.
  request.setHTTPBody(fnd::Data(body.begin(), body.end()));
  request.setValueForHTTPHeaderField(std::string("application/x-www-form-urlencoded"), "Content-Type");
  return request;
}

bool contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

}  // namespace

KestoappDataSource::KestoappDataSource() = default;
KestoappDataSource::~KestoappDataSource() {
  lifetime_.end();
  if (!unreadableFolder_.empty()) fnd::FileManager::removeItem(unreadableFolder_);
}

std::string KestoappDataSource::baseURL() {
  auto base = stringDefault(kBaseURLKey);
  if (base.empty()) base = kDefaultBaseURL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string KestoappDataSource::registerBody(const std::string& email, const std::string& password) {
  return "user[email]=" + brightwren::stringByURLEncodingString(email) + "&user[password]=" + brightwren::stringByURLEncodingString(password);
}

std::string KestoappDataSource::forgotPasswordBody(const std::string& email) {
  return "user[email]=" + brightwren::stringByURLEncodingString(email);
}

std::string KestoappDataSource::resetPasswordBody(const std::string& email, const std::string& key,
                                                  const std::string& newPassword) {
  return "user[email]=" + brightwren::stringByURLEncodingString(email) + "&user[password]=" + brightwren::stringByURLEncodingString(key) +
         "&user[newpassword]=" + brightwren::stringByURLEncodingString(newPassword);
}

std::vector<std::uint8_t> KestoappDataSource::uploadBody(const std::string& email, const std::string& password,
                                                         const std::string& kestoID,
                                                         const std::vector<std::uint8_t>& archive) {
  std::string head;
  auto part = [&head](const std::string& name, const std::string& value) {
    head += std::string("--") + kBoundary + "\r\n";
    head += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    head += value + "\r\n";
  };
  part("user[email]", email);
  part("user[password]", password);
  part("user[sync_data]", "");
  part("user[kesto_id]", kestoID);
  head += std::string("--") + kBoundary + "\r\n";
  head += "Content-Disposition: form-data; name=\"user[sync_file]\"; filename=\"sync_data.zip\"\r\n";
  head += "Content-Type: application/octet-stream\r\n\r\n";
  std::vector<std::uint8_t> body(head.begin(), head.end());
  body.insert(body.end(), archive.begin(), archive.end());
  const std::string tail = std::string("\r\n--") + kBoundary + "--\r\n";
  body.insert(body.end(), tail.begin(), tail.end());
  return body;
}

bool KestoappDataSource::registrationSucceeded(const std::string& reply) {
  if (!contains(reply, "<email>")) return false;
  // The element must hold text: an empty confirmation confirms nothing.
  fnd::Error error;
  auto doc = fnd::XmlDocument::parse(reply, 0, &error);
  return doc && !doc->rootElement().firstNodeForXPath("//email").stringValue().empty();
}

bool KestoappDataSource::userFound(const std::string& reply) { return contains(reply, "<user>"); }

bool KestoappDataSource::isRefusal(const std::string& reply) {
  if (contains(reply, "<password>")) return false;
  fnd::Error error;
  auto doc = fnd::XmlDocument::parse(reply, 0, &error);
  return doc && !doc->rootElement().nodesForXPath("//error").empty();
}

void KestoappDataSource::postForm(const std::string& path, const std::string& body, Completion completion) {
  auto url = acceptableURL(baseURL() + path);
  if (!url) {
    fnd::logError("The account service's address is not a secure one: " + baseURL());
    fnd::DispatchQueue::main().async([completion] { completion(0, {}, true); });
    return;
  }
  perform(formRequest(*url, body), kMaxReplyBytes, 60.0,
          [completion](int status, std::string, const fnd::Data& data, std::string failure) {
            completion(status, std::string(data.begin(), data.end()), !failure.empty());
          });
}

void KestoappDataSource::fail(const std::string& message) {
  fnd::logError("Account sync: " + message);
  if (delegate_) delegate_->abortSyncWithError(message);
}

void KestoappDataSource::load() {
  email_ = stringDefault(syncsettings::kEmailKey);
  password_ = syncsettings::accountPassword();
  kestoID_ = syncsettings::libraryIdentifier();
  auto alive = lifetime_.watch();
  // Form-encoded by the HTTP client; only a 2xx XML document is an answer, anything else a
  // failed request.
  ServiceRequest::send(
      "POST", baseURL() + kSyncPath,
      {{"user[email]", fnd::Value(email_)},
       {"user[password]", fnd::Value(password_)},
       {"user[kesto_id]", fnd::Value(kestoID_)}},
      kLoadLimits, std::nullopt,
      [this, alive](const std::string& reply) {
        if (alive) handleSyncLoadResponse(reply);
      },
      [this, alive](int, const std::string& message) {
        if (alive) fail(message);
      });
}

void KestoappDataSource::handleSyncLoadResponse(const std::string& reply) {
  if (!contains(reply, "<password>")) {
    // Only the service's refusal (a readable answer naming an error) is a wrong login; anything
    // else is an answer that could not be read, and a correct password must not be asked again.
    if (!isRefusal(reply)) return fail("The server's answer could not be read");
    if (delegate_) delegate_->openRegistration();
    return;
  }
  // A record without the payload's address answers nothing: the run ends instead of hanging.
  if (!contains(reply, "<sync_file>")) return fail("The server's answer holds no sync file");
  auto alive = lifetime_.watch();
  if (contains(reply, "missing.png")) {
    fnd::DispatchQueue::main().after(0.1, [this, alive] {
      if (alive && delegate_) delegate_->retrievedXML(kEmptyLibraryMarker);
    });
    return;
  }
  fnd::Error error;
  auto doc = fnd::XmlDocument::parse(reply, 0, &error);
  if (!doc) {
    fnd::logFormat(fnd::LogFlag::Error, "Error parsing xml: %s", error.description().c_str());
    return fail("The server's answer could not be read");
  }
  const std::string address = doc->rootElement().firstNodeForXPath("//sync_file").stringValue();
  auto url = acceptableURL(fnd::trimWhitespaceAndNewlines(address));
  if (!url) return fail("The server named no usable address for the sync file");
  if (delegate_) delegate_->setIsBusy(true);
  ViewUpdater::startActivity();
  net::URLRequest request;
  request.setURL(*url);
  perform(std::move(request), SyncPayload::kMaxArchiveBytes, 120.0,
          [this, alive](int status, std::string, const fnd::Data& data, std::string failure) {
            ViewUpdater::stopActivity();
            if (!alive) return;
            // A failed download is never an empty remote.
            if (!failure.empty()) return fail("The sync file could not be downloaded: " + failure);
            if (status < 200 || status > 299)
              return fail("The sync file could not be downloaded (HTTP " + std::to_string(status) + ")");
            std::string noWorkFolder;
            const auto folder = SyncPayload::makeRunFolder(&noWorkFolder);
            if (folder.empty()) {
              fnd::logError("Account sync: " + noWorkFolder);
              if (delegate_) delegate_->failLocally(noWorkFolder);
              return;
            }
            const auto inbound = folder + "/" + SyncPayload::kInboundName;
            std::string xml;
            fnd::Error written;
            if (!fnd::FileManager::writeFile(inbound, data, true, fnd::kPrivateFileMode, &written)) {
              // This computer's disk, not the download, is at fault: nothing is set aside or sent.
              fnd::FileManager::removeItem(folder);
              const auto cause = written.underlyingError();
              const std::string why = "The downloaded sync file could not be kept on this computer: " +
                                      fnd::FileManager::writeFailureReason(cause ? int(cause->code()) : 0,
                                                                           SyncPayload::placeOf(inbound));
              fnd::logError("Account sync: " + why);
              if (delegate_) delegate_->failLocally(why);
              return;
            }
            const auto unpacked = SyncPayload::unpack(inbound, &xml);
            if (unpacked != SyncPayload::UnpackStatus::Ok) {
              // Kept on disk, not in memory, until the engine has it set aside.
              if (!unreadableFolder_.empty()) fnd::FileManager::removeItem(unreadableFolder_);
              unreadableFolder_ = folder;
              if (delegate_) delegate_->remoteUnreadable(SyncPayload::describe(unpacked));
              return;
            }
            fnd::FileManager::removeItem(folder);
            fnd::DispatchQueue::main().after(0.1, [this, alive, xml = std::move(xml)] {
              if (alive && delegate_) delegate_->retrievedXML(xml);
            });
          });
}

void KestoappDataSource::setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) {
  if (unreadableFolder_.empty()) return completion(false, {});
  const auto stamp = fnd::DateFormatter::fixed("yyyy-MM-dd HH-mm-ss", fnd::TimeZone::local()).stringFromDate(fnd::Date::now());
  const auto path = appSupportFolderPath() + "/Unreadable sync file " + stamp + ".zip";
  const bool kept = fnd::FileManager::moveItem(unreadableFolder_ + "/" + SyncPayload::kInboundName, path);
  fnd::FileManager::removeItem(unreadableFolder_);
  unreadableFolder_.clear();
  completion(kept, kept ? path : std::string());
}

void KestoappDataSource::send(const std::string& xml) {
  ViewUpdater::startActivity();
  // The run may have given the library a new identifier since the load (its file carried this
  // one's identifier, written by a copy of it): the upload names the one its file carries.
  kestoID_ = syncsettings::libraryIdentifier();
  auto alive = lifetime_.watch();
  auto finish = [this, alive](bool ok, const std::string& message) {
    ViewUpdater::stopActivity();
    if (!alive || !delegate_) return;
    delegate_->setIsBusy(false);
    delegate_->sentSyncData(ok, message);
  };
  auto url = acceptableURL(baseURL() + kSyncPath);
  std::string noWorkFolder;
  const auto folder = SyncPayload::makeRunFolder(&noWorkFolder);
  const auto outbound = folder + "/" + SyncPayload::kArchiveName;
  fnd::Error error;
  std::optional<fnd::Data> archive;
  if (!folder.empty() && SyncPayload::pack(xml, outbound, &error)) archive = fnd::FileManager::contentsAtPath(outbound);
  if (!folder.empty()) fnd::FileManager::removeItem(folder);
  if (!url || !archive) {
    const std::string why = !url ? "The account service's address is not a secure (https) one"
                 : folder.empty() ? noWorkFolder
                                  : "The sync file could not be packed: " + error.localizedDescription();
    fnd::DispatchQueue::main().async([finish, why] { finish(false, why); });
    return;
  }
  net::URLRequest request;
  request.setURL(*url);
  request.setHTTPMethod("POST");
  request.setCachePolicy(1);  // reload, ignoring what is cached
  request.setValueForHTTPHeaderField(std::string("multipart/form-data; boundary=") + kBoundary, "Content-Type");
  request.setHTTPBody(uploadBody(email_, password_, kestoID_, *archive));
  perform(std::move(request), kMaxReplyBytes, kUploadTimeout,
          [finish](int status, std::string, const fnd::Data&, std::string failure) {
            // The upload counts only once the service has taken it.
            if (!failure.empty()) return finish(false, "The sync file could not be uploaded: " + failure);
            if (status < 200 || status > 299)
              return finish(false, "The sync file could not be uploaded (HTTP " + std::to_string(status) + ")");
            finish(true, {});
          });
}

}  // namespace kesto
