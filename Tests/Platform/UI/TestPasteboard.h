#pragma once

#include "Platform/UI/Pasteboard.h"

#include <string>

namespace kesto::test {

// An item carrying one link and its title, as a browser puts a link on the pasteboard.
inline ui::PasteboardItem linkItem(const std::string& url, const std::string& title) {
  ui::PasteboardItem item;
  item.setURL(url, title);
  return item;
}

}  // namespace kesto::test
