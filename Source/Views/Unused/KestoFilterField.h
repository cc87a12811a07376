#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/SearchField.h"

namespace kesto {

// A search field with a filter image drawn over its body (the interface's image named
// "filterImage", handed in by the field's owner).
class KestoFilterField : public ui::SearchField {
 public:
  using ui::SearchField::SearchField;
  void awakeFromNib() override;
  const ui::Image& filterImage() const { return filterImage_; }
  void setFilterImage(const ui::Image& image);

 protected:
  void drawOverWidget(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  ui::Image filterImage_;
};

}  // namespace kesto
