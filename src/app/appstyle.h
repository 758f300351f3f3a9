// The look of the program: Fusion with a flat, light palette and flat menus and tabs.
#pragma once

class QApplication;
class QPalette;

namespace tarvik {

// Sets the application's title ("Incentive Model") and its style. Called once by the program entry,
// before the main window is created.
void setupApplication(QApplication& app);

// The program's palette on the style's standard one: light and flat, disabled controls greyed.
QPalette applicationPalette(const QPalette& standard);

// The style sheet of the flat look (menus, menu bar, tabs, buttons).
const char* flatStyleSheet();

}  // namespace tarvik
