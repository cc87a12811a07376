#pragma once

#include "Platform/UI/View.h"

#include <string>

namespace kesto {

// The base of supplementary views (section headers and footers).
class TileCollectionViewReusableView : public ui::View {
 public:
  explicit TileCollectionViewReusableView(const fnd::Rect& frame = fnd::Rect()) : ui::View(frame) {
    setWantsLayer(true);
  }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(const std::string& identifier) { reuseIdentifier_ = identifier; }
  const std::string& kind() const { return kind_; }
  void setKind(const std::string& kind) { kind_ = kind; }

 private:
  std::string reuseIdentifier_;
  std::string kind_;
};

}  // namespace kesto
