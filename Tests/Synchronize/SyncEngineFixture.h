#pragma once

#include "SyncTestSupport.h"
#include "TestAlertResponder.h"

#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kesto::test {

// The real engine on one transport, with alerts recorded, the wizard counted and the end of
// every run (success, message) kept.
class SyncEngineTest : public SyncRecordsTest {
 protected:
  struct WizardHost : SyncApplicationHost {
    int wizards = 0;
    void openWizard() override { ++wizards; }
  };

  void startEngine(const std::string& method) {
    alerts = TestAlertResponder::install();
    host = std::make_shared<WizardHost>();
    engine = std::make_unique<Synchronizer>();
    engine->setHost(host);
    engine->setTimeouts(20, 20);
    auto& d = fnd::UserDefaults::standard();
    d.setString(method, Synchronizer::kCurrentSyncMethodKey);
    d.setString("kesto-LOCAL", Synchronizer::kKestoIDKey);
    fnd::NotificationCenter::defaultCenter().addObserver(
        this, [this](const fnd::Notification& n) {
          ended.push_back({n.userInfo.at("success").boolValue(), n.userInfo.at("message").string()});
        },
        Synchronizer::kSyncEndedNotification);
  }
  void stopEngine() {
    fnd::NotificationCenter::defaultCenter().removeObserver(this);
    engine.reset();
    TestAlertResponder::uninstall();
  }
  // A run from the button, to its end: whether it succeeded.
  bool runSync(double seconds = 20) {
    std::size_t before = ended.size();
    engine->syncFromButton();
    return runUntil([&] { return ended.size() > before; }, seconds) && ended.back().first;
  }
  std::string lastMessage() const { return ended.empty() ? std::string() : ended.back().second; }

  std::shared_ptr<TestAlertResponder> alerts;
  std::shared_ptr<WizardHost> host;
  std::unique_ptr<Synchronizer> engine;
  std::vector<std::pair<bool, std::string>> ended;
};

}  // namespace kesto::test
