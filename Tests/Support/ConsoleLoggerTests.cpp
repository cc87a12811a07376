#include "Harness/TestSupport.h"
#include "Support/ConsoleLogger.h"

#include <gtest/gtest.h>

#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/sink.h>

#include <cstdio>

using namespace kesto;

namespace {

// Lines written by `logger` to a temporary file, read back whole.
struct Output {
  std::string path = test::makeTempDir("console") + "/out.txt";
  std::FILE* file = std::fopen(path.c_str(), "w+");
  ~Output() { std::fclose(file); }
  std::string text() {
    std::fflush(file);
    return test::readFile(path);
  }
};

void write(ConsoleLogger& logger, spdlog::level::level_enum level, const std::string& text) {
  spdlog::details::log_msg msg("kesto", level, spdlog::string_view_t(text.data(), text.size()));
  logger.sink()->log(msg);
}

}  // namespace

TEST(ConsoleLogger, ColoursOnlyTheFlagsGivenAColourAndResetsBeforeTheNewline) {
  Output out;
  ConsoleLogger logger(out.file, false);
  logger.setColorsEnabled(true);
  // The start-up colour for the info flag: calibrated (0.0, 0.502, 0.251).
  logger.setForegroundColor(LogColor{0.0, 0.502, 0.251, 1.0}, std::nullopt, fnd::LogFlag::Info);
  EXPECT_EQ(logger.colorSequenceForFlag(fnd::LogFlag::Info), "\x1b[38;2;0;128;64m");
  EXPECT_EQ(logger.colorSequenceForFlag(fnd::LogFlag::Error), "");

  write(logger, spdlog::level::info, "green");
  write(logger, spdlog::level::err, "plain");
  std::string text = out.text();
  auto green = text.find("\x1b[38;2;0;128;64m");
  ASSERT_NE(green, std::string::npos);
  EXPECT_NE(text.find("green\x1b[0m\n"), std::string::npos);
  auto plainLine = text.substr(text.find('\n') + 1);
  EXPECT_EQ(plainLine.find('\x1b'), std::string::npos);
  EXPECT_NE(plainLine.find("plain\n"), std::string::npos);
}

TEST(ConsoleLogger, BackgroundOutOfRangeComponentsAndRemoval) {
  ConsoleLogger logger(stderr, false);
  logger.setForegroundColor(LogColor{2.0, -1.0, 0.5}, LogColor{1, 1, 1}, fnd::LogFlag::Warning);
  EXPECT_EQ(logger.colorSequenceForFlag(fnd::LogFlag::Warning), "\x1b[38;2;255;0;128m\x1b[48;2;255;255;255m");
  logger.setForegroundColor(std::nullopt, std::nullopt, fnd::LogFlag::Warning);
  EXPECT_EQ(logger.colorSequenceForFlag(fnd::LogFlag::Warning), "");
}

TEST(ConsoleLogger, NoEscapesWhenDisabledOrNotATerminal) {
  {
    Output out;
    ConsoleLogger logger(out.file, false);
    logger.setForegroundColor(LogColor{1, 0, 0}, std::nullopt, fnd::LogFlag::Info);
    write(logger, spdlog::level::info, "colours off");
    EXPECT_EQ(out.text().find('\x1b'), std::string::npos);
  }
  {
    Output out;
    ConsoleLogger logger(out.file);  // a regular file is no terminal
    logger.setColorsEnabled(true);
    logger.setForegroundColor(LogColor{1, 0, 0}, std::nullopt, fnd::LogFlag::Info);
    write(logger, spdlog::level::info, "redirected");
    EXPECT_EQ(out.text().find('\x1b'), std::string::npos);
    EXPECT_NE(out.text().find("redirected"), std::string::npos);
  }
}

TEST(ConsoleLogger, SharedInstanceIsOne) {
  EXPECT_EQ(ConsoleLogger::sharedInstance(), ConsoleLogger::sharedInstance());
  EXPECT_NE(ConsoleLogger::sharedInstance()->sink(), nullptr);
}

TEST(ConsoleLogger, LinesTakeTheSharedLayoutUntilTheSinkIsGivenAnother) {
  Output out;
  ConsoleLogger logger(out.file, false);
  write(logger, spdlog::level::info, "first");
  logger.sink()->set_pattern("<%v>");
  write(logger, spdlog::level::info, "second");
  const std::string text = out.text();
  const std::string firstLine = text.substr(0, text.find('\n'));
  EXPECT_NE(firstLine.find(" kesto["), std::string::npos) << firstLine;
  EXPECT_EQ(firstLine.substr(firstLine.size() - 7), "] first");
  EXPECT_EQ(text.substr(text.find('\n') + 1), "<second>\n");
}
