#pragma once

#include "App/PaneControllers.h"
#include "Platform/UI/TextEditingDelegate.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/UIForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class BRWColoredView;
class Bookmark;
class DataManager;
class ImageBox;
class KestoTitleTextView;
class KestoURLTextView;
class PushButton;
class TextLabel;

// The inspector's views.
struct EditorViews {
  std::shared_ptr<ui::SegmentedControl> segmentedControl;
  std::shared_ptr<ui::View> infoPanel, editPanel;
  std::shared_ptr<TextLabel> indexField, noSelectionLabelEdit, noSelectionLabelInfo, titleInfo, urlInfo, notesInfo,
      tagsInfoField, folderField, addedDate, lastUpdated, lastVisited, importedDate, timesVisited, importedFrom;
  std::vector<std::shared_ptr<ui::View>> captions;
  // The application's own title and address views: Return ends the edit and saves it.
  std::shared_ptr<KestoTitleTextView> title;
  std::shared_ptr<KestoURLTextView> url;
  std::shared_ptr<ui::TextField> notes, loginField, passwordField;
  std::shared_ptr<ui::LevelIndicator> rating;
  std::shared_ptr<ui::TokenField> tags;
  std::shared_ptr<ui::PopUpButton> colorButton;
  std::shared_ptr<PushButton> favoriteButton, passwordButton, folderButton;
  // The thumbnail chosen from a file (the button chooses another) and the button that removes
  // it, shown only while the thumbnail was set by hand.
  std::shared_ptr<PushButton> thumbnailButton, deleteThumbnailButton;
  std::shared_ptr<ImageBox> favicon;
  // The message strips, one over each tab, and their texts.
  std::shared_ptr<BRWColoredView> progressView1, progressView2;
  std::shared_ptr<TextLabel> progressLabel1, progressLabel2;
};

// The inspector in the right pane: the selected bookmark's details on an info tab and its
// editable fields on an edit tab. Every edit is written into the selected bookmarks and saved
// at once (there is no save button); several selected bookmarks are edited together where that
// makes sense (notes, rating, colour, tags). Main thread only.
class EditorController : public InspectorController, public ui::TextEditingDelegate {
 public:
  EditorController();
  ~EditorController() override;
  EditorController(const EditorController&) = delete;
  EditorController& operator=(const EditorController&) = delete;

  std::shared_ptr<ui::View> view() override { return view_; }
  void setDataManager(DataManager* dataManager) override { kestoData_ = dataManager; }
  void setFoldersController(FoldersController* controller) override { foldersController_ = controller; }
  void awakeFromNib() override;

  // Its views, made by the constructor: the fields, labels and buttons of both tabs.
  const EditorViews& views() const { return views_; }
  // The folder of the bookmark shown, which "go to folder" selects.
  const std::string& currentFolderID() const { return currentFolderID_; }

  // Display.
  void updateView();
  void clearInspectorFields();
  void toggleFields(bool show);
  void clearInspectorFieldsAndToggle();
  void selectTab(int index);
  void updateFavoriteImage(bool favorite);
  void updateColorButton(const std::string& color);
  void gotoFolder();
  // Both strips show the message; each message hides them after its own seconds (a later
  // message is not cut short by an earlier one's time).
  void showProgressView(const std::string& message, double seconds);
  void hideProgressView();
  // What the thumbnail buttons do: choose a file for the current bookmark, remove its thumbnail.
  void setThumbnailActions(std::function<void()> choose, std::function<void()> remove) override;

  // Edits.
  void updateNotes();
  void updateRating();
  void updateColor();
  void updateFavorite();
  void updateTitle();
  void updateURL();
  void updateLogin();
  void updatePassword();
  void copyPassword();
  void updateTags();
  // Tag names for the tags field (prefix, ignoring case and diacritics), or folder paths for a
  // folder field (tag > 0, anywhere in the path).
  std::vector<std::string> completionsForSubstring(const std::string& substring, int fieldTag) const;

  // Leaving a field stores what was typed, as Return does.
  void controlTextDidEndEditing(ui::Control& control) override;
  // Escape in a field ends its edit there, keeping the text as it stands.
  bool controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) override;

  static const std::vector<std::string>& colorNames();

 private:
  void build();
  // The thumbnail button's picture and the delete button, for a thumbnail set by hand or none.
  void showManualThumbnail(const std::optional<fnd::Data>& thumbnail);
  std::vector<ui::TextControl*> textControls() const;
  // The bookmark the fields show, and the bookmarks of a bulk edit: what an edit stores into,
  // also when the list's selection has already moved on. Only those still in the library.
  std::shared_ptr<Bookmark> shownBookmark() const;
  std::vector<std::shared_ptr<Bookmark>> shownBookmarks() const;
  // What an edit that may apply to several bookmarks changes: the one shown, or else those of a
  // bulk edit.
  std::vector<std::shared_ptr<Bookmark>> bulkTargets() const;
  // After an edit: the sidebar's lists, the list's cells and both tabs show the new values.
  void editDone();
  // Ends the edit under way in a field when the fields are about to show other bookmarks.
  void endEditingBefore(const std::shared_ptr<Bookmark>& current, const std::vector<std::shared_ptr<Bookmark>>& several);
  // Whether a refill leaves the field alone: the user is typing into it for the bookmarks shown.
  bool keepsTyping(const ui::TextControl& control) const;
  void refill(ui::TextControl& control, const std::string& text);
  DataManager* kestoData_ = nullptr;
  FoldersController* foldersController_ = nullptr;
  EditorViews views_;
  std::string currentFolderID_;
  std::uint64_t messageGeneration_ = 0;
  std::function<void()> chooseThumbnail_, removeThumbnail_;
  std::shared_ptr<ui::View> view_;
  std::vector<std::shared_ptr<ui::View>> detailViews_;
  std::weak_ptr<Bookmark> shown_;
  std::vector<std::weak_ptr<Bookmark>> shownSeveral_;
  // Set while the fields are filled or cleared (which stores nothing) and while an edit's own
  // refresh runs (which shows what was stored, in the field just edited too).
  bool filling_ = false, storing_ = false;
};

}  // namespace kesto
