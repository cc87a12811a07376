#pragma once

#include "Platform/UI/Image.h"

#include <string>

namespace kesto {

// The shortcut recorder's button images, drawn in code and kept once made: "KRSnapback" (a white
// arrow pointing back) and "KRRemoveShortcut" with its "Rollover" and "Pressed" looks (a dark
// circle, darker for each, with a white cross), each 14 by 14 points and sharp at any size.
class KRSharedImageProvider {
 public:
  static constexpr double kSize = 14;
  // A null image for any other name.
  static ui::Image supportingImageWithName(const std::string& name);
};

}  // namespace kesto
