#pragma once

#include "Platform/System/Workspace.h"

#include <string>
#include <vector>

namespace kesto::test {

// A program the code under test asked to start.
struct Launch {
  std::string program;
  std::vector<std::string> arguments;
};

// The programs the code under test asks to start, recorded in their place while this lives (a
// test fixture's member records for the whole test).
class RecordedLaunches : public std::vector<Launch> {
 public:
  RecordedLaunches() {
    sys::Workspace::setLauncher([this](const std::string& program, const std::vector<std::string>& arguments) {
      push_back({program, arguments});
      return !failing;
    });
  }
  // Set, each launch is recorded and reported as not started (a program that is missing).
  bool failing = false;
  ~RecordedLaunches() { sys::Workspace::setLauncher(nullptr); }
  RecordedLaunches(const RecordedLaunches&) = delete;
  RecordedLaunches& operator=(const RecordedLaunches&) = delete;
};

}  // namespace kesto::test
