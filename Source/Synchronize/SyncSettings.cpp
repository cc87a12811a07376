#include "Synchronize/SyncSettings.h"

#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Coordinator.h"

namespace kesto::syncsettings {

std::string stringDefault(const char* key) { return fnd::UserDefaults::standard().stringForKey(key).value_or(""); }

bool isLoopbackHost(std::string_view host) {
  if (host == "::1" || host == "[::1]") return true;
  if (host.rfind("[::1]:", 0) == 0) return true;
  if (const auto colon = host.rfind(':'); colon != std::string_view::npos) host = host.substr(0, colon);
  return host == "127.0.0.1" || host == "localhost";
}

// ---- the account's password ----

namespace {

fnd::OSStatus findPassword(fnd::Data* data, fnd::KeychainItemRef* item) {
  return fnd::Keychain::defaultKeychain().findGenericPassword(kPasswordService, kPasswordAccount, data, item);
}

bool storePassword(const std::string& password) {
  auto& keychain = fnd::Keychain::defaultKeychain();
  const fnd::Data data(password.begin(), password.end());
  fnd::KeychainItemRef item;
  fnd::OSStatus status = findPassword(nullptr, &item);
  if (status == fnd::errSecSuccess) status = keychain.modifyItemData(item, data);
  else if (status == fnd::errSecItemNotFound) status = keychain.addGenericPassword(kPasswordService, kPasswordAccount, data);
  if (status != fnd::errSecSuccess)
    fnd::logError("The account password could not be kept in the keychain: " + fnd::Keychain::statusMessage(status));
  return status == fnd::errSecSuccess;
}

// A password an older version kept in the settings moves to the keychain (once it is safely there).
void moveLegacyPassword() {
  auto& defaults = fnd::UserDefaults::standard();
  auto legacy = defaults.stringForKey(kLegacyPasswordKey);
  if (!defaults.hasValueForKey(kLegacyPasswordKey)) return;
  if (legacy && !legacy->empty() && !storePassword(*legacy)) return;
  defaults.removeObject(kLegacyPasswordKey);
  defaults.synchronize();
}

}  // namespace

std::string accountPassword() {
  moveLegacyPassword();
  fnd::Data data;
  if (findPassword(&data, nullptr) != fnd::errSecSuccess) return {};
  return std::string(data.begin(), data.end());
}

bool setAccountPassword(const std::string& password) {
  moveLegacyPassword();
  return storePassword(password);
}

void removeAccountPassword() {
  moveLegacyPassword();
  fnd::KeychainItemRef item;
  if (findPassword(nullptr, &item) == fnd::errSecSuccess) fnd::Keychain::defaultKeychain().deleteItem(item);
}

// ---- the library's identifier ----

std::string makeLibraryIdentifier() { return "kesto-" + WrenEntity::uniqueID(); }

namespace {

void keepInStore(store::Coordinator& coordinator, const std::string& identifier) {
  fnd::Error error;
  if (!coordinator.setMetadataValue(kLibraryIdentifierKey, identifier, &error))
    fnd::logError("The library identifier could not be kept in the store: " + error.localizedDescription());
}

void setSetting(const std::string& identifier) {
  auto& defaults = fnd::UserDefaults::standard();
  if (defaults.stringForKey(kLibraryIdentifierKey).value_or("") == identifier) return;
  defaults.setString(identifier, kLibraryIdentifierKey);
  defaults.synchronize();
}

}  // namespace

std::string libraryIdentifier() {
  auto setting = stringDefault(kLibraryIdentifierKey);
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (!coordinator) {
    if (setting.empty()) setSetting(setting = makeLibraryIdentifier());
    return setting;
  }
  const auto metadata = coordinator->metadata();
  if (auto it = metadata.find(kLibraryIdentifierKey); it != metadata.end()) {
    if (auto kept = it->second.stringIfString(); kept && !kept->empty()) {
      setSetting(*kept);
      return *kept;
    }
  }
  // A copied settings file must not make a new library pass for the one it came from.
  std::string identifier = coordinator->createdStore() || setting.empty() ? makeLibraryIdentifier() : setting;
  keepInStore(*coordinator, identifier);
  setSetting(identifier);
  return identifier;
}

std::string renewLibraryIdentifier(const std::string& given) {
  const std::string identifier = given.empty() ? makeLibraryIdentifier() : given;
  if (auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator()) {
    keepInStore(*coordinator, identifier);
    fnd::Error error;
    if (!coordinator->setMetadataValue(kOwnUploadsKey, "", &error))
      fnd::logError("The marks of the library's uploads could not be cleared: " + error.localizedDescription());
  }
  setSetting(identifier);
  return identifier;
}

std::vector<std::string> ownUploads() {
  std::vector<std::string> marks;
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (!coordinator) return marks;
  const auto metadata = coordinator->metadata();
  auto it = metadata.find(kOwnUploadsKey);
  if (it == metadata.end()) return marks;
  for (auto& mark : fnd::split(it->second.stringIfString().value_or(""), " "))
    if (!mark.empty()) marks.push_back(std::move(mark));
  return marks;
}

bool noteOwnUpload(const std::string& uploadID, const std::string& newIdentifier) {
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (!coordinator || uploadID.empty() || uploadID.find(' ') != std::string::npos) return false;
  std::vector<std::string> marks;
  if (newIdentifier.empty()) marks = ownUploads();
  else keepInStore(*coordinator, newIdentifier);
  marks.push_back(uploadID);
  if (marks.size() > kOwnUploadsKept) marks.erase(marks.begin(), marks.end() - kOwnUploadsKept);
  std::string text;
  for (const auto& mark : marks) text += (text.empty() ? "" : " ") + mark;
  fnd::Error error;
  if (coordinator->setMetadataValue(kOwnUploadsKey, text, &error)) return true;
  fnd::logError("The mark of the library's upload could not be kept: " + error.localizedDescription());
  return false;
}

}  // namespace kesto::syncsettings
