#include "Synchronize/ServiceClient.h"

#include "Synchronize/ServiceRequest.h"
#include "Synchronize/SyncSettings.h"

#include "Model/Base64.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Service.h"
#include "Model/StoredText.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Predicate.h"
#include "Support/AlertPresenter.h"

#include <algorithm>
#include <unordered_map>

namespace kesto {

namespace {

DataManager*& dataManagerOutlet() {
  static DataManager* dm = nullptr;
  return dm;
}

int& inFlight() {
  static int count = 0;  // main thread only
  return count;
}

// A full list is capped (a reply beyond it is refused, not half-read), and so is its time.
constexpr ServiceRequest::Limits kRequestLimits{64u << 20, 60.0, 600.0};

}  // namespace

ServiceClient::ServiceClient(std::string serviceName, std::string defaultHost)
    : serviceName_(std::move(serviceName)), defaultHost_(std::move(defaultHost)) {
  initService();
}

ServiceClient::~ServiceClient() = default;

std::unique_ptr<ServiceClient> ServiceClient::forService(const std::string& serviceName) {
  if (serviceName == Service::kPinboard) return std::make_unique<ServiceClient>(serviceName, "api.pinboard.in");
  if (serviceName == Service::kDelicious) return std::make_unique<ServiceClient>(serviceName, "api.del.icio.us");
  return nullptr;
}

std::string ServiceClient::displayName(const std::string& serviceName) {
  return serviceName == Service::kPinboard ? "Pinboard" : "Delicious";
}

void ServiceClient::setDataManager(DataManager* dataManager) { dataManagerOutlet() = dataManager; }

std::string ServiceClient::apiBase() const {
  auto host = fnd::UserDefaults::standard().stringForKey(displayName(serviceName_) + "APIHost").value_or(defaultHost_);
  if (host.empty()) host = defaultHost_;
  // A host may come with its scheme; credentials go over plain http only to this machine.
  constexpr std::string_view kHttps = "https://", kHttp = "http://";
  bool secure = true;
  if (host.rfind(kHttps, 0) == 0) {
    host.erase(0, kHttps.size());
  } else {
    if (host.rfind(kHttp, 0) == 0) host.erase(0, kHttp.size());
    secure = !syncsettings::isLoopbackHost(host);
  }
  while (!host.empty() && host.back() == '/') host.pop_back();
  return std::string(secure ? kHttps : kHttp) + host + "/";
}

void ServiceClient::initService() {
  auto record = Service::serviceNamed(serviceName_);
  isConnected_ = record != nullptr;
  username_.clear();
  password_.clear();
  if (!record) return;
  username_ = record->login();
  password_ = Base64::decodeToString(record->password()).value_or("");
}

bool ServiceClient::connect(const std::string& user, const std::string& password) {
  if (user.size() < 2 || password.size() < 2) return false;
  if (serviceName_ == Service::kPinboard && Service::serviceNamed(serviceName_)) return false;
  auto record = Service::initEntity();
  record->setName(serviceName_);
  record->setLogin(user);
  record->setPassword(Base64::encodeString(password));
  if (serviceName_ == Service::kDelicious) record->setValueForKey("url", fnd::Value(std::string("__")));
  if (!WrenEntity::saveContext()) return false;
  initService();
  return true;
}

void ServiceClient::get(const std::string& path, const std::map<std::string, std::string>& query,
                        ServiceRequest::Success success, ServiceRequest::Failure failure) const {
  fnd::Dictionary parameters;
  for (const auto& [key, value] : query) parameters[key] = fnd::Value(value);
  ++inFlight();
  ServiceRequest::send(
      "GET", apiBase() + path, parameters, kRequestLimits, ServiceRequest::Credentials{username_, password_},
      [success](const std::string& body) {
        --inFlight();
        success(body);
      },
      [failure](int status, const std::string& message) {
        --inFlight();
        failure(status, message);
      });
}

void ServiceClient::import(std::function<void(const ImportResult&)> done) {
  initService();
  if (!isConnected_) {
    if (done) done({});
    return;
  }
  const std::string name = serviceName_;
  auto finish = [done](const ImportResult& result) {
    ViewUpdater::stopActivity();
    if (done) done(result);
  };
  ViewUpdater::startActivity();
  auto failed = [name, finish](int status, const std::string& message) {
    const bool refused = status == 401 || status == 403;
    fnd::logError("ServiceImport: " + name + ": " + message);
    // Only refused credentials disconnect the account; a busy or absent service keeps it.
    if (refused) {
      if (auto record = Service::serviceNamed(name)) {
        record->deleteEntity();
        WrenEntity::saveContext();
      }
    }
    AlertPresenter::alert("Error connecting to " + displayName(name),
                          refused ? "An Error has occurred. This might probably be due to a wrong username or "
                                    "password. Please try again or contact Kesto support."
                                  : message + (message.empty() || message.back() == '.' ? "" : ".") +
                                        " Your bookmarks are unchanged; please try again later.",
                          "Ok");
    ViewUpdater::updateFoldersCompletely();
    finish({});
  };
  get("v1/posts/all", {{"results", "100000"}}, [name, finish](const std::string& body) {
    auto context = WrenDataManager::sharedInstance().secondaryObjectContext();
    if (!context) return finish({});
    context->perform([name, body, context, finish] {
      auto result = processImport(name, body, context);
      if (result.ok) {
        fnd::Error error;
        if (!context->save(&error))
          fnd::logFormat(fnd::LogFlag::Error, "Sync: Error saving temporary context:%s", error.description().c_str());
      }
      fnd::DispatchQueue::main().async([result, finish] {
        if (result.ok) {
          if (auto main = WrenDataManager::sharedInstance().managedObjectContext()) {
            fnd::Error error;
            if (!main->save(&error))
              fnd::logFormat(fnd::LogFlag::Error, "%s [Line %d] Sync: Error saving main context:%s", __func__, __LINE__,
                             error.description().c_str());
          }
          if (auto* dm = dataManagerOutlet()) dm->fetchAllBookmarksFromCoreDataFromService();
        }
        finish(result);
      });
    });
  }, failed);
}

ServiceClient::ImportResult ServiceClient::processImport(const std::string& serviceName, const std::string& xml,
                                                        const std::shared_ptr<store::Context>& context) {
  ImportResult result;
  if (xml.size() < 10) {
    fnd::logInfo("ServiceImport: No XML data to process");
    return result;
  }
  fnd::Error error;
  auto doc = fnd::XmlDocument::parse(xml, 0, &error);
  if (!doc) {
    fnd::logFormat(fnd::LogFlag::Error, "Error parsing ServiceImoprt XML: %s", error.description().c_str());
    return result;
  }
  // An error document is no empty list: nothing is dropped for it.
  if (doc->rootElement().name() != "posts") {
    fnd::logError("ServiceImport: the answer is not a post list");
    return result;
  }
  auto account = Service::serviceNamed(serviceName, context);
  if (!account) return result;
  auto local = Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse("ANY services.name == %@", {serviceName}),
                                                    nullptr, 0, 0, context)
                   .value_or(Bookmark::List{});
  std::unordered_map<std::string, Bookmark::Ref> byURL;
  for (const auto& b : local)
    if (auto url = b->url(); url && !byURL.count(*url)) byURL[*url] = b;
  std::unordered_map<std::string, Tag::Ref> tags;
  // `name` in its stored form, so a tag the library has is found again.
  auto tagNamed = [&](const std::string& name) {
    if (auto it = tags.find(name); it != tags.end()) return it->second;
    auto tag = Tag::fetchEntityWhereProperty("name", fnd::Value(name), context);
    if (!tag) {
      tag = Tag::initEntityInContext(context);
      tag->setName(name);
    }
    return tags[name] = tag;
  };
  std::unordered_map<Bookmark*, bool> seen;
  const auto now = fnd::Date::now();
  for (const auto& post : doc->rootElement().elementChildren("post")) {
    // The same check as every other door: a web address, kept whole and in its stored form
    // (which is also how it is found again); a post without one names nothing that is kept.
    const std::string href = fnd::trimWhitespaceAndNewlines(post.attribute("href").value_or(""));
    if (!stored::isWebAddress(href)) {
      ++result.refused;
      continue;
    }
    const std::string url = stored::address(href);
    Bookmark::Ref b;
    if (auto it = byURL.find(url); it != byURL.end()) {
      b = it->second;
      ++result.updated;
    } else {
      b = Bookmark::newBookmark(context);
      b->setUniqueID(WrenEntity::uniqueID());
      b->setVersion(1);
      b->setTrashed(0);
      b->addService(account);
      byURL[url] = b;
      ++result.added;
    }
    seen[b.get()] = true;
    b->setUrl(url);
    b->setBaseURL(Bookmark::baseURLForAddress(url));
    b->setTitle(fnd::replaceAll(post.attribute("description").value_or(""), "##semicolon##", ";"));
    b->setNotes(post.attribute("extended").value_or(""));
    b->setServiceHash(post.attribute("hash").value_or(""));
    for (const auto& t : b->tags()) b->removeTag(t);
    for (const auto& piece : fnd::split(post.attribute("tag").value_or(""), " "))
      if (const std::string name = stored::tagName(piece); !name.empty()) b->addTag(tagNamed(name));
    b->setImportDate(now);
    auto when = dateFromServiceString(post.attribute("time").value_or(""));
    b->setAddedDate(when);
    b->setUpdatedDate(when);
  }
  // A marked bookmark the service no longer lists goes to the trash, but only when the service
  // had listed it (it carries the service's hash): one whose upload failed stays.
  for (const auto& b : local) {
    if (seen.count(b.get()) || b->trashed() >= 1 || b->serviceHash().value_or("").empty()) continue;
    b->setTrashed(1);
    b->setVersion(b->version() + 1);
    ++result.trashed;
  }
  result.ok = true;
  return result;
}

