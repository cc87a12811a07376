#include "Views/ImageNamed.h"

namespace kesto {

ui::Image imageNamed(const std::string& name) { return ui::Image::named(name); }

}  // namespace kesto
