// What the user chose for an install, read once on the window's thread when
// Install is pressed and handed to the install road, which never reads a
// control.
#pragma once

#include <string>

struct InstallChoices {
    std::wstring folder;    // the folder the Install trigger accepted
    bool desktop = false;   // the desktop box, as it showed
    bool join = false;      // the join box, as it showed
    int cfgFlag = -1;       // bit 1 desktop shortcut, bit 2 join programme
    bool silent = false;
};
