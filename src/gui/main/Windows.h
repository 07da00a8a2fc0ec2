#pragma once
// The windows the main window's menus and the USB selection dialog open, put into the
// application's openers. A window missing from a build leaves its opener empty, and the
// menu item that opens it disabled.

namespace pemra {

class Application;

void RegisterWindows(Application& app);

}  // namespace pemra
