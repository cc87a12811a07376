#pragma once

#include "Platform/UI/Pasteboard.h"

#include <string>

namespace kesto::test {

// A pasteboard item holding a link and the title shown for it.
inline ui::PasteboardItem linkItem(const std::string& url, const std::string& title) {
  ui::PasteboardItem item;
  item.setURL(url, title);
  return item;
}

}  // namespace kesto::test
