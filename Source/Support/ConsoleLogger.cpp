#include "Support/ConsoleLogger.h"

#include "Support/LogFormat_p.h"

#include <cmath>
#include <map>
#include <unistd.h>

namespace kesto {

namespace {

int component(double c) {
  if (!(c >= 0)) return 0;  // NaN too
  if (c >= 1) return 255;
  return static_cast<int>(std::lround(c * 255.0));
}

std::string sgr(int selector, const LogColor& c) {
  return "\x1b[" + std::to_string(selector) + ";2;" + std::to_string(component(c.red)) + ";" +
         std::to_string(component(c.green)) + ";" + std::to_string(component(c.blue)) + "m";
}

constexpr const char* kReset = "\x1b[0m";

}  // namespace

struct ConsoleLogger::Impl : logging::LineSink {
  std::FILE* stream = stderr;
  bool terminal = false;
  bool enabled = false;
  std::map<std::uint32_t, std::string> sequences;

  std::string sequenceLocked(fnd::LogFlag flag) const {
    auto it = sequences.find(static_cast<std::uint32_t>(flag));
    return it == sequences.end() ? std::string() : it->second;
  }

  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t formatted;
    lineFormatter->format(msg, formatted);
    std::string colour = enabled && terminal ? sequenceLocked(logging::flagForLevel(msg.level)) : std::string();
    if (!colour.empty()) {
      // The colour must end before the newline, or the next prompt would inherit it.
      std::size_t body = formatted.size();
      if (body > 0 && formatted.data()[body - 1] == '\n') --body;
      std::fwrite(colour.data(), 1, colour.size(), stream);
      std::fwrite(formatted.data(), 1, body, stream);
      std::fputs(kReset, stream);
      std::fwrite(formatted.data() + body, 1, formatted.size() - body, stream);
    } else {
      std::fwrite(formatted.data(), 1, formatted.size(), stream);
    }
    std::fflush(stream);
  }
  void flush_() override { std::fflush(stream); }
};

std::shared_ptr<ConsoleLogger> ConsoleLogger::sharedInstance() {
  static auto* shared = new std::shared_ptr<ConsoleLogger>(std::make_shared<ConsoleLogger>(stderr, true));
  return *shared;
}

ConsoleLogger::ConsoleLogger(std::FILE* stream, bool onlyOnTerminal) : impl_(std::make_shared<Impl>()) {
  impl_->stream = stream ? stream : stderr;
  impl_->terminal = !onlyOnTerminal || ::isatty(::fileno(impl_->stream)) == 1;
}

ConsoleLogger::~ConsoleLogger() = default;

void ConsoleLogger::setColorsEnabled(bool enabled) {
  impl_->locked([&] { impl_->enabled = enabled; });
}

bool ConsoleLogger::colorsEnabled() const {
  return impl_->locked([&] { return impl_->enabled; });
}

void ConsoleLogger::setForegroundColor(std::optional<LogColor> foreground, std::optional<LogColor> background,
                                       fnd::LogFlag flag) {
  std::string sequence;
  if (foreground) sequence += sgr(38, *foreground);
  if (background) sequence += sgr(48, *background);
  impl_->locked([&] {
    if (sequence.empty())
      impl_->sequences.erase(static_cast<std::uint32_t>(flag));
    else
      impl_->sequences[static_cast<std::uint32_t>(flag)] = sequence;
  });
}

std::string ConsoleLogger::colorSequenceForFlag(fnd::LogFlag flag) const {
  return impl_->locked([&] { return impl_->sequenceLocked(flag); });
}

std::shared_ptr<spdlog::sinks::sink> ConsoleLogger::sink() const { return impl_; }

}  // namespace kesto
