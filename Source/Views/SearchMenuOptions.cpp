#include "Views/SearchMenuOptions.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/SearchField.h"

#include <utility>

namespace kesto {

void SearchMenuOptions::prepare(ui::SearchField* field, std::function<void(int tag)> chosen) const {
  auto& defaults = fnd::UserDefaults::standard();
  if (!defaults.hasValueForKey(preparedKey_)) {
    for (const auto& o : options_) defaults.setBool(o.firstValue, o.key);
    defaults.synchronize();
  }
  if (field) {
    std::vector<ui::SearchField::MenuItem> items;
    for (const auto& o : options_) items.push_back({o.title, o.tag, true, defaults.boolForKey(o.key)});
    field->setSearchMenu(std::move(items), std::move(chosen));
  }
  defaults.setString("Yes", preparedKey_);
  validate(field);
}

void SearchMenuOptions::validate(ui::SearchField* field) const {
  auto& defaults = fnd::UserDefaults::standard();
  if (options_.empty()) return;
  for (const auto& o : options_)
    if (defaults.boolForKey(o.key)) return;
  const SearchMenuOption& first = options_.front();
  defaults.setBool(true, first.key);
  if (field) field->setSearchMenuItemState(first.tag, true);
}

void SearchMenuOptions::toggle(int tag, ui::SearchField* field) const {
  auto& defaults = fnd::UserDefaults::standard();
  for (const auto& o : options_) {
    if (o.tag != tag) continue;
    const bool on = !defaults.boolForKey(o.key);
    defaults.setBool(on, o.key);
    if (field) field->setSearchMenuItemState(tag, on);
  }
}

}  // namespace kesto
