#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
// A fresh identifier ("kesto-" and a unique identifier), not yet this library's. Any thread.
std::string makeLibraryIdentifier();
// Gives the library a new identifier (`identifier`, or a fresh one), in the store and in the
// setting, and forgets the marks of its uploads; answers it.
std::string renewLibraryIdentifier(const std::string& identifier = {});

// The marks of this library's latest uploads, kept in its store: a sync file carrying this
// library's identifier is its own only when it carries one of them. A copy of the library
// folder shares the identifier and the marks made before the copy, whose files both copies hold
// already, never the uploads made after it.
inline constexpr const char* kOwnUploadsKey = "KestoOwnUploads";
inline constexpr std::size_t kOwnUploadsKept = 8;
std::vector<std::string> ownUploads();
// Keeps `uploadID` with the latest marks (before the upload is handed over, so that a file whose
// upload is not confirmed is still known). With `newIdentifier` the store takes that identifier
// first and forgets the earlier marks; the setting follows at the next `libraryIdentifier`.
// Touches only the store, so it may run off the main thread. False when the store could not
// keep it.
bool noteOwnUpload(const std::string& uploadID, const std::string& newIdentifier = {});

}  // namespace kesto::syncsettings
