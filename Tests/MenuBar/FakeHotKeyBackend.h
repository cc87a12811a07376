#pragma once

#include "MenuBar/GlobalHotKey.h"

#include <map>
#include <set>
#include <utility>

namespace kesto::test {

// Stands in for the X server: remembers grabs, refuses what `takenElsewhere` holds, and presses
// a registered combination on request.
class FakeHotKeyBackend : public HotKeyBackend {
 public:
  std::uint32_t registerCombo(std::int64_t keyCode, std::uint32_t flags, std::function<void()> pressed) override {
    if (takenElsewhere.count({keyCode, flags})) return 0;
    grabs[++next] = {{keyCode, flags}, std::move(pressed)};
    return next;
  }
  void unregisterCombo(std::uint32_t reference) override { grabs.erase(reference); }
  bool isTakenElsewhere(std::int64_t keyCode, std::uint32_t flags) override {
    return takenElsewhere.count({keyCode, flags}) > 0;
  }
  // Presses the combination; false when nothing holds it.
  bool press(std::int64_t keyCode, std::uint32_t flags) {
    for (auto& [id, grab] : grabs)
      if (grab.first == std::make_pair(keyCode, flags)) {
        grab.second();
        return true;
      }
    return false;
  }

  std::set<std::pair<std::int64_t, std::uint32_t>> takenElsewhere;
  std::map<std::uint32_t, std::pair<std::pair<std::int64_t, std::uint32_t>, std::function<void()>>> grabs;
  std::uint32_t next = 0;
};

}  // namespace kesto::test
