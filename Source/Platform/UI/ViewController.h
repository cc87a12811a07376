#pragma once

#include "Platform/UI/Responder.h"
#include "Platform/UI/View.h"

#include <memory>

namespace kesto::ui {

// Owns one view that others (popovers, sheets) show; subclasses fill it in.
class ViewController : public Responder {
 public:
  explicit ViewController(std::shared_ptr<View> view = nullptr) : view_(std::move(view)) {}
  const std::shared_ptr<View>& view() const { return view_; }
  void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

 private:
  std::shared_ptr<View> view_;
};

}  // namespace kesto::ui
