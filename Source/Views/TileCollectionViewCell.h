#pragma once

#include "Platform/UI/View.h"
#include "Views/IndexPath.h"

#include <memory>
#include <optional>
#include <string>

namespace kesto {

class TileCollectionView;
class TileCollectionViewCellBackgroundView;

// The base of every cell: the selection state, a content view for subclasses to fill, a
// layer-drawn background that crossfades on animated selection changes, and clicks handed to
// the collection view after the responder chain has seen them.
class TileCollectionViewCell : public ui::View {
 public:
  explicit TileCollectionViewCell(const fnd::Rect& frame = fnd::Rect());
  ~TileCollectionViewCell() override;

  virtual void prepareForReuse();
  virtual void willLayoutWithFrame(const fnd::Rect& frame) {}

  const std::shared_ptr<ui::View>& contentView();
  void setContentView(std::shared_ptr<ui::View> view);
  void configureContentView(const std::shared_ptr<ui::View>& view);

  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected) { selected_ = selected; }
  virtual void setSelected(bool selected, bool animated);

  TileCollectionView* collectionView() const { return collectionView_.lock().get(); }
  virtual void setCollectionView(const std::weak_ptr<TileCollectionView>& collectionView);

  std::optional<ui::Color> backgroundColor() const;
  void setBackgroundColor(std::optional<ui::Color> color);
  ui::Image backgroundImage() const;
  void setBackgroundImage(const ui::Image& image);

  double crossfadeDuration() const { return crossfadeDuration_; }
  void setCrossfadeDuration(double seconds) { crossfadeDuration_ = seconds; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(const std::string& identifier) { reuseIdentifier_ = identifier; }
  const std::optional<IndexPath>& indexPath() const { return indexPath_; }
  void setIndexPath(const std::optional<IndexPath>& indexPath) { indexPath_ = indexPath; }
  const std::shared_ptr<TileCollectionViewCellBackgroundView>& backgroundView() const { return backgroundView_; }

  void mouseDown(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;
  void rightMouseDown(const ui::Event& event) override;
  std::string description() const override;

 private:
  bool selected_ = false;
  std::shared_ptr<ui::View> contentView_;
  std::weak_ptr<TileCollectionView> collectionView_;
  double crossfadeDuration_ = 0.25;
  std::string reuseIdentifier_;
  std::optional<IndexPath> indexPath_;
  std::shared_ptr<TileCollectionViewCellBackgroundView> backgroundView_;
};

}  // namespace kesto
