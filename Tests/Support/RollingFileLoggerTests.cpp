#include "Harness/TestSupport.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Support/LogCenter.h"
#include "Support/RollingFileLogger.h"

#include <gtest/gtest.h>

#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/sink.h>

#include <sys/stat.h>

using namespace kesto;
using fnd::Date;
using fnd::FileManager;

namespace {

// Feeds one line straight to a logger's sink, as the log facility does.
void write(RollingFileLogger& logger, const std::string& text) {
  spdlog::details::log_msg msg("kesto", spdlog::level::info, spdlog::string_view_t(text.data(), text.size()));
  logger.sink()->log(msg);
}

std::string allText(const std::vector<std::string>& paths) {
  std::string text;
  for (auto it = paths.rbegin(); it != paths.rend(); ++it) text += test::readFile(*it);  // oldest first
  return text;
}

struct ClockScope {
  Date now = Date::withTimeIntervalSince1970(1700000000);
  ClockScope() {
    fnd::setClock([this] { return now; });
  }
  ~ClockScope() { fnd::setClock(nullptr); }
};

}  // namespace

TEST(RollingFileLogger, RollsBeforeALineWouldPassTheSizeLimit) {
  auto manager = std::make_shared<LogFileManager>(test::makeTempDir("logs"));
  manager->setMaximumNumberOfLogFiles(0);  // keep all, to check nothing is lost
  RollingFileLogger logger(manager);
  logger.setMaximumFileSize(1000);
  for (int i = 0; i < 50; ++i) write(logger, "line " + std::to_string(i) + std::string(40, '.'));

  auto files = manager->sortedLogFilePaths();
  ASSERT_GT(files.size(), 2u);
  for (auto& f : files) EXPECT_LE(FileManager::sizeOfItem(f), 1000u) << f;
  std::string text = allText(files);
  for (int i = 0; i < 50; ++i) EXPECT_NE(text.find("line " + std::to_string(i) + "."), std::string::npos) << i;
  // Each line ends up whole in one file.
  for (auto& f : files) {
    std::string body = test::readFile(f);
    EXPECT_EQ(body.back(), '\n');
  }
}

TEST(RollingFileLogger, KeepsOnlyTheNewestFiles) {
  auto manager = std::make_shared<LogFileManager>(test::makeTempDir("logs"));
  manager->setMaximumNumberOfLogFiles(7);
  RollingFileLogger logger(manager);
  logger.setMaximumFileSize(200);
  for (int i = 0; i < 100; ++i) write(logger, "entry " + std::to_string(i) + std::string(60, '-'));

  auto files = manager->sortedLogFilePaths();
  ASSERT_EQ(files.size(), 7u);
  EXPECT_EQ(files.front(), logger.currentLogFilePath());
  EXPECT_NE(test::readFile(files.front()).find("entry 99-"), std::string::npos);
  EXPECT_EQ(allText(files).find("entry 0-"), std::string::npos);  // the oldest went
}

TEST(RollingFileLogger, FilesOfOneMillisecondStayInCreationOrderPastTheTenth) {
  ClockScope clock;  // every file gets the same time stamp
  auto manager = std::make_shared<LogFileManager>(test::makeTempDir("logs"));
  manager->setMaximumNumberOfLogFiles(5);
  RollingFileLogger logger(manager);
  std::vector<std::string> created;
  for (int i = 0; i < 14; ++i) {
    logger.rollLogFile();
    created.push_back(logger.currentLogFilePath());
    write(logger, "file " + std::to_string(i) + ".");
  }
  // The newest file is still there, still current, and holds the last line.
  auto files = manager->sortedLogFilePaths();
  ASSERT_EQ(files.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(files.rbegin(), files.rend()),
            std::vector<std::string>(created.end() - 5, created.end()));
  EXPECT_EQ(logger.currentLogFilePath(), created.back());
  EXPECT_NE(test::readFile(created.back()).find("file 13."), std::string::npos);

  // A later stamp is newer than any twin of an earlier one.
  clock.now = clock.now.dateByAddingTimeInterval(1);
  std::string later = manager->createNewLogFile();
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later.find('~'), std::string::npos);
  ASSERT_GT(manager->sortedLogFilePaths().size(), 1u);
  EXPECT_EQ(manager->sortedLogFilePaths().front(), later);
  EXPECT_EQ(manager->sortedLogFilePaths()[1], created.back());
}

