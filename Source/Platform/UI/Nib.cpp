#include "Platform/UI/Nib.h"

#include "Platform/UI/View.h"

#include <map>

namespace kesto::ui {

namespace {
std::map<std::string, Nib::Builder>& registry() {
  static std::map<std::string, Nib::Builder> builders;
  return builders;
}
}  // namespace

void Nib::registerBuilder(const std::string& name, Builder builder) { registry()[name] = std::move(builder); }
void Nib::unregisterBuilder(const std::string& name) { registry().erase(name); }
bool Nib::hasBuilder(const std::string& name) { return registry().count(name) > 0; }

bool Nib::instantiateWithOwner(void* owner, TopLevelObjects& objects) const {
  auto it = registry().find(name_);
  if (it == registry().end() || !it->second) return false;
  TopLevelObjects built;
  if (!it->second(owner, built)) return false;
  for (auto& v : built)
    if (v) v->awakeFromNib();
  objects.insert(objects.end(), built.begin(), built.end());
  return true;
}

}  // namespace kesto::ui
