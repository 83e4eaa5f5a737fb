#include "AutoMutex.h"

#include <atomic>

#include "Log.h"

namespace {

std::atomic<DWORD> g_waitLimitMs{AutoMutex::kWaitLimitMs};

// The handle this thread holds through an outer AutoMutex, and how deep.
// Win32 mutexes are recursive, so an inner lock on the same handle needs no
// trip to the kernel (a round trip to the server under Wine).
thread_local HANDLE t_held = nullptr;
thread_local int t_depth = 0;

}  // namespace

DWORD AutoMutex::WaitLimit() { return g_waitLimitMs.load(); }

void AutoMutex::SetWaitLimitForTests(DWORD ms) { g_waitLimitMs = ms; }

AutoMutex::AutoMutex(HANDLE mutex, DWORD waitMs) : mutex_(mutex) {
    if (!mutex_) return;
    if (t_held == mutex_) {
        ++t_depth;
        owned_ = nested_ = true;
        return;
    }
    DWORD r = WaitForSingleObject(mutex_, waitMs);
    owned_ = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
    if (!owned_) {
        WriteLog("AutoMutex : wait failed (%lu).\n", static_cast<unsigned long>(r));
    } else if (!t_held) {
        t_held = mutex_;
        t_depth = 1;
        outermost_ = true;
    }
}

AutoMutex::~AutoMutex() {
    if (!mutex_ || !owned_) return;
    if (nested_) {
        --t_depth;
        return;
    }
    if (outermost_) {
        t_held = nullptr;
        t_depth = 0;
    }
    ReleaseMutex(mutex_);
}

HANDLE CreateDownloadFileMutex() { return CreateMutexA(nullptr, FALSE, "Download_File"); }
