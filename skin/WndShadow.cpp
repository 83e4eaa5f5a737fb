#include "WndShadow.h"

// The shadow is not drawn yet: without the layered window the dialog simply
// has no shadow, as on a system that lacks layered windows.
bool CWndShadow::Initialize(HINSTANCE) { return false; }

void CWndShadow::Create(HWND, bool) {}
