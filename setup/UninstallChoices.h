// What the user chose for an uninstall, read once on the window's thread when
// Uninstall is pressed and handed to the uninstall road, which never reads a
// control.
#pragma once

struct UninstallChoices {
    bool keepConfiguration = false;  // the keep-configurations box, as it showed
    bool silent = false;
};
