#include "Views/Unused/KestoLabel.h"

namespace kesto {

void KestoLabel::awakeFromNib() { setFont(ui::Font{std::string(), font().pointSize, false, false}); }
void KestoLabelBold::awakeFromNib() { setFont(ui::Font{std::string(), font().pointSize, true, false}); }

}  // namespace kesto
