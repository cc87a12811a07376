#pragma once

#include "Platform/UI/Panel.h"
#include "Platform/UI/UIForward.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kesto {

class Bookmark;
class PreviewPanel;
class WebImageView;

// Who fills the preview panel: the items (bookmarks) it pages through and the keys pressed
// while it is in front.
class PreviewPanelDataSource {
 public:
  virtual ~PreviewPanelDataSource() = default;
  virtual std::size_t numberOfPreviewItemsInPreviewPanel(PreviewPanel& panel) = 0;
  virtual std::shared_ptr<Bookmark> previewPanelPreviewItemAtIndex(PreviewPanel& panel, std::size_t index) = 0;
  // A key pressed in the panel; true when the data source took it.
  virtual bool previewPanelHandleEvent(PreviewPanel& panel, const ui::Event& event) { return false; }
};

// A floating panel that previews bookmarks: the page's thumbnail, title, address and notes, one
// item at a time with buttons to page through several. It shows what its data source answers
// and asks again on reloadData. Escape and its close button order it out. Main thread only.
class PreviewPanel : public ui::Panel {
 public:
  PreviewPanel();
  ~PreviewPanel() override;
  PreviewPanel(const PreviewPanel&) = delete;
  PreviewPanel& operator=(const PreviewPanel&) = delete;

  PreviewPanelDataSource* dataSource() const { return dataSource_; }
  void setDataSource(PreviewPanelDataSource* dataSource);

  // Asks the data source again; the item shown stays when it is still in range.
  void reloadData();
  std::size_t numberOfItems() const { return count_; }
  std::size_t currentPreviewItemIndex() const { return index_; }
  void setCurrentPreviewItemIndex(std::size_t index);
  std::shared_ptr<Bookmark> currentPreviewItem() const;
  void showNextItem();
  void showPreviousItem();

  // What is shown, for tests and accessibility.
  std::string shownTitle() const;
  std::string shownAddress() const;
  std::string shownNotes() const;
  std::string shownPosition() const;

  // Puts the panel over the middle of `window` the first time it is shown.
  void placeOverWindowOnce(const ui::Window& window);

  void keyDown(const ui::Event& event) override;

 private:
  void showCurrentItem();

  PreviewPanelDataSource* dataSource_ = nullptr;
  std::size_t count_ = 0, index_ = 0;
  bool placed_ = false;
  std::shared_ptr<WebImageView> thumbnail_;
  std::shared_ptr<ui::Label> title_, address_, notes_, position_;
  std::shared_ptr<ui::Button> previous_, next_;
};

}  // namespace kesto
