#include "App/ServiceAccounts.h"

#include "Model/BookmarkServiceClient.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Sidebar/FoldersController.h"
#include "Synchronize/ServiceClient.h"

#include <map>

namespace kesto {

namespace {

constexpr double kLoginWidth = 340, kLoginHeight = 170;

std::unique_ptr<ServiceAccounts>& shared() {
  static std::unique_ptr<ServiceAccounts> accounts;
  return accounts;
}

// When each collection was last read from its service; in memory only, so the first read after
// a start goes to the service.
std::map<std::string, fnd::Date>& lastReads() {
  static std::map<std::string, fnd::Date> reads;
  return reads;
}

class FolderServiceAdapter : public FolderServiceClient {
 public:
  explicit FolderServiceAdapter(std::string service) : service_(std::move(service)) {}
  bool connect(const std::string& user, const std::string& password) override {
    auto client = ServiceClient::forService(service_);
    return client && client->connect(user, password);
  }
  void import() override {
    if (auto* accounts = ServiceAccounts::installed()) accounts->read(service_, false);
  }
  void manualImport() override {
    if (auto* accounts = ServiceAccounts::installed()) accounts->read(service_, true);
  }
  bool isAlreadyPresent(const std::string& url) override {
    auto client = ServiceClient::forService(service_);
    return client && client->isAlreadyPresent(url);
  }

 private:
  std::string service_;
};

}  // namespace

ServiceAccounts::ServiceAccounts() {
  panel_ = std::make_unique<ui::Panel>(fnd::Rect(0, 0, kLoginWidth, kLoginHeight));
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, kLoginWidth, kLoginHeight));
  auto label = std::make_shared<ui::Label>(fnd::Rect(20, 130, kLoginWidth - 40, 24), "Your account's user name and password:");
  content->addSubview(label);
  username_ = std::make_shared<ui::TextField>(fnd::Rect(20, 98, kLoginWidth - 40, 24));
  username_->setPlaceholderString("User name");
  password_ = std::make_shared<ui::TextField>(fnd::Rect(20, 66, kLoginWidth - 40, 24), ui::TextField::Style::Secure);
  password_->setPlaceholderString("Password");
  password_->setAction([this] { connect(); });
  content->addSubview(username_);
  content->addSubview(password_);
  ui::addPushButton(*content, fnd::Rect(kLoginWidth - 210, 14, 90, 28), "Cancel", [this] { panel_->orderOut(); });
  connectButton_ =
      ui::addPushButton(*content, fnd::Rect(kLoginWidth - 110, 14, 90, 28), "Connect", [this] { connect(); });
  panel_->setContentView(content);
}

ServiceAccounts::~ServiceAccounts() {
  lifetime_.end();
  panel_->orderOut();
}

void ServiceAccounts::install(DataManager* dataManager, ui::Window* libraryWindow) {
  ServiceClient::setDataManager(dataManager);
  shared() = std::make_unique<ServiceAccounts>();
  shared()->window_ = libraryWindow;
  registerBookmarkServiceClientFactory(
      [](const std::string& name) -> std::unique_ptr<BookmarkServiceClient> { return ServiceClient::forService(name); });
  registerFolderServiceClientFactory(
      [](const std::string& service) { return std::make_unique<FolderServiceAdapter>(service); });
}

ServiceAccounts* ServiceAccounts::installed() { return shared().get(); }

void ServiceAccounts::uninstall() {
  registerFolderServiceClientFactory(nullptr);
  registerBookmarkServiceClientFactory(nullptr);
  ServiceClient::setDataManager(nullptr);
  shared().reset();
}

void ServiceAccounts::showPanel(const std::string& service) {
  service_ = service;
  panel_->setTitle(ServiceClient::displayName(service));
  username_->setStringValue("");
  password_->setStringValue("");
  connectButton_->setEnabled(true);
  if (window_) {
    auto outer = window_->frame();
    panel_->setFrame(fnd::Rect(outer.midX() - kLoginWidth / 2, outer.midY() - kLoginHeight / 2, kLoginWidth, kLoginHeight), false);
  }
  panel_->makeKeyAndOrderFront();
  panel_->makeFirstResponder(username_.get());
}

void ServiceAccounts::connect() {
  if (!connectButton_->isEnabled()) return;
  connectButton_->setEnabled(false);
  connect(service_, username_->stringValue(), password_->stringValue(), [this](bool stored) {
    // Too short, or an account of that service exists: the panel stays for another try.
    if (stored) panel_->orderOut();
    else connectButton_->setEnabled(true);
  });
}

void ServiceAccounts::connect(const std::string& service, const std::string& user, const std::string& password,
                              std::function<void(bool stored)> done) {
  fnd::DispatchQueue::main().after(3.0, lifetime_.whileAlive([this, service, user, password, done = std::move(done)] {
    auto client = ServiceClient::forService(service);
    const bool stored = client && client->connect(user, password);
    if (done) done(stored);
    if (stored) fnd::DispatchQueue::main().after(2.0, lifetime_.whileAlive([this, service] { read(service, true); }));
  }));
}

void ServiceAccounts::read(const std::string& service, bool force) {
  auto client = ServiceClient::forService(service);
  if (!client) return;
  if (!client->isConnected()) return showPanel(service);
  const auto now = fnd::Date::now();
  auto& reads = lastReads();
  if (auto it = reads.find(service); !force && it != reads.end() && now.timeIntervalSinceDate(it->second) <= kRereadMinutes * 60)
    return;
  reads[service] = now;
  ViewUpdater::showMessage("Updating from " + ServiceClient::displayName(service), 300, 100, 2);
  client->import();
}

}  // namespace kesto