TEST(RollingFileLogger, RollsDailyByTheInstalledClock) {
  ClockScope clock;
  auto manager = std::make_shared<LogFileManager>(test::makeTempDir("logs"));
  RollingFileLogger logger(manager);
  logger.setRollingFrequency(86400);
  write(logger, "monday");
  std::string first = logger.currentLogFilePath();
  clock.now = clock.now.dateByAddingTimeInterval(86399);
  write(logger, "still monday's file");
  EXPECT_EQ(logger.currentLogFilePath(), first);
  clock.now = clock.now.dateByAddingTimeInterval(1);
  write(logger, "tuesday");
  EXPECT_NE(logger.currentLogFilePath(), first);
  EXPECT_EQ(test::readFile(logger.currentLogFilePath()).find("monday"), std::string::npos);
  EXPECT_EQ(manager->sortedLogFilePaths().size(), 2u);
}

TEST(RollingFileLogger, CarriesOnInTheNewestFileWhileItIsWithinLimits) {
  std::string dir = test::makeTempDir("logs");
  std::string first;
  {
    RollingFileLogger logger(std::make_shared<LogFileManager>(dir));
    write(logger, "before restart");
    first = logger.currentLogFilePath();
  }
  {
    RollingFileLogger logger(std::make_shared<LogFileManager>(dir));
    write(logger, "after restart");
    EXPECT_EQ(logger.currentLogFilePath(), first);
  }
  {
    RollingFileLogger logger(std::make_shared<LogFileManager>(dir));
    logger.setMaximumFileSize(10);  // the old file is now too big to continue
    write(logger, "new file");
    EXPECT_NE(logger.currentLogFilePath(), first);
  }
  std::string body = test::readFile(first);
  EXPECT_NE(body.find("before restart"), std::string::npos);
  EXPECT_NE(body.find("after restart"), std::string::npos);
}

TEST(RollingFileLogger, DefaultsWriteToTheLogsFolderThroughTheLogCenter) {
  auto logger = std::make_shared<RollingFileLogger>();
  EXPECT_EQ(logger->maximumFileSize(), 1024u * 1024u);
  EXPECT_DOUBLE_EQ(logger->rollingFrequency(), 86400.0);
  EXPECT_EQ(logger->logFileManager()->logsDirectory(), fnd::StandardPaths::logsDirectory());

  // As the application configures it at start-up.
  logger->setMaximumFileSize(1048576);
  logger->setRollingFrequency(86400);
  logger->logFileManager()->setMaximumNumberOfLogFiles(7);
  LogCenter::addLogger(logger);
  LogCenter::addLogger(logger);  // no second copy of each line
  const std::string line = "*** hello from the log center " + FileManager::uniqueName();
  fnd::logInfo(line);
  LogCenter::flush();
  std::string path = logger->currentLogFilePath();
  EXPECT_EQ(path.rfind(fnd::StandardPaths::logsDirectory() + "/kesto-", 0), 0u);
  std::string body = test::readFile(path);
  auto first = body.find(line);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(body.find(line, first + 1), std::string::npos);
  EXPECT_NE(body.find(" kesto["), std::string::npos);

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  LogCenter::removeLogger(logger);
  fnd::logInfo("after removal");
  EXPECT_EQ(test::readFile(path).find("after removal"), std::string::npos);
  EXPECT_TRUE(LogCenter::allLoggers().empty());
}

TEST(RollingFileLogger, SettingsReadBackAndTheSinkTakesAnotherLayout) {
  auto manager = std::make_shared<LogFileManager>(test::makeTempDir("layout"));
  RollingFileLogger logger(manager);
  EXPECT_EQ(logger.maximumFileSize(), 1024u * 1024u);
  EXPECT_EQ(logger.rollingFrequency(), 24.0 * 60 * 60);
  logger.setMaximumFileSize(0);
  logger.setRollingFrequency(0);
  EXPECT_EQ(logger.maximumFileSize(), 0u);
  EXPECT_EQ(logger.rollingFrequency(), 0.0);

  logger.sink()->set_pattern("[%v]");
  write(logger, "only");
  EXPECT_EQ(test::readFile(logger.currentLogFilePath()), "[only]\n");
}
