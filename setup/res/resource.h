// Resource ids of the installer.
#pragma once

#define IDD_MAIN_DIALOG 130
