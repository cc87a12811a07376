#pragma once

#include "Model/BookmarkServiceClient.h"
#include "Synchronize/ServiceRequest.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Store/StoreForward.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class DataManager;

// Mirrors the library's Pinboard and Delicious collections to those services through their v1
// API: imports the account's whole list and merges it, sends a saved bookmark, deletes a
// bookmark or a tag there, and says whether a URL is already one of the service's bookmarks.
//
// Every request goes through the HTTP client's request-operation manager with the XML document
// reply reader (ServiceRequest), credentials in an Authorization header, never in the URL; the
// API host is a compiled default that the user default "<Service>APIHost" overrides (plain http
// only to this machine).
// A failed import disconnects the account only when the service refuses the credentials; an
// answer that is not a post list changes nothing; and a marked bookmark is dropped by an import
// only when the service had listed it before (it carries the service's hash), into the trash.
class ServiceClient : public BookmarkServiceClient {
 public:
  struct ImportResult {
    bool ok = false;
    int added = 0, updated = 0, trashed = 0;
    // Posts left out because their address is no web address ("javascript:", "file:", none).
    int refused = 0;
  };

  ServiceClient(std::string serviceName, std::string defaultHost);
  ~ServiceClient() override;

  // "pinboard" or "delicious"; anything else gives none.
  static std::unique_ptr<ServiceClient> forService(const std::string& serviceName);
  // "Pinboard" / "Delicious".
  static std::string displayName(const std::string& serviceName);

  const std::string& serviceName() const { return serviceName_; }
  std::string apiBase() const;
  bool isConnected() const { return isConnected_; }
  void initService();

  // Stores the account (a login and password of at least 2 characters; Pinboard only once) and
  // answers whether it was stored. The first import is the caller's.
  bool connect(const std::string& user, const std::string& password);
  // The whole list from the service, merged on a private context; `done` (main thread) hears
  // the outcome once the library has been reloaded.
  void import(std::function<void(const ImportResult&)> done = nullptr);
  // The merge of a posts/all reply into `context`, on that context's queue (not saved here).
  static ImportResult processImport(const std::string& serviceName, const std::string& xml,
                                    const std::shared_ptr<store::Context>& context);

  void saveBookmark(Bookmark& bookmark) override;
  void deleteBookmark(const std::string& url) override;
  void deleteTag(const std::string& name) override;
  bool isAlreadyPresent(const std::string& url) const;

  static std::optional<fnd::Date> dateFromServiceString(const std::string& text);
  // Requests sent and not answered yet (each keeps its session until its answer).
  static int requestsInFlight();

  // Set by the application: the library reloaded after an import.
  static void setDataManager(DataManager* dataManager);

 private:
  void get(const std::string& path, const std::map<std::string, std::string>& query, ServiceRequest::Success success,
           ServiceRequest::Failure failure) const;

  std::string serviceName_, defaultHost_;
  bool isConnected_ = false;
  std::string username_, password_;
};

}  // namespace kesto