std::optional<fnd::Date> ServiceClient::dateFromServiceString(const std::string& text) {
  return fnd::DateFormatter::threadFormatter("yyyy-MM-dd'T'HH:mm:ss'Z'").dateFromString(text);
}

void ServiceClient::saveBookmark(Bookmark& bookmark) {
  initService();
  if (!isConnected_) return;
  auto record = Service::serviceNamed(serviceName_);
  // Space-separated, as the service reads its tags back.
  std::vector<std::string> names;
  for (const auto& t : bookmark.tags()) names.push_back(t->name());
  std::sort(names.begin(), names.end());
  std::string tags;
  for (const auto& n : names) tags += (tags.empty() ? "" : " ") + n;
  ViewUpdater::startActivity();
  const std::string name = serviceName_;
  get(
      "v1/posts/add",
      {{"url", bookmark.url().value_or("")},
       {"description", bookmark.title().value_or("")},
       {"extended", bookmark.notes().value_or("")},
       {"replace", "1"},
       {"tags", tags},
       {"shared", record && record->defaultsToPublic() >= 1 ? "yes" : "no"}},
      [name](const std::string&) {
        ViewUpdater::showMessage("Uploading to " + name, 100, 100, 3);
        fnd::DispatchQueue::main().after(1.0, [] { ViewUpdater::stopActivity(); });
      },
      [name](int, const std::string& message) {
        fnd::logError("Posting to " + name + " failed: " + message);
        fnd::DispatchQueue::main().after(1.0, [] { ViewUpdater::stopActivity(); });
      });
}

void ServiceClient::deleteBookmark(const std::string& url) {
  initService();
  if (!isConnected_) return;
  const std::string name = serviceName_;
  get(
      "v1/posts/delete", {{"url", url}},
      [name](const std::string&) { ViewUpdater::showMessage("Deleted from " + name, 100, 100, 3); },
      [](int, const std::string&) {});
}

void ServiceClient::deleteTag(const std::string& name) {
  initService();
  if (!isConnected_) return;
  get("v1/tags/delete", {{"tag", name}}, [](const std::string&) {}, [](int, const std::string&) {});
}

int ServiceClient::requestsInFlight() { return inFlight(); }

bool ServiceClient::isAlreadyPresent(const std::string& url) const {
  auto list = Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(url)).value_or(Bookmark::List{});
  return std::any_of(list.begin(), list.end(), [this](const Bookmark::Ref& b) {
    return serviceName_ == Service::kPinboard ? b->isPinboard() : b->isDelicious();
  });
}

}  // namespace kesto
