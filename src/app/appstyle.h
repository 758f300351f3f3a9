// The look of the program: Fusion with a flat, light palette and flat menus and tabs.
#pragma once

class QApplication;

namespace tarvik {

// Sets the application's title ("Incentive Model") and its style. Called once by the program entry,
// before the main window is created.
void setupApplication(QApplication& app);

// The style sheet of the flat look (menus, menu bar, tabs, buttons).
const char* flatStyleSheet();

}  // namespace tarvik
