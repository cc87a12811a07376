#pragma once

#include "Platform/UI/Color.h"
#include "Platform/UI/UIForward.h"

namespace kesto {

// The look of the sheets' text controls: a dark rounded box with a lighter border, drawn by
// the view's layer under a control that draws no background or frame of its own.
void applyDarkRoundedLook(ui::View& view);

// The desktop's light grey the placeholders of the dark fields use.
inline ui::Color systemLightGrey() { return ui::Color::white(2.0 / 3.0); }
// The text on the dark fields.
inline ui::Color darkLookTextColor() { return ui::Color::white(0.92); }

}  // namespace kesto
