#include "Views/ImageNamed.h"

#include "Platform/UI/Color.h"

#include <map>

namespace kesto {

namespace {

ui::Color colourForName(const std::string& name) {
  static const std::map<std::string, ui::Color> known = {
      {"bookmark_green", ui::Color::rgb(0.30, 0.70, 0.30)},  {"bookmark_grey", ui::Color::white(0.55)},
      {"bookmark_blue", ui::Color::rgb(0.20, 0.45, 0.85)},   {"bookmark_orange", ui::Color::rgb(0.95, 0.55, 0.15)},
      {"bookmark_red", ui::Color::rgb(0.85, 0.20, 0.20)},    {"bookmark_yellow", ui::Color::rgb(0.95, 0.85, 0.20)},
      {"bookmark_warning", ui::Color::rgb(0.95, 0.70, 0.0)}, {"bookmark_favorite_selected", ui::Color::rgb(0.95, 0.75, 0.1)},
      {"pinboard", ui::Color::rgb(0.15, 0.35, 0.75)},        {"delicious", ui::Color::rgb(0.2, 0.4, 0.9)},
  };
  auto it = known.find(name);
  if (it != known.end()) return it->second;
  // A stable colour for every other name.
  unsigned h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return ui::Color::rgb(0.25 + (h & 0xff) / 512.0, 0.25 + ((h >> 8) & 0xff) / 512.0, 0.25 + ((h >> 16) & 0xff) / 512.0);
}

}  // namespace

ui::Image imageNamed(const std::string& name) {
  if (name.empty()) return ui::Image();
  static std::map<std::string, ui::Image> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  // A square swatch; "_selected" variants are opaque, the others lighter, so the state shows.
  ui::Color colour = colourForName(name);
  bool selected = name.size() > 9 && name.compare(name.size() - 9, 9, "_selected") == 0;
  ui::Image result(32, 32, selected ? colour : colour.withAlpha(0.6));
  cache.emplace(name, result);
  return result;
}

}  // namespace kesto
