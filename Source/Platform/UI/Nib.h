#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class View;

// Stands in for an interface file: a named builder that constructs its top-level objects,
// connects them to the owner and lets each awake. Builders are registered at start-up under the
// names the interface files had.
class Nib {
 public:
  using TopLevelObjects = std::vector<std::shared_ptr<View>>;
  // Builds the objects for `owner`; answers false when it cannot.
  using Builder = std::function<bool(void* owner, TopLevelObjects& objects)>;

  static void registerBuilder(const std::string& name, Builder builder);
  static void unregisterBuilder(const std::string& name);
  static bool hasBuilder(const std::string& name);

  explicit Nib(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  // Runs the builder, then sends awakeFromNib to every top-level view; false when no builder
  // is registered or it failed.
  bool instantiateWithOwner(void* owner, TopLevelObjects& objects) const;

 private:
  std::string name_;
};

}  // namespace kesto::ui
