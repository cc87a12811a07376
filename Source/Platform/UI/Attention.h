#pragma once

namespace kesto::ui {

class Window;

// Shows a window that work ending in the background opens, called by no command of the user's:
// while the program has the focus, as Window::makeKeyAndOrderFront; while another program has
// it, the window shows without taking the keys and asks for the user's attention (the window
// manager's urgency), and takes them, in front, when the user comes back to the program.
// Alerts do the same by themselves.
void makeKeyAndOrderFrontOrAskForAttention(Window& window);

}  // namespace kesto::ui
