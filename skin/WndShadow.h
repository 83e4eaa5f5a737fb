// The layered drop shadow around a dialog.
#pragma once

#include <windows.h>

class CWndShadow {
public:
    // Prepares the layered-window functions and registers the shadow class.
    static bool Initialize(HINSTANCE instance);
    // Attaches the shadow to parent on the first call; later calls do nothing.
    void Create(HWND parent, bool show);
};
