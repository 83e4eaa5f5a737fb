#include "SetupDlg.h"

#include <cmath>

unsigned RenderThreadProc(SetupDlg*) { return 0; }
void SetupDlg::RenderLoop() {}
void SetupDlg::RenderLogoFrame() {}
void SetupDlg::RenderRippleFrame() {}
void SetupDlg::RenderFinishFrame() {}
void SetupDlg::DrawProgressWipe() {}
double Distance(int32_t dx, int32_t dy) { return std::sqrt(static_cast<double>(dx * dx + dy * dy)); }
int LerpChannel(int a, int b, double t) { return static_cast<int>((1 - t) * b + t * a); }
uint32_t BlendColor(uint32_t, uint32_t, double) { return 0; }
