#pragma once

#include "Platform/UI/Label.h"

#include <string>

namespace kesto {

// The address a BRWLinkLabel opens when it was given none.
inline constexpr const char* kMakerWebSite = "https://kesto.app/";

// Opens `url` in the default browser; an address that does not parse opens nothing.
bool openLinkAddress(const std::string& url);

// A label that opens its address only while active (the bookmark search's result label).
class LinkLabel : public ui::Label {
 public:
  using ui::Label::Label;
  const std::string& url() const { return url_; }
  void setUrl(const std::string& url) { url_ = url; }
  bool active() const { return active_; }
  void setActive(bool active) { active_ = active; }
  void awakeFromNib() override;
  void mouseDown(const ui::Event& event) override;

 protected:
  std::string url_;
  bool active_ = false;
};

// A label that always opens its address when clicked (the maker's web site unless set).
class BRWLinkLabel : public LinkLabel {
 public:
  explicit BRWLinkLabel(const fnd::Rect& frame = fnd::Rect(), const std::string& text = std::string())
      : LinkLabel(frame, text) {
    active_ = true;
  }
  void awakeFromNib() override;
};

}  // namespace kesto
