#pragma once

#include "Platform/UI/UIForward.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

// Why a combination cannot be used: the texts of the alert the recorder shows.
struct KRError {
  std::string description;         // the alert's message
  std::string recoverySuggestion;  // its informative text
  std::vector<std::string> recoveryOptions{"OK"};
};

class KRValidator;

class KRValidatorDelegate {
 public:
  virtual ~KRValidatorDelegate() = default;
  // True when the combination (Cocoa flags) is taken; `reason` may say why ("it's the other
  // recorder's").
  virtual bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator& validator, long keyCode, std::uint64_t cocoaFlags,
                                                       std::string& reason) {
    return false;
  }
};

// Decides whether a typed combination is taken: by the delegate, then by the desktop (another
// program or the desktop's own shortcuts hold it: a trial grab is refused), then by a key
// equivalent of the application's main menu.
class KRValidator {
 public:
  explicit KRValidator(KRValidatorDelegate* delegate = nullptr) : delegate_(delegate) {}
  KRValidatorDelegate* delegate() const { return delegate_; }
  void setDelegate(KRValidatorDelegate* delegate) { delegate_ = delegate; }

  bool isKeyCodeAndFlagsTaken(long keyCode, std::uint32_t carbonFlags, std::optional<KRError>* error = nullptr);
  bool isKeyCodeAndFlagsTakenInMenu(long keyCode, std::uint32_t carbonFlags, const ui::Menu* menu,
                                    std::optional<KRError>* error = nullptr);

 private:
  KRValidatorDelegate* delegate_;
};

// The alert for a refused combination: its message, its one button and the explanation as
// informative text; an empty alert with the default button when there is no error.
ui::Alert alertWithNonRecoverableError(const std::optional<KRError>& error);

}  // namespace kesto
