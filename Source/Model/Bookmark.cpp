#include "Model/Bookmark.h"

#include "Model/DataModel.h"
#include "Model/FileManagerAdditions.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/BookmarkServiceClient.h"
#include "Model/RemoteImageView.h"
#include "Model/StoredText.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"

#include <algorithm>
#include <cctype>

namespace kesto {

namespace a = bookmark_attr;
namespace r = bookmark_rel;

#define KESTO_STRING_IMPL(getter, setter, slot)                                            \
  std::optional<std::string> Bookmark::getter() const { return value(slot).stringIfString(); } \
  void Bookmark::setter(const std::optional<std::string>& v) { setValue(slot, v ? fnd::Value(*v) : fnd::Value()); }
#define KESTO_INT_IMPL(getter, setter, slot)                                    \
  std::int64_t Bookmark::getter() const { return value(slot).intValue(); } \
  void Bookmark::setter(std::int64_t v) { setValue(slot, v); }
#define KESTO_DATE_IMPL(getter, setter, slot)                           \
  std::optional<fnd::Date> Bookmark::getter() const {                  \
    const auto& v = value(slot);                                         \
    if (!v.isDate()) return std::nullopt;                                \
    return v.date();                                                     \
  }                                                                      \
  void Bookmark::setter(const std::optional<fnd::Date>& v) { setValue(slot, v ? fnd::Value(*v) : fnd::Value()); }

KESTO_STRING_IMPL(uniqueIDValue, setUniqueID, a::uniqueID)
// Every door stores through these, so the stored text is always cleaned and bounded.
std::optional<std::string> Bookmark::url() const { return value(a::url).stringIfString(); }
void Bookmark::setUrl(const std::optional<std::string>& v) {
  setValue(a::url, v ? fnd::Value(stored::address(*v)) : fnd::Value());
}
KESTO_STRING_IMPL(baseURL, setBaseURL, a::baseURL)
std::optional<std::string> Bookmark::title() const { return value(a::title).stringIfString(); }
void Bookmark::setTitle(const std::optional<std::string>& v) {
  setValue(a::title, v ? fnd::Value(stored::title(*v)) : fnd::Value());
}
std::optional<std::string> Bookmark::notes() const { return value(a::notes).stringIfString(); }
void Bookmark::setNotes(const std::optional<std::string>& v) {
  setValue(a::notes, v ? fnd::Value(stored::note(*v)) : fnd::Value());
}
KESTO_STRING_IMPL(content, setContent, a::content)
KESTO_STRING_IMPL(importedFrom, setImportedFrom, a::importedFrom)
KESTO_STRING_IMPL(color, setColor, a::color)
KESTO_STRING_IMPL(login, setLogin, a::login)
KESTO_STRING_IMPL(password, setPassword, a::password)
KESTO_STRING_IMPL(serviceHash, setServiceHash, a::serviceHash)
KESTO_DATE_IMPL(addedDate, setAddedDate, a::addedDate)
KESTO_DATE_IMPL(updatedDate, setUpdatedDate, a::updatedDate)
KESTO_DATE_IMPL(importDate, setImportDate, a::importDate)
KESTO_DATE_IMPL(lastOpened, setLastOpened, a::lastOpened)
KESTO_INT_IMPL(timesOpened, setTimesOpened, a::timesOpened)
KESTO_INT_IMPL(isFavorite, setIsFavorite, a::isFavorite)
KESTO_INT_IMPL(trashed, setTrashed, a::trashed)
KESTO_INT_IMPL(blocked, setBlocked, a::blocked)
KESTO_INT_IMPL(broken, setBroken, a::broken)
KESTO_INT_IMPL(needsUpdate, setNeedsUpdate, a::needsUpdate)
KESTO_INT_IMPL(titleUpdated, setTitleUpdated, a::titleUpdated)
KESTO_INT_IMPL(imageUpdated, setImageUpdated, a::imageUpdated)
KESTO_INT_IMPL(thumbnailManuallySet, setThumbnailManuallySet, a::thumbnailManuallySet)
KESTO_INT_IMPL(showImported, setShowImported, a::showImported)
KESTO_INT_IMPL(version, setVersion, a::version)

std::optional<double> Bookmark::rating() const { return value(a::rating).numberIfNumber(); }
void Bookmark::setRating(const std::optional<double>& v) { setValue(a::rating, v ? fnd::Value(*v) : fnd::Value()); }

std::optional<fnd::Data> Bookmark::thumbnail() const {
  const auto& v = value(a::thumbnail);
  if (!v.isData()) return std::nullopt;
  return v.data();
}
void Bookmark::setThumbnail(const std::optional<fnd::Data>& v) { setValue(a::thumbnail, v ? fnd::Value(*v) : fnd::Value()); }
std::optional<fnd::Data> Bookmark::favicon() const {
  const auto& v = value(a::favicon);
  if (!v.isData()) return std::nullopt;
  return v.data();
}
void Bookmark::setFavicon(const std::optional<fnd::Data>& v) { setValue(a::favicon, v ? fnd::Value(*v) : fnd::Value()); }

std::shared_ptr<Folder> Bookmark::folder() const { return std::dynamic_pointer_cast<Folder>(toOne(r::folder)); }
void Bookmark::setFolder(const std::shared_ptr<Folder>& folder) { setToOne(r::folder, folder); }

std::vector<std::shared_ptr<Tag>> Bookmark::tags() const {
  std::vector<std::shared_ptr<Tag>> out;
  for (auto& o : toMany(r::tags))
    if (auto t = std::dynamic_pointer_cast<Tag>(o)) out.push_back(std::move(t));
  return out;
}
void Bookmark::loadTagsAndServices(const List& bookmarks) {
  // Each context reads its own objects' sets; the bookmarks of a list share one.
  std::vector<store::ManagedObjectRef> objects;
  ContextRef context;
  auto load = [&] {
    if (!context || objects.empty()) return;
    for (int relationship : {r::tags, r::services}) context->loadToMany(objects, relationship);
    objects.clear();
  };
  for (const auto& b : bookmarks) {
    if (!b) continue;
    auto c = b->context();
    if (c != context) load();
    context = std::move(c);
    if (context) objects.push_back(b);
  }
  load();
}
void Bookmark::addTag(const std::shared_ptr<Tag>& tag) { addToMany(r::tags, tag); }
void Bookmark::removeTag(const std::shared_ptr<Tag>& tag) { removeFromMany(r::tags, tag); }

std::vector<std::string> Bookmark::serviceNames() const {
  std::vector<std::string> names;
  for (auto& s : toMany(r::services)) names.push_back(s->value(service_attr::name).string());
  return names;
}
void Bookmark::addService(const store::ManagedObjectRef& service) { addToMany(r::services, service); }

Bookmark::Ref Bookmark::newBookmark(const ContextRef& context) {
  auto b = initEntityInContext(context);
  if (!b) return nullptr;
  b->setAddedDate(fnd::Date::now());
  b->setTitle(std::string(kNewTitle));
  b->setUniqueID(uniqueID());
  b->setNeedsUpdate(1);
  b->setFavicon(std::nullopt);
  return b;
}

namespace {

// The bookmark whose `property` equals `value`, else a new one for `url`. A failed lookup is
// not "none": creating then would duplicate the bookmark.
Bookmark::Ref fetchOrCreate(const char* property, const std::string& value, const std::string& url,
                            const ContextRef& context) {
  fnd::Error error;
  auto ctx = context ? context : Bookmark::defaultContext();
  auto found = Bookmark::fetch(Bookmark::entityName(), Bookmark::propertyPredicate(property, value), nullptr, 1, 0,
                               ctx, &error);
  if (!found) {
    logDetailedError("fetch the bookmark", &error);
    return nullptr;
  }
  if (!found->empty()) return std::dynamic_pointer_cast<Bookmark>(found->front());
  auto b = Bookmark::newBookmark(ctx);
  if (b) b->setUrl(fnd::decodeAddressForStorage(url));
  return b;
}

}  // namespace

std::string Bookmark::baseURLForAddress(std::string_view url) {
  const std::size_t schemeEnd = stored::schemeLength(url);
  if (schemeEnd == 0) return {};
  // The scheme in lower case, as the stored address has it.
  std::string base = fnd::asciiLowercase(url.substr(0, schemeEnd));
  std::string_view rest = url.substr(schemeEnd + 1);
  // Without "//" the address names no host: no "://" is made up for it.
  if (rest.substr(0, 2) != "//") return base + ":";
  rest.remove_prefix(2);
  // Up to the first "/" as written: user, password, host and port.
  return base + "://" + std::string(rest.substr(0, rest.find('/')));
}

Bookmark::Ref Bookmark::bookmarkWithURL(const std::string& url, const ContextRef& context) {
  return fetchOrCreate("url", url, url, context);
}

Bookmark::Ref Bookmark::bookmarkWithUniqueID(const std::string& id, const std::string& url, const ContextRef& context) {
  return fetchOrCreate("uniqueID", id, url, context);
}

Bookmark::Ref Bookmark::addCommon(const std::string& url) {
  auto b = newBookmark();
  if (!b) return nullptr;
  b->setUrl(fnd::decodeAddressForStorage(url));
  b->setBaseURL(baseURLForAddress(url));
  b->setUpdatedDate(fnd::Date::now());
  b->setTrashed(0);
  return b;
}

Bookmark::Ref Bookmark::addBookmarkWithURL(const std::string& url, const std::shared_ptr<Folder>& folder) {
  auto b = addCommon(url);
  if (!b) return nullptr;
  b->setFolder(folder ? folder : Folder::inboxFolder());
  b->saveBookmark();
  return b;
}

void Bookmark::addBookmarkWithURL(const std::string& url, const std::string& folderID) {
  addBookmarkWithURL(url, Folder::folderWithFolderID(folderID));
}

Bookmark::Ref Bookmark::addBookmarWithURL(const std::string& url, const std::string& serviceName) {
  auto b = addCommon(url);
  if (!b) return nullptr;
  b->saveBookmark();
  if (serviceName == Service::kDelicious || serviceName == Service::kPinboard) {
    if (auto service = Service::serviceNamed(serviceName)) {
      b->addService(service);
      // The mark must reach the store too, or the bookmark loses its service on restart.
      saveContext();
    }
  }
  return b;
}

Bookmark::Ref Bookmark::addBookmarkWithURL(const std::string& url, const std::vector<std::string>& tagNames) {
  auto b = addCommon(url);
  if (!b) return nullptr;
  for (const auto& name : tagNames) {
    auto tag = Tag::fetchEntityWhereProperty("name", name);
    if (!tag) {
      tag = Tag::initEntity();
      if (!tag) continue;
      tag->setName(name);
    }
    b->addTag(tag);
  }
  b->setFolder(Folder::inboxFolder());
  b->incrementVersionNumber();
  return b;
}

std::vector<std::string> Bookmark::folderIDsForFolder(const std::string& folderID) {
  std::vector<std::string> ids{folderID};
  if (auto folder = Folder::existingFolderWithFolderID(folderID))
    for (const auto& sub : folder->subFolders()) ids.push_back(sub->folderID());
  return ids;
}

store::PredicateRef Bookmark::buildPredicateForFolder(const std::string& folderID) {
  auto list = folderIDsForFolder(folderID);
  fnd::Array ids(list.begin(), list.end());
  return store::Predicate::parse("trashed < 1 and blocked < 1 and folder.folderID IN %@", {fnd::Value(std::move(ids))});
}

Bookmark::List Bookmark::fetchBookmarksWithAncestorFolderId(const std::string& folderID,
                                                            const std::vector<store::SortDescriptor>& sorts,
                                                            std::int64_t limit) {
  auto predicateFor = [](const std::string& id) {
    return store::Predicate::parse("folder.folderID == %@ and trashed < 1", {id});
  };
  List collected = fetchEntitiesWithPredicate(predicateFor(folderID), &sorts, limit).value_or(List{});
  auto reached = [&] { return static_cast<std::int64_t>(collected.size()) >= limit; };
  if (auto folder = Folder::existingFolderWithFolderID(folderID)) {
    bool stop = false;
    for (const auto& sub : folder->subFolders()) {
      if (reached()) break;
      for (auto& b : fetchEntitiesWithPredicate(predicateFor(sub->folderID())).value_or(List{})) {
        if (reached()) {
          stop = true;
          break;
        }
        collected.push_back(std::move(b));
      }
      if (stop) break;
    }
  }
  fnd::Array values(collected.begin(), collected.end());
  store::sortArray(values, sorts);
  List out;
  for (auto& v : values) out.push_back(v.objectAs<Bookmark>());
  return out;
}

void Bookmark::deleteBookmarks(const List& bookmarks, const ContextRef& context) {
  for (const auto& b : bookmarks)
    if (b) b->deleteBookmarkInContext(context ? context : defaultContext());
}

void Bookmark::incrementVersionNumber() {
  setVersion(version() + 1);
  saveContext();
}

bool Bookmark::saveBookmark() {
  incrementVersionNumber();
  setUpdatedDate(fnd::Date::now());
  const bool saved = saveContext();
  if (isDelicious())
    if (auto client = makeBookmarkServiceClient(Service::kDelicious)) client->saveBookmark(*this);
  if (isPinboard())
    if (auto client = makeBookmarkServiceClient(Service::kPinboard)) client->saveBookmark(*this);
  return saved;
}

void Bookmark::willSave() {
  if (!value(a::url).isString()) setValue(a::url, std::string(kUnknownURL));
}

void Bookmark::awakeFromFetch() {
  // Most rows have no content: one shared text for all of them, not one each.
  static const fnd::Value blank(" ");
  if (!value(a::title).isString()) setPrimitiveValue(a::title, blank);
  if (!value(a::content).isString()) setPrimitiveValue(a::content, blank);
}

void Bookmark::deleteBookmark() { deleteEntityInContext(defaultContext()); }
void Bookmark::deleteBookmarkInContext(const ContextRef& context) { deleteEntityInContext(context); }

void Bookmark::deleteFromServices(const std::string& url) {
  if (isDelicious())
    if (auto client = makeBookmarkServiceClient(Service::kDelicious)) client->deleteBookmark(url);
  if (isPinboard())
    if (auto client = makeBookmarkServiceClient(Service::kPinboard)) client->deleteBookmark(url);
}

void Bookmark::deleteChacheItems() {
  if (auto path = faviconFilePath()) fnd::FileManager::removeItem(*path);
}

bool Bookmark::belongsToService(const char* name) const {
  // Most bookmarks belong to no service: they answer without a look-up in the store.
  if (toManyCount(r::services) == 0) return false;
  auto service = Service::serviceNamed(name);
  if (!service) return false;
  for (const auto& s : toMany(r::services))
    if (s == service) return true;
  return false;
}

bool Bookmark::isDelicious() const { return belongsToService(Service::kDelicious); }
bool Bookmark::isPinboard() const { return belongsToService(Service::kPinboard); }

std::string Bookmark::completePath() const {
  auto f = folder();
  return f ? f->completeFolderPath() : std::string();
}

bool Bookmark::hasTag(const Tag& tag) const {
  const std::string wanted = tag.name();
  for (const auto& t : tags())
    if (t->name() == wanted) return true;
  return false;
}

std::vector<std::string> Bookmark::sortedTagNames() const {
  std::vector<std::string> names;
  for (const auto& t : tags()) names.push_back(t->name());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Bookmark::tagsAsString() const {
  return fnd::join(sortedTagNames(), ", ");
}

std::optional<std::string> Bookmark::currentColorImage() const {
  static const char* const kColours[] = {"green", "grey", "blue", "orange", "red", "yellow"};
  auto c = color();
  if (!c) return std::nullopt;
  for (const char* word : kColours)
    if (*c == word) return std::string("bookmark_") + word;
  return std::nullopt;
}

fnd::Dictionary Bookmark::bookmarkAsDictionary(bool withThumbnail) {
  if (!url()) setUrl(std::string(kUnknownDictionaryURL));
  if (value(a::thumbnailManuallySet).isNull()) setThumbnailManuallySet(0);
  fnd::Dictionary d;
  auto put = [&](const char* key, const fnd::Value& v) {
    if (!v.isNull()) d[key] = v;
  };
  std::string stored = *url();
  std::string escaped = fnd::addPercentEscapes(stored);
  d["url"] = escaped.empty() ? stored : escaped;
  put("uniqueID", value(a::uniqueID));
  put("baseURL", value(a::baseURL));
  put("title", value(a::title));
  if (withThumbnail) put("thumbnail", value(a::thumbnail));
  put("needsUpdate", value(a::needsUpdate));
  put("imageUpdated", value(a::imageUpdated));
  put("titleUpdated", value(a::titleUpdated));
  put("thumbnailManuallySet", value(a::thumbnailManuallySet));
  d["content"] = content().value_or(std::string());
  return d;
}

std::string Bookmark::thumbnailRequestURL(const std::string& pageURL, const std::string& size, int wait) {
  // Only web pages have a picture the service can take; no other address leaves the machine.
  const std::string page = fnd::removePercentEscapesOrKeep(pageURL);
  const auto isScheme = [&](std::string_view scheme) {
    return page.size() > scheme.size() + 3 && fnd::asciiHasPrefixIgnoringCase(page, scheme) &&
           page.compare(scheme.size(), 3, "://") == 0;
  };
  if (!isScheme("http") && !isScheme("https")) return {};
  std::string host = fnd::UserDefaults::standard().stringForKey(kThumbnailHostDefaultsKey).value_or(kThumbnailDefaultHost);
  while (!host.empty() && host.back() == '/') host.pop_back();
  // Every parameter is encoded, so "&", "#", "+" or a blank in the address cannot cut or add
  // parameters.
  std::string out = host + "/v2/thumbs.php?size=" + fnd::percentEncodeUnreserved(size) + "&code=" +
                    kThumbnailAccessCode + "&url=" + fnd::percentEncodeUnreserved(page);
  if (wait > 0) out += "&wait=" + std::to_string(wait);
  return out;
}

void Bookmark::tempThumbnail() {
  if (!tmpThumbnail_) tmpThumbnail_ = makeRemoteImageView(0, 0, 240, 180);
  if (!tmpThumbnail_) return;
  if (thumbnailManuallySet() < 1) {
    const std::string request = thumbnailRequestURL(url().value_or(std::string()), "l", 60);
    tmpThumbnail_->setImageURL(request.empty() ? std::nullopt : std::optional(request));
  } else {
    tmpThumbnail_->setImageData(thumbnail());
  }
}

std::optional<std::string> Bookmark::previewURL() const {
  auto u = url();
  if (!u || u->empty() || u->find("://") == std::string::npos) return std::nullopt;
  return u;
}

std::optional<std::string> Bookmark::faviconFilePath() const {
  return kesto_cacheFilePath(uniqueIDValue().value_or(std::string()));
}

}  // namespace kesto
