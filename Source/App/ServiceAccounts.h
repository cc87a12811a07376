#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

class DataManager;

// The Pinboard and Delicious accounts of the folder list: the login panel a service row shows
// while no account is connected, and the reads of the collection from the service, at most
// once every 10 minutes unless the user asks for an update.
class ServiceAccounts {
 public:
  static constexpr double kRereadMinutes = 10.0;

  ServiceAccounts();
  ~ServiceAccounts();
  ServiceAccounts(const ServiceAccounts&) = delete;
  ServiceAccounts& operator=(const ServiceAccounts&) = delete;

  // Registers the online-service clients of the library and the folder list.
  static void install(DataManager* dataManager, ui::Window* libraryWindow);
  static ServiceAccounts* installed();
  // Its panel goes while the toolkit is still there.
  static void uninstall();

  void showPanel(const std::string& service);
  // The panel's Connect button: the account is stored 3 seconds later, and the first import
  // follows 2 seconds after that.
  void connect();
  // Connects `service` with these credentials as the panel does (also the preferences' Connect):
  // 3 seconds later the account is stored, and the first import follows 2 seconds after that.
  // `done` says whether it was stored (a name or password under 2 characters, or an account of
  // the service already there, is refused).
  void connect(const std::string& service, const std::string& user, const std::string& password,
               std::function<void(bool stored)> done);
  // Reads the collection from the service when the last read is more than 10 minutes old (or
  // `force`), else leaves the stored collection shown.
  void read(const std::string& service, bool force);

  ui::Panel& panel() const { return *panel_; }
  ui::TextField& usernameField() const { return *username_; }
  ui::TextField& passwordField() const { return *password_; }
  ui::Button& connectButton() const { return *connectButton_; }
  const std::string& panelService() const { return service_; }

 private:
  std::unique_ptr<ui::Panel> panel_;
  std::shared_ptr<ui::TextField> username_, password_;
  std::shared_ptr<ui::Button> connectButton_;
  std::string service_;
  ui::Window* window_ = nullptr;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
