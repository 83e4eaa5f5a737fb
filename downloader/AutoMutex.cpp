#include "AutoMutex.h"

#include "Log.h"

AutoMutex::AutoMutex(HANDLE mutex) : mutex_(mutex) {
    if (!mutex_) return;
    DWORD r = WaitForSingleObject(mutex_, kWaitLimitMs);
    owned_ = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
    if (!owned_) WriteLog("AutoMutex : wait failed (%lu).\n", static_cast<unsigned long>(r));
}

AutoMutex::~AutoMutex() {
    if (mutex_ && owned_) ReleaseMutex(mutex_);
}

HANDLE CreateDownloadFileMutex() { return CreateMutexA(nullptr, FALSE, "Download_File"); }
