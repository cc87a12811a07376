#pragma once

#include "Platform/UI/Action.h"

#include <memory>
#include <vector>

namespace kesto {

// The menu bar's commands with the title and key equivalent of each, in one place. What a
// command does, and whether it can now, is answered by its receiver along the responder chain
// (the list, the search, the application, the window) or by the target its item is given.
const std::vector<ui::Action>& menuBarActions();

// The menu bar's action for a command it holds; a command it does not hold is a programming
// error.
const ui::Action& menuBarAction(ui::Command command);

// Makes the command's item and adds it to `menu`.
std::shared_ptr<ui::MenuItem> addMenuBarItem(ui::Menu& menu, ui::Command command);

}  // namespace kesto
