// Top-level windows as the desktop shows them.
//
// Titles: a window manager cuts a title that does not fit its title bar ("Clear Ship... nt Entries").
// With title fitting installed, every window and dialog is made at least as wide as its title needs,
// buttons and icon of the title bar included, when it is shown (message boxes too).
//
// Painting before work: a window shown just before a long piece of work on the user-interface thread
// is painted only once the window system has put it on screen (exposed it); until then its frame and
// title show and its inside stays blank. showPainted waits for that, within a short limit, and paints.
#pragma once

#include <QString>

class QWidget;

namespace tarvik {

// Width a window needs for its title to be read in full in a title bar: the title in a bold font
// (title bars are drawn bold), the window icon and three title-bar buttons.
int titleWidthNeeded(const QString& title);

// Installs title fitting for every window of the application (once; further calls do nothing).
void installTitleFitting();

// Shows window (not modal), waits until the window system has exposed it, at most limitMs
// milliseconds, and paints it at once. True when it was exposed within the limit.
bool showPainted(QWidget* window, int limitMs = 1000);

}  // namespace tarvik
