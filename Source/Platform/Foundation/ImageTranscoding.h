#pragma once

#include "Platform/Foundation/Value.h"

#include <functional>
#include <optional>

namespace kesto::fnd {

// Image data of any format the toolkit reads, re-encoded as PNG. The codecs belong to the widget
// layer, which installs them here when its application starts (the widget test suites do so
// too), so that layers storing images need not link it. Safe from any thread.
using PNGTranscoder = std::function<Data(const Data& encoded)>;
void setPNGTranscoder(PNGTranscoder transcoder);

// The data as PNG, empty when it holds no image; nullopt when no transcoder is installed.
std::optional<Data> transcodeToPNG(const Data& encoded);

}  // namespace kesto::fnd
