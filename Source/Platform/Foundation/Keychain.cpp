#include "Platform/Foundation/Keychain.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StandardPaths.h"

#include <mutex>
#include <vector>

namespace kesto::fnd {

struct Keychain::Store {
  std::uint64_t nextId = 1;
  std::vector<KeychainItem> items;
};

namespace {

// One lock for all instances: two of them on one file must not interleave read-modify-write.
std::mutex& fileMutex() {
  static std::mutex m;
  return m;
}

constexpr std::uint64_t kMaxFileBytes = 16u * 1024 * 1024;
constexpr const char* kGeneric = "genp";
constexpr const char* kInternet = "inet";

Value encode(const KeychainItem& item) {
  return Value(Dictionary{
      {"class", Value(item.kind == KeychainItem::Kind::GenericPassword ? kGeneric : kInternet)},
      {"id", Value(static_cast<long long>(item.id))},
      {"service", Value(item.service)},
      {"account", Value(item.account)},
      {"server", Value(item.server)},
      {"securityDomain", Value(item.securityDomain)},
      {"path", Value(item.path)},
      {"port", Value(static_cast<long long>(item.port))},
      {"protocol", Value(static_cast<long long>(item.protocol))},
      {"authenticationType", Value(static_cast<long long>(item.authenticationType))},
      {"label", Value(item.label)},
      {"data", Value(item.data)},
  });
}

// What every new item carries, whatever its kind; the label is what keychain viewers list it by.
KeychainItem newItem(KeychainItem::Kind kind, std::string_view account, std::string_view label, const Data& password) {
  KeychainItem n;
  n.kind = kind;
  n.account = account;
  n.label = label;
  n.data = password;
  return n;
}

std::optional<KeychainItem> decode(const Value& v) {
  if (!v.isDictionary()) return std::nullopt;
  KeychainItem item;
  const std::string& cls = v["class"].string();
  if (cls == kGeneric)
    item.kind = KeychainItem::Kind::GenericPassword;
  else if (cls == kInternet)
    item.kind = KeychainItem::Kind::InternetPassword;
  else
    return std::nullopt;
  item.id = static_cast<std::uint64_t>(v["id"].intValue());
  if (item.id == 0) return std::nullopt;
  item.service = v["service"].string();
  item.account = v["account"].string();
  item.server = v["server"].string();
  item.securityDomain = v["securityDomain"].string();
  item.path = v["path"].string();
  item.port = static_cast<std::uint16_t>(v["port"].intValue());
  item.protocol = static_cast<std::uint32_t>(v["protocol"].intValue());
  item.authenticationType = static_cast<std::uint32_t>(v["authenticationType"].intValue());
  item.label = v["label"].string();
  item.data = v["data"].data();
  return item;
}

bool sameGeneric(const KeychainItem& i, std::string_view service, std::string_view account) {
  return i.kind == KeychainItem::Kind::GenericPassword && i.service == service && i.account == account;
}

bool matchesInternet(const KeychainItem& i, std::string_view server, std::string_view domain, std::string_view account,
                     std::string_view path, std::uint16_t port, std::uint32_t protocol, std::uint32_t authType,
                     bool wildcards) {
  if (i.kind != KeychainItem::Kind::InternetPassword || i.server != server || i.securityDomain != domain ||
      i.account != account || i.path != path || i.port != port)
    return false;
  if (wildcards) {
    return (protocol == kProtocolAny || i.protocol == protocol) &&
           (authType == kAuthenticationTypeAny || i.authenticationType == authType);
  }
  return i.protocol == protocol && i.authenticationType == authType;
}

}  // namespace

Keychain& Keychain::defaultKeychain() {
  static Keychain instance(defaultFilePath());
  return instance;
}

std::string Keychain::defaultFilePath() {
  const std::string folder = StandardPaths::applicationDirectory();
  return folder.empty() ? std::string() : StandardPaths::appendingPathComponent(folder, "keychain.plist");
}

Keychain::Keychain(std::string filePath) : path_(std::move(filePath)) {}
Keychain::~Keychain() = default;

OSStatus Keychain::load(Store& store) const {
  if (path_.empty()) return errSecNotAvailable;
  bool isDirectory = false;
  if (!FileManager::fileExists(path_, &isDirectory)) return errSecSuccess;  // nothing stored yet
  if (isDirectory) return errSecIO;
  auto bytes = FileManager::contentsAtPath(path_, kMaxFileBytes);
  if (!bytes) return errSecIO;
  // An unreadable file is reported, never replaced: the secrets in it may still be wanted.
  auto root = PropertyList::read(*bytes);
  if (!root || !root->isDictionary() || !(*root)["items"].isArray()) return errSecDecode;
  store.nextId = static_cast<std::uint64_t>((*root)["nextId"].intValue(1));
  for (const Value& v : (*root)["items"].array()) {
    auto item = decode(v);
    if (!item) return errSecDecode;
    if (item->id >= store.nextId) store.nextId = item->id + 1;
    store.items.push_back(std::move(*item));
  }
  return errSecSuccess;
}

OSStatus Keychain::save(const Store& store) const {
  Array items;
  items.reserve(store.items.size());
  for (const KeychainItem& i : store.items) items.push_back(encode(i));
  const Value root(Dictionary{{"version", Value(1)},
                              {"nextId", Value(static_cast<long long>(store.nextId))},
                              {"items", Value(std::move(items))}});
  auto bytes = PropertyList::write(root, PropertyListFormat::Binary);
  if (!bytes) return errSecAllocate;
  const std::string folder = FileManager::deletingLastPathComponent(path_);
  if (!FileManager::createDirectory(folder, true, 0700)) return errSecIO;
  if (!FileManager::writeFile(path_, *bytes, true, 0600)) return errSecIO;
  return errSecSuccess;
}

OSStatus Keychain::withStore(const std::function<OSStatus(Store&)>& use) const {
  std::lock_guard<std::mutex> lock(fileMutex());
  Store store;
  if (OSStatus s = load(store); s != errSecSuccess) return s;
  return use(store);
}

OSStatus Keychain::findFirst(const std::function<bool(const KeychainItem&)>& matches, Data* password,
                             KeychainItemRef* item) const {
  return withStore([&](Store& store) -> OSStatus {
    for (const KeychainItem& i : store.items) {
      if (!matches(i)) continue;
      if (password) *password = i.data;
      if (item) *item = std::make_shared<const KeychainItem>(i);
      return errSecSuccess;
    }
    return errSecItemNotFound;
  });
}

OSStatus Keychain::addUnlessPresent(const std::function<bool(const KeychainItem&)>& same, KeychainItem fresh,
                                    KeychainItemRef* item) const {
  return withStore([&](Store& store) -> OSStatus {
    for (const KeychainItem& i : store.items)
      if (same(i)) return errSecDuplicateItem;
    return append(store, std::move(fresh), item);
  });
}

OSStatus Keychain::append(Store& store, KeychainItem item, KeychainItemRef* ref) const {
  item.id = store.nextId++;
  store.items.push_back(item);
  if (OSStatus s = save(store); s != errSecSuccess) return s;
  if (ref) *ref = std::make_shared<const KeychainItem>(std::move(item));
  return errSecSuccess;
}

OSStatus Keychain::findGenericPassword(std::string_view service, std::string_view account, Data* password,
                                       KeychainItemRef* item) {
  return findFirst([&](const KeychainItem& i) { return sameGeneric(i, service, account); }, password, item);
}

OSStatus Keychain::addGenericPassword(std::string_view service, std::string_view account, const Data& password,
                                      KeychainItemRef* item) {
  KeychainItem n = newItem(KeychainItem::Kind::GenericPassword, account, service, password);
  n.service = service;
  return addUnlessPresent([&](const KeychainItem& i) { return sameGeneric(i, service, account); }, std::move(n), item);
}

OSStatus Keychain::findInternetPassword(std::string_view server, std::string_view securityDomain,
                                        std::string_view account, std::string_view path, std::uint16_t port,
                                        std::uint32_t protocol, std::uint32_t authenticationType, Data* password,
                                        KeychainItemRef* item) {
  return findFirst(
      [&](const KeychainItem& i) {
        return matchesInternet(i, server, securityDomain, account, path, port, protocol, authenticationType, true);
      },
      password, item);
}

OSStatus Keychain::addInternetPassword(std::string_view server, std::string_view securityDomain,
                                       std::string_view account, std::string_view path, std::uint16_t port,
                                       std::uint32_t protocol, std::uint32_t authenticationType, const Data& password,
                                       KeychainItemRef* item) {
  KeychainItem n = newItem(KeychainItem::Kind::InternetPassword, account, server, password);
  n.server = server;
  n.securityDomain = securityDomain;
  n.path = path;
  n.port = port;
  n.protocol = protocol;
  n.authenticationType = authenticationType;
  return addUnlessPresent(
      [&](const KeychainItem& i) {
        return matchesInternet(i, server, securityDomain, account, path, port, protocol, authenticationType, false);
      },
      std::move(n), item);
}

OSStatus Keychain::modifyItemData(const KeychainItemRef& item, const Data& password) {
  if (!item) return errSecInvalidItemRef;
  return withStore([&](Store& store) -> OSStatus {
    for (KeychainItem& i : store.items) {
      if (i.id != item->id) continue;
      i.data = password;
      return save(store);
    }
    return errSecItemNotFound;
  });
}

OSStatus Keychain::deleteItem(const KeychainItemRef& item) {
  if (!item) return errSecInvalidItemRef;
  return withStore([&](Store& store) -> OSStatus {
    for (auto it = store.items.begin(); it != store.items.end(); ++it) {
      if (it->id != item->id) continue;
      store.items.erase(it);
      return save(store);
    }
    return errSecItemNotFound;
  });
}

std::string Keychain::statusMessage(OSStatus status) {
  switch (status) {
    case errSecSuccess: return "No error.";
    case errSecUnimplemented: return "Function or operation not implemented.";
    case errSecIO: return "I/O error.";
    case errSecParam: return "One or more parameters passed to a function were not valid.";
    case errSecAllocate: return "Failed to allocate memory.";
    case errSecNotAvailable: return "No keychain is available.";
    case errSecDuplicateItem: return "The specified item already exists in the keychain.";
    case errSecItemNotFound: return "The specified item could not be found in the keychain.";
    case errSecInvalidItemRef: return "The specified item is no longer valid.";
    case errSecDecode: return "Unable to decode the provided data.";
    default: return "Keychain error " + std::to_string(status) + ".";
  }
}

}  // namespace kesto::fnd
