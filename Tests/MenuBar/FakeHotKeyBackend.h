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
  struct Grab {
    std::pair<std::int64_t, std::uint32_t> combo;
    std::function<void()> fired;
    Trigger trigger;
  };
  std::uint32_t registerCombo(std::int64_t keyCode, std::uint32_t flags, std::function<void()> fired,
                              Trigger trigger) override {
    if (takenElsewhere.count({keyCode, flags})) return 0;
    grabs[++next] = {{keyCode, flags}, std::move(fired), trigger};
    return next;
  }
  void unregisterCombo(std::uint32_t reference) override { grabs.erase(reference); }
  bool isTakenElsewhere(std::int64_t keyCode, std::uint32_t flags) override {
    return takenElsewhere.count({keyCode, flags}) > 0;
  }
  // Presses the combination; false when nothing holds it for a press.
  bool press(std::int64_t keyCode, std::uint32_t flags) { return fire(keyCode, flags, Trigger::Press); }
  // Lets the combination's key go; false when nothing holds it for a release.
  bool release(std::int64_t keyCode, std::uint32_t flags) { return fire(keyCode, flags, Trigger::Release); }

  std::set<std::pair<std::int64_t, std::uint32_t>> takenElsewhere;
  std::map<std::uint32_t, Grab> grabs;
  std::uint32_t next = 0;

 private:
  bool fire(std::int64_t keyCode, std::uint32_t flags, Trigger trigger) {
    for (auto& [id, grab] : grabs)
      if (grab.combo == std::make_pair(keyCode, flags) && grab.trigger == trigger) {
        auto fired = grab.fired;  // the handler may unregister the grab
        fired();
        return true;
      }
    return false;
  }
};

}  // namespace kesto::test
