#pragma once

#include "Platform/UI/TextControl.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

// Text that becomes tokens (tags): typing a comma, Return or Tab, or leaving the field, turns
// what was typed into a token drawn as a rounded capsule; Backspace with nothing typed removes
// the last token. Suggestions for what is being typed come from the completion hook.
class TokenField : public TextControl {
 public:
  explicit TokenField(const fnd::Rect& frame = fnd::Rect());

  const std::vector<std::string>& tokens() const { return tokens_; }
  void setTokens(std::vector<std::string> tokens);
  // The tokens joined by ", " (what was typed but not yet a token is left out).
  std::string stringValue() const override;
  // Split at commas; blank pieces are dropped.
  void setStringValue(const std::string& text) override;
  std::string pendingText() const;

  void setCompletionHook(std::function<std::vector<std::string>(const std::string& prefix)> hook);
  std::string placeholderString() const { return placeholder_; }
  void setPlaceholderString(const std::string& text);
  void setPlaceholderColor(std::optional<Color> color);
  void setTextColor(std::optional<Color> color);
  void setDrawsBackground(bool draws);

  // Turns the typed text into tokens now; answers whether any were made.
  bool tokenizePendingText();
  // Where token `index` is drawn, in the view's coordinates (empty when out of range).
  fnd::Rect rectOfToken(size_t index) const;

  void keyDown(const Event& event) override;

 protected:
  void applyReadOnly(bool readOnly) override;
  void widgetDidLoseFocus() override;

 private:
  void tokensChanged();
  std::vector<std::string> tokens_;
  std::string placeholder_;
};

}  // namespace kesto::ui
