#include "Model/Tag.h"

#include "Model/DataModel.h"
#include "Model/StoredText.h"

#include "Platform/Foundation/Log.h"

#include <algorithm>

namespace kesto {

namespace {

Tag::List tagsWhere(const char* format) {
  std::vector<store::SortDescriptor> sorts{
      store::SortDescriptor("name", true, store::SortDescriptor::Comparison::CaseInsensitive)};
  fnd::Error error;
  auto found = Tag::fetchEntitiesWithPredicate(store::Predicate::parse(format), &sorts, 0, 0, nullptr, &error);
  if (!found) {
    fnd::logFormat(fnd::LogFlag::Error, "Exception: %s", error.description().c_str());
    return {};
  }
  return std::move(*found);
}

}  // namespace

std::string Tag::name() const { return value(tag_attr::name).string(); }
void Tag::setName(const std::string& name) { setValue(tag_attr::name, stored::tagName(name)); }

Tag::List Tag::allTags() { return tagsWhere("bookmarks.@count > 0"); }
Tag::List Tag::orphanedTags() { return tagsWhere("bookmarks.@count == 0"); }

Tag::List Tag::tagsNamed(const std::vector<std::string>& names) {
  List collected;
  for (const auto& name : names) {
    auto tag = fetchEntityWhereProperty("name", fnd::Value(name));
    if (!tag) {
      tag = initEntity();
      if (!tag) continue;
      tag->setName(name);
      saveContext();
    }
    if (std::find(collected.begin(), collected.end(), tag) == collected.end()) collected.push_back(tag);
  }
  return collected;
}

}  // namespace kesto
