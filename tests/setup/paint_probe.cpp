// Child process of the page tests: a process reads its DPI when it starts,
// so each DPI gets a run of its own. It opens the dialog's window, paints
// every page and writes what the window shows:
//   paint_probe OUTDIR     OUTDIR\dpi.txt ("dpi") and OUTDIR\<page>.bmp
#include <windows.h>

#include <cstdio>
#include <string>

#include "paint_fixture.h"

using namespace paint_test;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring out = argv[1];
    PaintDlg dlg;
    dlg.Open();
    struct Shot {
        const wchar_t* name;
        Page page;
        int percent;
    };
    const Shot shots[] = {
        {L"ready", Page::Ready, 0},         {L"download_0", Page::Download, 0},
        {L"download_37", Page::Download, 37}, {L"download_100", Page::Download, 100},
        {L"install_0", Page::Install, 0},   {L"install_37", Page::Install, 37},
        {L"install_100", Page::Install, 100}, {L"finished", Page::Finished, 0},
        {L"failed", Page::Failed, 0},
    };
    for (const Shot& shot : shots) {
        dlg.Show(shot.page, shot.percent);
        dlg.OnPaint();
        Pump(30);
        if (!SaveBmp(CaptureWindow(dlg.wnd()), out + L"\\" + shot.name + L".bmp")) return 3;
    }
    FILE* f = _wfopen((out + L"\\dpi.txt").c_str(), L"w");
    if (!f) return 4;
    fprintf(f, "%d\n", dlg.GetDpi());
    fclose(f);
    // End at once: after windows were shown, Wine's unloading can stall.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
