// Process-wide texts of the installer that the dialog's code reads; defined
// in the library so every program linking the dialog (the installer and its
// tests) has them.
#include "SetupApp.h"

std::string VersionText;
std::string ProcessGuid;
