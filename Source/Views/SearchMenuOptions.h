#pragma once

#include "Platform/UI/UIForward.h"

#include <functional>
#include <utility>
#include <vector>

namespace kesto {

// One field a search may look in, as a check item of the search field's menu: its user-defaults
// key, its menu tag, its title and its value on the first run.
struct SearchMenuOption {
  const char* key;
  int tag;
  const char* title;
  bool firstValue;
};

// The choice of fields a search looks in, kept in the user defaults and shown as check items in
// a search field's menu. At least one stays chosen: the first option comes back on when the
// last one goes off.
class SearchMenuOptions {
 public:
  // `preparedKey` records that the first-run values were written.
  SearchMenuOptions(std::vector<SearchMenuOption> options, const char* preparedKey)
      : options_(std::move(options)), preparedKey_(preparedKey) {}

  const std::vector<SearchMenuOption>& options() const { return options_; }
  // Writes the first-run values once, gives `field` (if any) the menu, whose choices go to
  // `chosen` by tag, and makes sure one option is on.
  void prepare(ui::SearchField* field, std::function<void(int tag)> chosen) const;
  // Turns the first option on (also in the menu) when none is.
  void validate(ui::SearchField* field) const;
  // Flips the option with `tag` in the defaults and the menu; other tags change nothing.
  void toggle(int tag, ui::SearchField* field) const;

 private:
  std::vector<SearchMenuOption> options_;
  const char* preparedKey_;
};

}  // namespace kesto
