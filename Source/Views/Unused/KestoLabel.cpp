#include "Views/Unused/KestoLabel.h"

namespace kesto {

void KestoLabel::awakeFromNib() { setFont(ui::Font{std::string(), font().pointSize, isBold(), false}); }

}  // namespace kesto
