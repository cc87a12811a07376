#pragma once

#include "Platform/UI/View.h"

#include <memory>

namespace kesto::test {

// A view whose y axis runs downwards, as documents and most test layouts want it.
class FlippedView : public ui::View {
 public:
  using ui::View::View;
  bool isFlipped() const override { return true; }
};

// A new view of type V made with `args` (its frame first), added to `parent`'s subviews.
template <typename V = ui::View, typename... Args>
std::shared_ptr<V> addedTo(ui::View& parent, Args&&... args) {
  auto view = std::make_shared<V>(std::forward<Args>(args)...);
  parent.addSubview(view);
  return view;
}

}  // namespace kesto::test
