// A log-out waits for no answer: where a quit would ask what to do with changes the store
// refused, the session's end writes them to the export file beside the library and quits.
#include "AppFixture.h"

#include "Harness/StoreConnection.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/UI/Application.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace kesto::test {
namespace {

using SessionEndTest = AppTestWithAlerts;

TEST_F(SessionEndTest, ALogOutExportsWhatTheStoreRefusedWithoutAskingAndQuits) {
  build(0);
  onStoreConnection("PRAGMA query_only = 1");
  app().addPinUrlFromString("https://refused.example/");
  drainTurns();
  // The session manager's end of the session, as the toolkit delivers it; a loop never ended
  // fails the test instead of hanging it.
  QTimer fallback;
  fallback.setSingleShot(true);
  QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  fallback.start(20000);
  ui::Application::postToMain([] {
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
  });
  EXPECT_EQ(ui::Application::shared().run(), 0);
  fallback.stop();
  for (const auto& shown : alerts->shown) EXPECT_NE(shown.title, "Some changes could not be saved");
  const std::string folder =
      fnd::FileManager::deletingLastPathComponent(WrenDataManager::sharedInstance().persistentStorePath());
  std::string exported;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
    if (name.rfind("Unsaved bookmarks ", 0) == 0) exported = folder + "/" + name;
  ASSERT_FALSE(exported.empty()) << "nothing was exported as the session ended";
  EXPECT_NE(fnd::FileManager::readFile(exported).value_or("").find("https://refused.example/"), std::string::npos);
}

}  // namespace
}  // namespace kesto::test
