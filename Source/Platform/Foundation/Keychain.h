#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kesto::fnd {

// Result codes, with the values the keychain API of the other platform uses.
using OSStatus = std::int32_t;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecUnimplemented = -4;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInvalidItemRef = -25304;
inline constexpr OSStatus errSecDecode = -26275;

// Four-character codes of internet items.
constexpr std::uint32_t fourCharCode(const char (&c)[5]) {
  return (std::uint32_t(std::uint8_t(c[0])) << 24) | (std::uint32_t(std::uint8_t(c[1])) << 16) |
         (std::uint32_t(std::uint8_t(c[2])) << 8) | std::uint32_t(std::uint8_t(c[3]));
}
// Protocols and authentication types; 0 ("any") matches every value when finding.
inline constexpr std::uint32_t kProtocolAny = 0;
inline constexpr std::uint32_t kProtocolHTTP = fourCharCode("http");
inline constexpr std::uint32_t kProtocolHTTPS = fourCharCode("htps");
inline constexpr std::uint32_t kProtocolOAuth = fourCharCode("oaut");
inline constexpr std::uint32_t kAuthenticationTypeAny = 0;
inline constexpr std::uint32_t kAuthenticationTypeDefault = fourCharCode("dflt");

// One stored password item. Generic items are identified by (service, account); internet
// items by (server, securityDomain, account, path, port, protocol, authenticationType).
struct KeychainItem {
  enum class Kind { GenericPassword, InternetPassword };
  Kind kind = Kind::GenericPassword;
  std::uint64_t id = 0;  // stable while the item exists; assigned when added
  std::string service;   // generic
  std::string account;
  std::string server;  // internet
  std::string securityDomain;
  std::string path;
  std::uint16_t port = 0;
  std::uint32_t protocol = 0;
  std::uint32_t authenticationType = 0;
  std::string label;
  Data data;  // the secret
};
// A handle to a stored item, as returned by find and add: a snapshot taken at that time.
using KeychainItemRef = std::shared_ptr<const KeychainItem>;

// The user's keychain: a private file under the application folder ($XDG_DATA_HOME/kesto/
// keychain.plist, mode 0600 in a 0700 folder), written atomically. Each call reads the file,
// so instances and processes see each other's changes; within the process every change is
// serialised. Secrets are never logged and do not appear in any description. Thread-safe.
class Keychain {
 public:
  static Keychain& defaultKeychain();
  // A keychain on its own file (tests).
  explicit Keychain(std::string filePath);
  ~Keychain();

  const std::string& filePath() const { return path_; }
  static std::string defaultFilePath();

  // Generic passwords.
  OSStatus findGenericPassword(std::string_view service, std::string_view account, Data* password = nullptr,
                               KeychainItemRef* item = nullptr);
  // errSecDuplicateItem when an item with that service and account exists.
  OSStatus addGenericPassword(std::string_view service, std::string_view account, const Data& password,
                              KeychainItemRef* item = nullptr);

  // Internet passwords. When finding, protocol and authenticationType 0 match any value;
  // server, securityDomain, account, path and port always match exactly.
  OSStatus findInternetPassword(std::string_view server, std::string_view securityDomain, std::string_view account,
                                std::string_view path, std::uint16_t port, std::uint32_t protocol,
                                std::uint32_t authenticationType, Data* password = nullptr,
                                KeychainItemRef* item = nullptr);
  OSStatus addInternetPassword(std::string_view server, std::string_view securityDomain, std::string_view account,
                               std::string_view path, std::uint16_t port, std::uint32_t protocol,
                               std::uint32_t authenticationType, const Data& password,
                               KeychainItemRef* item = nullptr);

  // Replaces the secret of the item in place, attributes unchanged. errSecInvalidItemRef for
  // a null reference, errSecItemNotFound when the item is gone.
  OSStatus modifyItemData(const KeychainItemRef& item, const Data& password);
  OSStatus deleteItem(const KeychainItemRef& item);

  // A short English text for a status code (never includes secrets).
  static std::string statusMessage(OSStatus status);

 private:
  friend struct TestAccess;

  struct Store;
  OSStatus load(Store& store) const;
  OSStatus save(const Store& store) const;
  // Gives `item` the next id, stores it, and hands out its reference once it is saved.
  OSStatus append(Store& store, KeychainItem item, KeychainItemRef* ref) const;
  // Runs `use` on the stored items under the file lock; a file that cannot be read stops it with
  // its status.
  OSStatus withStore(const std::function<OSStatus(Store&)>& use) const;
  // The first stored item `matches` accepts, handed out through the outputs given.
  OSStatus findFirst(const std::function<bool(const KeychainItem&)>& matches, Data* password,
                     KeychainItemRef* item) const;
  // Stores `fresh` unless an item `same` accepts is stored already.
  OSStatus addUnlessPresent(const std::function<bool(const KeychainItem&)>& same, KeychainItem fresh,
                            KeychainItemRef* item) const;

  std::string path_;
};

}  // namespace kesto::fnd
