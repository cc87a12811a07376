#include "Skyfolder/SFKeychain.h"

#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Skyfolder/SFConfig.h"
#include "Skyfolder/SFLog.h"

#include <mutex>

namespace kesto {

namespace {

constexpr const char* kAccount = "Skyfolder";

const std::string& serviceName() {
  static const std::string name = [] {
    std::string n = SFConfig::bundleName();
    return n.empty() ? SFConfig::bundleIdentifier() : n;
  }();
  return name;
}

// Serialises whole read-modify-write sequences on the item.
std::mutex& itemMutex() {
  static std::mutex m;
  return m;
}

// Reads the item regardless of the flag; absent when there is none (or it cannot be read).
fnd::OSStatus findItem(fnd::Data* data, fnd::KeychainItemRef* item) {
  return fnd::Keychain::defaultKeychain().findGenericPassword(serviceName(), kAccount, data, item);
}

}  // namespace

std::optional<fnd::Dictionary> SFKeychain::credentials() {
  std::lock_guard lock(itemMutex());
  if (!fnd::UserDefaults::standard().boolForKey(kSFSkyfolderLinkedKey)) return std::nullopt;
  fnd::Data data;
  const fnd::OSStatus status = findItem(&data, nullptr);
  if (status == fnd::errSecItemNotFound) return std::nullopt;
  if (status != fnd::errSecSuccess) {
    SFLogWarning("SkyfolderSDK: error reading stored credentials (%d)", status);
    return std::nullopt;
  }
  auto record = fnd::PropertyList::read(data);
  if (!record || !record->isDictionary()) return std::nullopt;
  return record->dictionary();
}

void SFKeychain::setCredentials(const fnd::Dictionary& credentials) {
  auto archive = fnd::PropertyList::write(fnd::Value(credentials), fnd::PropertyListFormat::Binary);
  if (!archive) {
    SFLogWarning("SkyfolderSDK: error setting stored credentials (%d)", fnd::errSecParam);
    return;
  }
  std::lock_guard lock(itemMutex());
  auto& keychain = fnd::Keychain::defaultKeychain();
  fnd::KeychainItemRef item;
  fnd::OSStatus status = findItem(nullptr, &item);
  if (status == fnd::errSecSuccess)
    status = keychain.modifyItemData(item, *archive);
  else
    status = keychain.addGenericPassword(serviceName(), kAccount, *archive);
  if (status != fnd::errSecSuccess) {
    SFLogWarning("SkyfolderSDK: error setting stored credentials (%d)", status);
    return;
  }
  // Only a stored record may be announced: a flag set before a failed write would bring an old
  // record back at the next start.
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(true, kSFSkyfolderLinkedKey);
  defaults.synchronize();
}

void SFKeychain::deleteCredentials() {
  std::lock_guard lock(itemMutex());
  fnd::KeychainItemRef item;
  const fnd::OSStatus found = findItem(nullptr, &item);
  auto& defaults = fnd::UserDefaults::standard();
  if (found == fnd::errSecItemNotFound) {
    if (defaults.hasValueForKey(kSFSkyfolderLinkedKey)) {
      defaults.removeObject(kSFSkyfolderLinkedKey);
      defaults.synchronize();
    }
    return;
  }
  const fnd::OSStatus status =
      found == fnd::errSecSuccess ? fnd::Keychain::defaultKeychain().deleteItem(item) : found;
  if (status != fnd::errSecSuccess) {
    SFLogWarning("SkyfolderSDK: error deleting stored credentials (%d)", status);
    return;
  }
  defaults.removeObject(kSFSkyfolderLinkedKey);
  defaults.synchronize();
}

}  // namespace kesto
