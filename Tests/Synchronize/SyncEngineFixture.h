#pragma once

#include "SyncTestSupport.h"
#include "TestAlertResponder.h"

#include "Synchronize/Synchronizer.h"

#include "Model/WrenDataManager.h"
#include "Platform/Store/Coordinator.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// The real engine on one transport, with alerts recorded, what it asks of the application
// recorded and the end of every run (success, message) kept.
class SyncEngineTest : public SyncRecordsTest {
 protected:
  // Counts the wizards opened and the quits asked for, keeps every quit permission given and
  // answers whether a quit waits as the test says.
  struct RecordingHost : SyncApplicationHost {
    int wizards = 0, terminations = 0;
    bool mustQuit = false;
    std::vector<bool> canQuit;
    void setAppCanQuit(bool v) override { canQuit.push_back(v); }
    bool appMustQuit() const override { return mustQuit; }
    void terminate() override { ++terminations; }
    void openWizard() override { ++wizards; }
  };
  struct Ended {
    bool success;
    std::string message;
  };

  void startEngine(const std::string& method) {
    alerts = TestAlertResponder::install();
    host = std::make_shared<RecordingHost>();
    engine = std::make_unique<Synchronizer>();
    engine->setHost(host);
    engine->setTimeouts(20, 20);
    auto& d = fnd::UserDefaults::standard();
    d.setString(method, Synchronizer::kCurrentSyncMethodKey);
    d.setString("kesto-LOCAL", Synchronizer::kKestoIDKey);
    // The identifier belongs to the store: this library's is "kesto-LOCAL".
    if (auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator())
      coordinator->setMetadataValue(Synchronizer::kKestoIDKey, "kesto-LOCAL");
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
    return runUntil([&] { return ended.size() > before; }, seconds) && ended.back().success;
  }
  std::string lastMessage() const { return ended.empty() ? std::string() : ended.back().message; }
  // The name an unreadable sync file was kept aside under in `documents`; empty when none was.
  static std::string keptAsideIn(const std::string& documents) {
    std::string kept;
    for (const auto& n : fnd::FileManager::contentsOfDirectory(documents).value_or(std::vector<std::string>{}))
      if (n.rfind("kesto_sync unreadable ", 0) == 0) kept = n;
    return kept;
  }

  std::shared_ptr<TestAlertResponder> alerts;
  std::shared_ptr<RecordingHost> host;
  std::unique_ptr<Synchronizer> engine;
  std::vector<Ended> ended;
};

}  // namespace kesto::test
