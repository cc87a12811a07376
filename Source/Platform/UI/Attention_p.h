#pragma once

// Private to the UI layer: a window or dialog that opens while another program has the focus
// (work that ended in the background, a message of a job the user started earlier) is shown
// without taking the keys and asks for the user's attention; it takes them once the user comes
// back to the program.

class QWidget;
class QWindow;

namespace kesto::ui::attention {

// Whether one of the program's windows has the desktop's focus. Under X11 the server says, at
// this moment: focus events still queued for the program are not waited for. Elsewhere, where
// nothing tells, the answer is yes and windows come forward as before.
bool programHasFocus();

// Before a window is shown without the focus: it takes none from the desktop, not even from a
// window manager that focuses every window it maps, until it is on screen.
void showWithoutFocus(QWidget& window);

// After it is shown: the window asks for attention (the window manager's urgency), and comes to
// the user, in front and with the keys, when the focus comes back to one of the program's
// windows.
void askForAttention(QWidget& window);

// Shows a modal dialog (its modality set) while another program has the focus, after
// showWithoutFocus. The toolkit asks the window manager to activate every modal window it shows,
// and some window managers do so whatever the window's hints say: they take the user to its
// desktop, or raise it with the window it belongs to. So the dialog is shown without the
// toolkit's modality, for as long as it is open, and asks for attention; the windows it blocks
// take no input from the user meanwhile, and a click on one brings the dialog.
void showHeld(QWidget& dialog);

// The dialog that showHeld showed last and that is still open, if any.
QWidget* heldDialog();

// The modal dialog that blocks the program: the toolkit's, else the one held.
QWidget* modalDialog();

// The focus came back to the program: the window that asked for attention last, still shown,
// comes in front and takes the keys.
void bringWaitingToUser();

// For its next showing the window takes no focus, until it is on screen (or hidden before that):
// some window managers focus every window they map unless it takes no focus at all.
void takeNoFocusUntilShown(QWindow& window);

}  // namespace kesto::ui::attention
