#include "Views/LinkLabel.h"

#include "Platform/Net/URL.h"
#include "Platform/System/Workspace.h"

namespace kesto {

bool openLinkAddress(const std::string& url) {
  auto parsed = net::URL::fromString(url);
  if (!parsed || parsed->scheme().empty() || parsed->host().empty()) return false;
  return sys::Workspace::openURL(parsed->absoluteString());
}

void LinkLabel::awakeFromNib() {
  active_ = true;
  setShowsLinkCursor(true);
}

void LinkLabel::mouseDown(const ui::Event& event) {
  ui::Label::mouseDown(event);
  if (active_) openLinkAddress(url_);
}

void BRWLinkLabel::awakeFromNib() {
  if (url_.empty()) url_ = kMakerWebSite;
  LinkLabel::awakeFromNib();
}

}  // namespace kesto
