#pragma once

#include "Model/RemoteImageView.h"
#include "Platform/Foundation/Geometry.h"

#include <memory>

namespace kesto {

class WebImageView;

// A web image view behind the library core's thumbnail interface.
class WebRemoteImageView : public RemoteImageView {
 public:
  explicit WebRemoteImageView(const fnd::Rect& frame);
  // An absent or unparsable URL only cancels the load.
  void setImageURL(const std::optional<std::string>& url) override;
  // Shows the decoded image; absent or undecodable data clears the view.
  void setImageData(const std::optional<fnd::Data>& image) override;
  const std::shared_ptr<WebImageView>& view() const { return view_; }

 private:
  std::shared_ptr<WebImageView> view_;
};

// Registers web image views as the library core's thumbnail image views. Called once at
// start-up.
void registerWebImageViews();

}  // namespace kesto
