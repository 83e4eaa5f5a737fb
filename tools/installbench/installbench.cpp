// installbench: one install road on a real dialog object, timed by phase.
// The program carries the manifest of the package to fetch (resource 501)
// and installs into the folder given as its argument. It prints the
// milliseconds of: download (Install to the last byte written), verify (to
// the engine's end event), the worker's fixed pauses, extract, product steps
// (shortcuts, product step, registration).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "IDownloader.h"
#include "JFile.h"
#include "Log.h"
#include "Orvane.h"

namespace {

std::atomic<DWORD> g_extractStart{0}, g_extractEnd{0};

class TimedDialog : public Orvane {
public:
    int InstallFile(std::wstring package, std::wstring folder) override {
        g_extractStart = GetTickCount();
        const int result = Orvane::InstallFile(package, folder);
        g_extractEnd = GetTickCount();
        return result;
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: installbench INSTALL_FOLDER LOG_FILE\n");
        return 2;
    }
    GetLog()->Init(argv[2]);
    TimedDialog dlg;
    CreateDirectories(argv[1]);
    dlg.SetInstallFolder(argv[1]);
    dlg.eInstall = E_Install_Working;

    std::atomic<bool> done{false};
    std::atomic<DWORD> lastByte{0}, endEvent{0};
    std::thread watch([&] {
        while (!done) {
            DownloadProgress progress;
            if (!lastByte && dlg.CopyDownloadProgress(progress) && progress.fileSize &&
                progress.written >= progress.fileSize)
                lastByte = GetTickCount();
            if (!endEvent && g_bDownloadDone) endEvent = GetTickCount();
            Sleep(5);
        }
    });
    const DWORD start = GetTickCount();
    dlg.DoInstall();
    const DWORD end = GetTickCount();
    done = true;
    watch.join();

    const bool ok = dlg.eInstall == E_Install_Finished && g_extractEnd != 0;
    const DWORD last = lastByte ? lastByte.load() : endEvent.load();
    printf("result      : %s\n", ok ? "finished page" : "failed");
    printf("download ms : %lu\n", static_cast<unsigned long>(last - start));
    printf("verify ms   : %lu\n", static_cast<unsigned long>(endEvent - last));
    printf("pauses ms   : %lu (the worker's fixed 2 s + 1 s and its once-a-second poll)\n",
           static_cast<unsigned long>(g_extractStart - endEvent));
    printf("extract ms  : %lu\n", static_cast<unsigned long>(g_extractEnd - g_extractStart));
    printf("product ms  : %lu (shortcuts, product step, registration)\n",
           static_cast<unsigned long>(end - g_extractEnd));
    printf("total ms    : %lu\n", static_cast<unsigned long>(end - start));
    return ok ? 0 : 1;
}
