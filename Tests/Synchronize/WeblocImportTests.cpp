#include "Synchronize/WeblocImport.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Log.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kesto::test {
namespace {

TEST(WeblocImport, ReadsTheResourcesAddressAndLogsIt) {
  // The resource as the program ships it.
  WeblocImport shipped;
  shipped.setResourceFolder(std::string(KESTO_SOURCE_DIR) + "/Source/Synchronize/Resources");
  fnd::LogCapture capture;
  ASSERT_EQ(shipped.testMethodThatWorks(), std::optional<std::string>("https://example.com/"));
  EXPECT_TRUE(capture.contains("https://example.com/"));

  // A resource that is missing, not a property list, or holds no text "URL" gives nothing.
  const std::string folder = makeTempDir("webloc");
  WeblocImport reader;
  reader.setResourceFolder(folder);
  EXPECT_FALSE(reader.testMethodThatWorks());
  const std::string file = folder + "/" + WeblocImport::kResourceName;
  for (const char* contents :
       {"not a property list", "<plist><dict><key>URL</key><integer>3</integer></dict></plist>",
        "<plist><array><string>https://a.example/</string></array></plist>"}) {
    writeFile(file, contents);
    EXPECT_FALSE(reader.testMethodThatWorks()) << contents;
  }
  writeFile(file, "<plist><dict><key>URL</key><string>https://b.example/page</string></dict></plist>");
  EXPECT_EQ(reader.testMethodThatWorks(), std::optional<std::string>("https://b.example/page"));
  // A folder in the resource's place is no resource.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_FALSE(reader.testMethodThatWorks());
  // By default it reads beside the program: <prefix>/share/kesto.
  EXPECT_TRUE(WeblocImport::defaultResourceFolder().ends_with("/share/kesto"));
}

}  // namespace
}  // namespace kesto::test
