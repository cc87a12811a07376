#pragma once

#include <string>
#include <string_view>

namespace kesto::syncsettings {

// A string user default; absent reads as empty.
std::string stringDefault(const char* key);
// Whether a host ("name" or "name:port") is this machine: the only place plain http may reach,
// for a local stand-in of a service.
bool isLoopbackHost(std::string_view host);

// The account service's e-mail ("SyncEmail", a user default) and password. The password lives in
// the keychain, never in the settings file; one an older version left in the settings
// ("SyncPassword") moves to the keychain the first time it is read.
inline constexpr const char* kEmailKey = "SyncEmail";
inline constexpr const char* kLegacyPasswordKey = "SyncPassword";
inline constexpr const char* kPasswordService = "Kesto Online";
inline constexpr const char* kPasswordAccount = "password";
std::string accountPassword();
// False when the keychain could not be written (the password is then not kept anywhere).
bool setAccountPassword(const std::string& password);
void removeAccountPassword();

// This library's sync identifier ("KestoID"). It belongs to the store: a store created new gets
// one of its own, an older store without one adopts the setting's once, and where the two
// differ the store's holds and the setting follows. Without a store, the setting's (made when
// missing).
inline constexpr const char* kLibraryIdentifierKey = "KestoID";
std::string libraryIdentifier();
// Gives the library a new identifier, in the store and in the setting; answers it.
std::string renewLibraryIdentifier();

}  // namespace kesto::syncsettings
